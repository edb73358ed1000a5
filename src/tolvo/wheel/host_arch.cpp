#include "tolvo/wheel/host_arch.hpp"

#include "tolvo/errors.hpp"

#include <array>
#include <cerrno>
#include <cstring>
#include <sys/utsname.h>
#include <utility>

namespace tolvo::wheel {

std::string normalize_machine(std::string_view machine)
{
  // Other systems, and some Linux distributions' tools, name the same
  // machines differently; the wheel tags have one name each.
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> ALIASES{{
    {"arm64", "aarch64"},
    {"amd64", "x86_64"},
    {"i386", "i686"},
    {"i486", "i686"},
    {"i586", "i686"},
    {"armv8l", "armv7l"},
  }};
  for (const auto& [alias, name] : ALIASES) {
    if (machine == alias) {
      return std::string(name);
    }
  }
  return std::string(machine);
}

std::string host_architecture()
{
  struct utsname names
  {};
  if (::uname(&names) != 0) {
    const int number = errno;
    throw SystemError(std::string("uname: ") + std::strerror(number), number);
  }
  return normalize_machine(names.machine);
}

bool needs_emulation(std::string_view target_arch, std::string_view host_arch)
{
  return target_arch != host_arch;
}

} // namespace tolvo::wheel
