#pragma once

// The architecture of the machine tolvo runs on, and what it decides about
// container runs: a container of another architecture runs under CPU
// emulation.

#include <string>
#include <string_view>

namespace tolvo::wheel {

/// A machine name as uname(2) reports it, in the naming of the wheel tags:
/// "arm64" becomes "aarch64", "amd64" "x86_64", "i386" to "i586" "i686",
/// "armv8l" (a 32-bit process on a 64-bit ARM kernel) "armv7l"; any other
/// name is returned unchanged.
std::string normalize_machine(std::string_view machine);

/// The host's architecture, read with uname(2) and normalised. Throws
/// SystemError when uname fails.
std::string host_architecture();

/// Whether a container for `target_arch` needs the emulation registration
/// on a host of `host_arch`: for every architecture but the host's own.
bool needs_emulation(std::string_view target_arch, std::string_view host_arch);

} // namespace tolvo::wheel
