#include "tolvo/venv/pyvenv_cfg.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/read_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <unistd.h>

namespace tolvo::venv {

namespace {

std::string_view trimmed(std::string_view text)
{
  const std::size_t first = text.find_first_not_of(" \t\r\f\v");
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t\r\f\v") - first + 1);
}

std::string lowered(std::string_view text)
{
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

// The value of a "key = value" line when its key is SYSTEM_SITE_KEY.
std::optional<std::string_view> system_site_value(std::string_view line)
{
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos || lowered(trimmed(line.substr(0, equals))) != SYSTEM_SITE_KEY) {
    return std::nullopt;
  }
  return trimmed(line.substr(equals + 1));
}

} // namespace

std::optional<std::string> with_system_site_packages(std::string_view text, bool include)
{
  const std::string wanted = std::string(SYSTEM_SITE_KEY) + " = " + (include ? "true" : "false");
  bool current = true;
  bool seen = false;
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    const std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    start = end == std::string_view::npos ? text.size() : end + 1;
    if (const std::optional<std::string_view> value = system_site_value(line)) {
      current = lowered(*value) == "true";
      if (!seen) {
        out += wanted + "\n";
      }
      seen = true;
      continue;
    }
    out += std::string(line) + "\n";
  }
  if (current == include) {
    return std::nullopt;
  }
  if (!seen) {
    out += wanted + "\n";
  }
  return out;
}

void match_system_site_packages(const std::string& venv_path, bool include)
{
  const std::string path = venv_path + "/pyvenv.cfg";
  const std::optional<std::string> text = platform::read_file_until(path);
  if (!text) {
    return;
  }
  const std::optional<std::string> changed = with_system_site_packages(*text, include);
  if (!changed) {
    return;
  }
  // Written whole beside it and renamed over it, so that an interpreter
  // starting meanwhile reads the old file or the new one, never half.
  const std::string temporary = path + ".tolvo-" + std::to_string(::getpid()) + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << *changed;
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      throw SystemError("cannot write '" + temporary + "'", EIO);
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    std::remove(temporary.c_str());
    throw SystemError("cannot rename '" + temporary + "' to '" + path + "': " + std::strerror(error), error);
  }
}

} // namespace tolvo::venv
