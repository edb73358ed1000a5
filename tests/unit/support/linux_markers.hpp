#pragma once

// The marker values of a CPython 3.11 on x86_64 Linux, for judgements that
// need an interpreter without starting one (unit tests and benchmarks).

#include "tolvo/config/packaging/marker.hpp"

namespace tolvo::testing {

inline const config::MarkerEnvironment LINUX_CPYTHON_311 = {
  {"implementation_name", "cpython"},
  {"implementation_version", "3.11.7"},
  {"os_name", "posix"},
  {"platform_machine", "x86_64"},
  {"platform_python_implementation", "CPython"},
  {"platform_release", "6.1.0"},
  {"platform_system", "Linux"},
  {"platform_version", "#1 SMP"},
  {"python_full_version", "3.11.7"},
  {"python_version", "3.11"},
  {"sys_platform", "linux"},
};

} // namespace tolvo::testing
