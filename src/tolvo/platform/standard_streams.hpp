#pragma once

// Standard streams that the tool was started without. A closed descriptor
// 0, 1 or 2 is the lowest free number, so the next descriptor the tool
// opened for itself (the signal pipe, a lock file, a pipe to a child) would
// take it, and what was meant for the stream would go there instead.

namespace tolvo::platform {

/// Puts a stand-in on each of descriptors 0, 1 and 2 that is closed: the
/// null device opened for reading only, so that reading it gives end of
/// input and writing it fails with EBADF, as on the closed descriptor. A
/// child inherits the stand-in and finds the stream just as closed. Call
/// before anything else opens a descriptor.
void hold_closed_standard_streams() noexcept;

} // namespace tolvo::platform
