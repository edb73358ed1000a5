#include "tolvo/lint/module_path.hpp"

#include <system_error>

namespace tolvo::lint {

namespace fs = std::filesystem;

namespace {

bool directory_exists(const fs::path& path)
{
  std::error_code error;
  return fs::is_directory(path, error);
}

std::string find_module_path()
{
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) {
    return fs::current_path(error).string();
  }
  return module_path_for_executable(exe);
}

} // namespace

const std::string& tool_module_path()
{
  // On first use, not at start-up: only the lint command needs it.
  static const std::string path = find_module_path();
  return path;
}

std::string module_path_for_executable(const fs::path& exe)
{
  const fs::path exe_dir = exe.parent_path();
  const fs::path lib_dir = exe_dir.parent_path() / "lib";
  std::error_code error;
  if (directory_exists(lib_dir)) {
    for (const fs::directory_entry& entry : fs::directory_iterator(lib_dir, error)) {
      const std::string name = entry.path().filename().string();
      const fs::path site_packages = entry.path() / "site-packages";
      if (name.rfind("python", 0) == 0 && directory_exists(site_packages / "tolvo")) {
        return site_packages.string();
      }
    }
  }
  const fs::path sources = exe_dir.parent_path() / "python";
  if (directory_exists(sources / "tolvo")) {
    return sources.string();
  }
  return exe_dir.string();
}

std::string lint_pythonpath(std::string_view module_path, const std::optional<std::string>& existing)
{
  // Splitting an empty text gives one empty part, hence the trailing ":".
  std::string joined(module_path);
  joined += ":";
  joined += existing.value_or("");
  return joined;
}

} // namespace tolvo::lint
