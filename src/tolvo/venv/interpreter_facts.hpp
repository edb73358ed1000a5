#pragma once

// What the environment's interpreter reports about itself, learnt once by
// running it and then kept in the refresh record, so that an in-sync run
// starts no interpreter before the tests.

#include "tolvo/config/packaging/marker.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::venv {

/// What the environment's interpreter reports about itself.
struct InterpreterFacts
{
  /// Every PEP 508 marker variable but `extra`.
  config::MarkerEnvironment markers;
  /// The directories of sys.path that hold distributions, in order.
  std::vector<std::string> site_path;
  /// Directories that would join the site path once they exist (the user
  /// site); while one exists, the facts are stale.
  std::vector<std::string> watched;

  bool operator==(const InterpreterFacts&) const = default;
};

/// The program `python -c` runs to report the facts, NUL-separated.
extern const char* const INTERPRETER_FACTS_SCRIPT;

/// The facts in the script's output; none unless every marker variable is there.
std::optional<InterpreterFacts> parse_interpreter_facts(std::string_view output);

/// Adds one item, "marker NAME VALUE", "site PATH" or "watch PATH"; false
/// for anything else.
bool add_interpreter_fact(InterpreterFacts& facts, std::string_view item);

/// Whether every marker variable but `extra` has a value.
bool has_every_marker(const InterpreterFacts& facts);

/// Which interpreter file `python` starts: its symbolic links resolved, and
/// that file's size, modification time (ns), inode and device. A replaced
/// interpreter, even one of the same version at the same path, gives
/// another identity. None when it cannot be resolved.
std::optional<std::string> interpreter_identity(const std::string& python);

} // namespace tolvo::venv
