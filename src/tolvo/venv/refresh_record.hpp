#pragma once

// The small record that the when-needed refresh keeps inside the
// environment: what it learnt from the environment's interpreter (its
// marker values and site path), when pip was last upgraded, and the state
// of each project's build inputs and work tree at its last editable install.
// Tied to the interpreter: a record made for another pyvenv.cfg, another
// interpreter file (replaced, or reached through another link), or under other
// variables that move the site path, is worth nothing.

#include "tolvo/venv/interpreter_facts.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::venv {

struct RefreshRecord
{
  /// environment_tie() of the environment the record was made for.
  std::string tie;
  /// Seconds since the epoch of the last "Upgrading pip" that tolvo ran.
  std::optional<std::int64_t> pip_upgraded;
  std::optional<InterpreterFacts> interpreter;
  /// Project directory -> project_fingerprint() at its last editable install.
  std::map<std::string, std::string> projects;
  /// Project directory -> work_tree_head() at that install.
  std::map<std::string, std::string> heads;

  bool operator==(const RefreshRecord&) const = default;
};

/// The record's file inside the environment directory.
inline constexpr std::string_view RECORD_FILE = "tolvo-refresh-record";

/// The record as text: a version line, then one line per item.
std::string format_record(const RefreshRecord& record);

/// The record in `text`; none for another version, any malformed line or
/// a value out of range (a hash that is not 16 hex digits, a time that is
/// not a plain count of seconds).
std::optional<RefreshRecord> parse_record(std::string_view text);

/// A short hash of `pyvenv_cfg`, the interpreter's identity and `variables`
/// (name, then value or none).
std::string environment_tie(std::string_view pyvenv_cfg, std::string_view interpreter,
                            const std::vector<std::pair<std::string, std::optional<std::string>>>& variables);

/// The tie of the environment at `venv_path` under the tool's own
/// environment variables; none without a readable pyvenv.cfg or an
/// interpreter that can be resolved.
std::optional<std::string> current_tie(const std::string& venv_path);

/// The record of the environment at `venv_path`, when there is a valid one
/// made for it as it is now.
std::optional<RefreshRecord> load_record(const std::string& venv_path);

/// Writes the record (through a temporary file and a rename).
void save_record(const std::string& venv_path, const RefreshRecord& record);

/// Removes the record, if there is one.
void forget_record(const std::string& venv_path);

} // namespace tolvo::venv
