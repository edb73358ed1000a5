#include "tolvo/platform/program_search.hpp"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace tolvo::platform {

namespace {

bool is_executable_file(const std::string& candidate)
{
  struct stat info
  {};
  return ::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0;
}

} // namespace

Environment current_environment()
{
  Environment result;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
      continue;
    }
    result.emplace(text.substr(0, equals), text.substr(equals + 1));
  }
  return result;
}

std::string resolve_program(const std::string& program, const std::string& search_path, int& error_number)
{
  if (program.find('/') != std::string::npos) {
    return program;
  }
  error_number = ENOENT;
  if (program.empty()) {
    return {};
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t end = search_path.find(':', start);
    std::string dir = search_path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
    if (is_executable_file(candidate)) {
      error_number = 0;
      return candidate;
    }
    if (::access(candidate.c_str(), F_OK) == 0) {
      error_number = EACCES;
    }
    if (end == std::string::npos) {
      break;
    }
    start = end + 1;
  }
  return {};
}

std::string search_path_of(const std::optional<Environment>& env)
{
  if (env) {
    const auto found = env->find("PATH");
    return found != env->end() ? found->second : std::string(DEFAULT_PATH);
  }
  const char* inherited = ::getenv("PATH");
  return inherited != nullptr ? inherited : std::string(DEFAULT_PATH);
}

} // namespace tolvo::platform
