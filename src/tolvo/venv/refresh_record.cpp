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

// Every variable an installer evaluates markers with, `extra` aside.
constexpr std::array<std::string_view, 11> MARKER_VARIABLES = {
  "implementation_name", "implementation_version", "os_name",          "platform_machine",
  "platform_python_implementation", "platform_release", "platform_system", "platform_version",
  "python_full_version", "python_version",          "sys_platform",
};

// Variables that move the interpreter's site path (or the user site in it).
constexpr std::array<const char*, 6> TIE_VARIABLES = {"PYTHONPATH",     "PYTHONHOME", "PYTHONNOUSERSITE",
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

bool is_marker_variable(std::string_view name)
{
  for (std::string_view known : MARKER_VARIABLES) {
    if (known == name) {
      return true;
    }
  }
  return false;
}

bool complete(const InterpreterFacts& facts)
{
  for (std::string_view name : MARKER_VARIABLES) {
    if (facts.markers.find(std::string(name)) == facts.markers.end()) {
      return false;
    }
  }
  return true;
}

// One item of the facts, "marker NAME VALUE", "site PATH" or "watch PATH";
// false for anything else.
bool add_fact(InterpreterFacts& facts, std::string_view item)
{
  const std::size_t space = item.find(' ');
  if (space == std::string_view::npos) {
    return false;
  }
  const std::string_view kind = item.substr(0, space);
  const std::string_view rest = item.substr(space + 1);
  if (kind == "marker") {
    const std::size_t blank = rest.find(' ');
    if (blank == std::string_view::npos || !is_marker_variable(rest.substr(0, blank))) {
      return false;
    }
    facts.markers[std::string(rest.substr(0, blank))] = std::string(rest.substr(blank + 1));
    return true;
  }
  if (kind == "site" || kind == "watch") {
    (kind == "site" ? facts.site_path : facts.watched).emplace_back(rest);
    return !rest.empty();
  }
  return false;
}

bool has_newline(std::string_view text)
{
  return text.find('\n') != std::string_view::npos;
}

std::string record_path(const std::string& venv_path)
{
  return venv_path + "/" + std::string(RECORD_FILE);
}

} // namespace

const char* const INTERPRETER_FACTS_SCRIPT =
  "import os, platform, site, sys\n"
  "i = sys.implementation\n"
  "v = i.version\n"
  "iv = '%d.%d.%d' % (v.major, v.minor, v.micro)\n"
  "if v.releaselevel != 'final':\n"
  "    iv += v.releaselevel[0] + str(v.serial)\n"
  "m = {'implementation_name': i.name, 'implementation_version': iv, 'os_name': os.name,\n"
  "     'platform_machine': platform.machine(), 'platform_release': platform.release(),\n"
  "     'platform_system': platform.system(), 'platform_version': platform.version(),\n"
  "     'python_full_version': platform.python_version(),\n"
  "     'platform_python_implementation': platform.python_implementation(),\n"
  "     'python_version': '.'.join(platform.python_version_tuple()[:2]), 'sys_platform': sys.platform}\n"
  "out = ['marker %s %s' % item for item in m.items()]\n"
  "out += ['site ' + p for p in sys.path if p and os.path.isdir(p)]\n"
  "user = site.getusersitepackages() if site.ENABLE_USER_SITE is not False else ''\n"
  "if user and not os.path.isdir(user):\n"
  "    out.append('watch ' + user)\n"
  "sys.stdout.write('\\0'.join(out))\n";

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
    if (key == "tie" && !rest.empty()) {
      record.tie = rest;
    } else if (key == "pip-upgraded") {
      char* parse_end = nullptr;
      const std::string number(rest);
      const long long seconds = std::strtoll(number.c_str(), &parse_end, 10);
      if (number.empty() || *parse_end != '\0') {
        return std::nullopt;
      }
      record.pip_upgraded = seconds;
    } else if (key == "project") {
      const std::size_t blank = rest.find(' ');
      if (blank == std::string_view::npos || blank + 1 == rest.size()) {
        return std::nullopt;
      }
      record.projects[std::string(rest.substr(blank + 1))] = std::string(rest.substr(0, blank));
    } else if (!add_fact(facts, line)) {
      return std::nullopt;
    }
  }
  if (record.tie.empty()) {
    return std::nullopt;
  }
  if (!facts.markers.empty() || !facts.site_path.empty()) {
    if (!complete(facts)) {
      return std::nullopt;
    }
    record.interpreter = std::move(facts);
  }
  return record;
}

std::optional<InterpreterFacts> parse_interpreter_facts(std::string_view output)
{
  InterpreterFacts facts;
  std::size_t start = 0;
  while (start <= output.size()) {
    const std::size_t end = output.find('\0', start);
    const std::string_view item = output.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    // The record holds one item per line.
    if (has_newline(item) || !add_fact(facts, item)) {
      return std::nullopt;
    }
    if (end == std::string_view::npos) {
      break;
    }
    start = end + 1;
  }
  if (!complete(facts)) {
    return std::nullopt;
  }
  return facts;
}

std::string environment_tie(std::string_view pyvenv_cfg,
                            const std::vector<std::pair<std::string, std::optional<std::string>>>& variables)
{
  Hash hash;
  hash.add(pyvenv_cfg);
  for (const auto& [name, value] : variables) {
    hash.add(name);
    hash.add(value ? "=" + *value : std::string("unset"));
  }
  return hash.hex();
}

std::optional<std::string> current_tie(const std::string& venv_path)
{
  const std::optional<std::string> cfg = platform::read_file_until(venv_path + "/pyvenv.cfg");
  if (!cfg) {
    return std::nullopt;
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> variables;
  for (const char* name : TIE_VARIABLES) {
    const char* value = std::getenv(name);
    variables.emplace_back(name, value == nullptr ? std::nullopt : std::optional<std::string>(value));
  }
  return environment_tie(*cfg, variables);
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
    if (has_newline(directory)) {
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
