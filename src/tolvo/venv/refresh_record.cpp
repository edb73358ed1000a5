#include "tolvo/venv/refresh_record.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/read_file.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace tolvo::venv {

namespace {

constexpr std::string_view VERSION_LINE = "tolvo refresh record 1";

// Variables that move the interpreter's site path (or the user site in it).
constexpr std::array<const char*, 6> TIE_VARIABLES = {"PYTHONPATH",     "PYTHONHOME",     "PYTHONNOUSERSITE",
                                                      "PYTHONUSERBASE", "PYTHONSAFEPATH", "HOME"};

constexpr std::array<std::string_view, 3> PROJECT_FILES = {"pyproject.toml", "setup.py", "setup.cfg"};

// FNV-1a, 64 bits: the record detects change, it guards against no one.
class Hash
{
public:
  void add(std::string_view bytes)
  {
    for (const char c : bytes) {
      m_value = (m_value ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    // A separator, so that ("ab", "c") and ("a", "bc") differ.
    m_value = (m_value ^ 0xffU) * 1099511628211ULL;
  }

  std::string hex() const
  {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(m_value));
    return text;
  }

private:
  std::uint64_t m_value = 14695981039346656037ULL;
};

bool is_hash(std::string_view text)
{
  return text.size() == 16 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// A count of seconds as format_record writes it: digits only, few enough
// that no arithmetic on it overflows.
std::optional<std::int64_t> parse_seconds(std::string_view text)
{
  if (text.empty() || text.size() > 15 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  std::int64_t seconds = 0;
  for (const char digit : text) {
    seconds = seconds * 10 + (digit - '0');
  }
  return seconds;
}

std::string record_path(const std::string& venv_path)
{
  return venv_path + "/" + std::string(RECORD_FILE);
}

} // namespace

std::string format_record(const RefreshRecord& record)
{
  std::string text = std::string(VERSION_LINE) + "\ntie " + record.tie + "\n";
  if (record.pip_upgraded) {
    text += "pip-upgraded " + std::to_string(*record.pip_upgraded) + "\n";
  }
  if (record.interpreter) {
    for (const auto& [name, value] : record.interpreter->markers) {
      text += "marker " + name + " " + value + "\n";
    }
    for (const std::string& path : record.interpreter->site_path) {
      text += "site " + path + "\n";
    }
    for (const std::string& path : record.interpreter->watched) {
      text += "watch " + path + "\n";
    }
  }
  for (const auto& [directory, hash] : record.projects) {
    text += "project " + hash + " " + directory + "\n";
  }
  return text;
}

std::optional<RefreshRecord> parse_record(std::string_view text)
{
  if (text.substr(0, VERSION_LINE.size() + 1) != std::string(VERSION_LINE) + "\n") {
    return std::nullopt;
  }
  RefreshRecord record;
  InterpreterFacts facts;
  std::size_t start = VERSION_LINE.size() + 1;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      return std::nullopt;
    }
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t space = line.find(' ');
    const std::string_view key = line.substr(0, space);
    const std::string_view rest = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    if (key == "tie" && is_hash(rest)) {
      record.tie = rest;
    } else if (key == "pip-upgraded") {
      record.pip_upgraded = parse_seconds(rest);
      if (!record.pip_upgraded) {
        return std::nullopt;
      }
    } else if (key == "project") {
      const std::size_t blank = rest.find(' ');
      if (blank == std::string_view::npos || blank + 1 == rest.size() || !is_hash(rest.substr(0, blank))) {
        return std::nullopt;
      }
      record.projects[std::string(rest.substr(blank + 1))] = std::string(rest.substr(0, blank));
    } else if (!add_interpreter_fact(facts, line)) {
      return std::nullopt;
    }
  }
  if (record.tie.empty()) {
    return std::nullopt;
  }
  if (!facts.markers.empty() || !facts.site_path.empty()) {
    if (!has_every_marker(facts)) {
      return std::nullopt;
    }
    record.interpreter = std::move(facts);
  }
  return record;
}

std::string environment_tie(std::string_view pyvenv_cfg, std::string_view interpreter,
                            const std::vector<std::pair<std::string, std::optional<std::string>>>& variables)
{
  Hash hash;
  hash.add(pyvenv_cfg);
  hash.add(interpreter);
  for (const auto& [name, value] : variables) {
    hash.add(name);
    hash.add(value ? "=" + *value : std::string("unset"));
  }
  return hash.hex();
}

std::optional<std::string> current_tie(const std::string& venv_path)
{
  const std::optional<std::string> cfg = platform::read_file_until(venv_path + "/pyvenv.cfg");
  const std::optional<std::string> interpreter = interpreter_identity(venv_path + "/bin/python");
  if (!cfg || !interpreter) {
    return std::nullopt;
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> variables;
  for (const char* name : TIE_VARIABLES) {
    const char* value = std::getenv(name);
    variables.emplace_back(name, value == nullptr ? std::nullopt : std::optional<std::string>(value));
  }
  return environment_tie(*cfg, *interpreter, variables);
}

std::string project_files_hash(const std::string& directory)
{
  Hash hash;
  for (std::string_view name : PROJECT_FILES) {
    hash.add(name);
    const std::optional<std::string> bytes = platform::read_file_until(directory + "/" + std::string(name));
    hash.add(bytes ? "present" : "absent");
    hash.add(bytes ? *bytes : std::string());
  }
  return hash.hex();
}

std::optional<RefreshRecord> load_record(const std::string& venv_path)
{
  const std::optional<std::string> text = platform::read_file_until(record_path(venv_path));
  std::optional<RefreshRecord> record = text ? parse_record(*text) : std::nullopt;
  if (!record || record->tie != current_tie(venv_path)) {
    return std::nullopt;
  }
  return record;
}

void save_record(const std::string& venv_path, const RefreshRecord& record)
{
  for (const auto& [directory, hash] : record.projects) {
    if (directory.find('\n') != std::string::npos) {
      // Not representable; a record without it makes the next run unsure.
      RefreshRecord kept = record;
      kept.projects.erase(directory);
      save_record(venv_path, kept);
      return;
    }
  }
  const std::string path = record_path(venv_path);
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << format_record(record);
    out.flush();
    if (!out) {
      throw SystemError("cannot write '" + temporary + "'", EIO);
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    throw SystemError("cannot rename '" + temporary + "' to '" + path + "': " + std::strerror(error), error);
  }
}

void forget_record(const std::string& venv_path)
{
  const std::string path = record_path(venv_path);
  if (std::remove(path.c_str()) != 0 && errno != ENOENT) {
    const int error = errno;
    throw SystemError("cannot remove '" + path + "': " + std::strerror(error), error);
  }
}

} // namespace tolvo::venv
