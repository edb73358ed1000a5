#include "tolvo/venv/interpreter_facts.hpp"

#include <array>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace tolvo::venv {

namespace {

// Every variable an installer evaluates markers with, `extra` aside.
constexpr std::array<std::string_view, 11> MARKER_VARIABLES = {
  "implementation_name",
  "implementation_version",
  "os_name",
  "platform_machine",
  "platform_python_implementation",
  "platform_release",
  "platform_system",
  "platform_version",
  "python_full_version",
  "python_version",
  "sys_platform",
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

bool has_every_marker(const InterpreterFacts& facts)
{
  for (std::string_view name : MARKER_VARIABLES) {
    if (facts.markers.find(std::string(name)) == facts.markers.end()) {
      return false;
    }
  }
  return true;
}

bool add_interpreter_fact(InterpreterFacts& facts, std::string_view item)
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

std::optional<InterpreterFacts> parse_interpreter_facts(std::string_view output)
{
  InterpreterFacts facts;
  std::size_t start = 0;
  while (start <= output.size()) {
    const std::size_t end = output.find('\0', start);
    const std::string_view item =
      output.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    // The record holds one item per line.
    if (item.find('\n') != std::string_view::npos || !add_interpreter_fact(facts, item)) {
      return std::nullopt;
    }
    if (end == std::string_view::npos) {
      break;
    }
    start = end + 1;
  }
  if (!has_every_marker(facts)) {
    return std::nullopt;
  }
  return facts;
}

std::optional<std::string> interpreter_identity(const std::string& python)
{
  char resolved[PATH_MAX];
  struct stat status
  {};
  if (::realpath(python.c_str(), resolved) == nullptr || ::stat(resolved, &status) != 0) {
    return std::nullopt;
  }
  const long long nanoseconds =
    static_cast<long long>(status.st_mtim.tv_sec) * 1'000'000'000LL + status.st_mtim.tv_nsec;
  return std::string(resolved) + "\n" + std::to_string(status.st_size) + " " + std::to_string(nanoseconds) + " " +
         std::to_string(status.st_ino) + " " + std::to_string(status.st_dev);
}

} // namespace tolvo::venv
