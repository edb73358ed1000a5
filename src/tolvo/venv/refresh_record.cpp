#include "tolvo/venv/refresh_record.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/handles.hpp"
#include "tolvo/platform/read_file.hpp"
#include "tolvo/venv/short_hash.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tolvo::venv {

namespace {

constexpr std::string_view VERSION_LINE = "tolvo refresh record 1";

// Variables that move the interpreter's site path (or the user site in it).
constexpr std::array<const char*, 6> TIE_VARIABLES = {"PYTHONPATH",     "PYTHONHOME",     "PYTHONNOUSERSITE",
                                                      "PYTHONUSERBASE", "PYTHONSAFEPATH", "HOME"};

bool is_hash(std::string_view text)
{
  return text.size() == 16 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// A project's fingerprint: a hash, followed by the hash of its version files
// when its version is read from them.
bool is_fingerprint(std::string_view text)
{
  const std::size_t dash = text.find('-');
  return dash == std::string_view::npos ? is_hash(text)
                                        : is_hash(text.substr(0, dash)) && is_hash(text.substr(dash + 1));
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
      text.append("marker ").append(name).append(" ").append(value).append("\n");
    }
    for (const std::string& path : record.interpreter->site_path) {
      text.append("site ").append(path).append("\n");
    }
    for (const std::string& path : record.interpreter->watched) {
      text.append("watch ").append(path).append("\n");
    }
  }
  for (const auto& [directory, hash] : record.projects) {
    text.append("project ").append(hash).append(" ").append(directory).append("\n");
  }
  for (const auto& [directory, head] : record.heads) {
    text.append("head ").append(head).append(" ").append(directory).append("\n");
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
    } else if (key == "project" || key == "head") {
      const std::size_t blank = rest.find(' ');
      if (blank == 0 || blank == std::string_view::npos || blank + 1 == rest.size() ||
          (key == "project" && !is_fingerprint(rest.substr(0, blank)))) {
        return std::nullopt;
      }
      (key == "project" ? record.projects : record.heads)[std::string(rest.substr(blank + 1))] =
        std::string(rest.substr(0, blank));
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
  ShortHash hash;
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
  for (const auto* directories : {&record.projects, &record.heads}) {
    for (const auto& [directory, value] : *directories) {
      if (directory.find('\n') != std::string::npos) {
        // Not representable; a record without it makes the next run unsure.
        RefreshRecord kept = record;
        kept.projects.erase(directory);
        kept.heads.erase(directory);
        save_record(venv_path, kept);
        return;
      }
    }
  }
  const std::string path = record_path(venv_path);
  // A name of its own, so that no other writer can rename it away or
  // interleave with it; readers see the old record or the new one whole.
  std::string temporary = path + ".XXXXXX";
  platform::UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd.is_open()) {
    const int error = errno;
    throw SystemError("cannot create '" + temporary + "': " + std::strerror(error), error);
  }
  const std::string text = format_record(record);
  std::size_t written = 0;
  int error = 0;
  while (written < text.size() && error == 0) {
    const ssize_t count = ::write(fd.get(), text.data() + written, text.size() - written);
    if (count >= 0) {
      written += static_cast<std::size_t>(count);
    } else if (errno != EINTR) {
      error = errno;
    }
  }
  // Closed here, not by the owner, since a failed close can mean lost data.
  if (::close(fd.release()) != 0 && error == 0) {
    error = errno;
  }
  if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    std::remove(temporary.c_str());
    throw SystemError("cannot write '" + path + "': " + std::strerror(error), error);
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
