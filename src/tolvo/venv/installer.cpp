#include "tolvo/venv/installer.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/program_search.hpp"

#include <filesystem>
#include <system_error>

namespace tolvo::venv {

namespace {

std::string own_directory()
{
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : exe.parent_path().string();
}

} // namespace

InstallerKind parse_installer(std::string_view text, std::string_view origin)
{
  if (text == "pip") {
    return InstallerKind::pip;
  }
  if (text == "uv") {
    return InstallerKind::uv;
  }
  throw InvalidValue(std::string(origin) + ": unknown installer '" + std::string(text) + "' (expected 'pip' or 'uv')");
}

std::vector<std::string> Installer::install_command(const std::string& python) const
{
  if (kind == InstallerKind::uv) {
    return {uv, "pip", "install", "--python", python};
  }
  return {python, "-m", "pip", "install"};
}

std::optional<std::string> find_uv(const std::string& search_path, const std::string& own_directory)
{
  int error_number = 0;
  std::string found = platform::resolve_program("uv", search_path, error_number);
  if (found.empty() && !own_directory.empty()) {
    found = platform::resolve_program("uv", own_directory, error_number);
  }
  if (found.empty()) {
    return std::nullopt;
  }
  // A child starts the same program wherever the working directory is.
  return std::filesystem::absolute(found).lexically_normal().string();
}

Installer find_installer(InstallerKind kind)
{
  Installer installer;
  installer.kind = kind;
  if (kind == InstallerKind::pip) {
    return installer;
  }
  const std::string search_path = platform::search_path_of(std::nullopt);
  const std::optional<std::string> uv = find_uv(search_path, own_directory());
  if (!uv) {
    throw PreconditionFailure(
      "Error: uv not found on PATH or beside tolvo; install it with 'pip install \"tolvo[uv]\"' or 'pip install uv'");
  }
  installer.uv = *uv;
  int error_number = 0;
  const std::string python = platform::resolve_program("python", search_path, error_number);
  if (python.empty()) {
    throw StartError("python", "cannot run 'python': " + std::generic_category().message(error_number), error_number);
  }
  installer.base_python = std::filesystem::absolute(python).lexically_normal().string();
  return installer;
}

} // namespace tolvo::venv
