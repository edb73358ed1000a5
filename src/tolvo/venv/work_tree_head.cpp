#include "tolvo/venv/work_tree_head.hpp"

#include "tolvo/platform/read_file.hpp"
#include "tolvo/platform/text.hpp"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tolvo::venv {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view SYMBOLIC = "ref: ";
// Deeper chains of symbolic refs are refused by git itself.
constexpr int SYMBOLIC_DEPTH = 5;

bool is_object_name(std::string_view text)
{
  if (text.size() != 40 && text.size() != 64) {
    return false;
  }
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

// A ref name that stays inside the repository's directories.
bool is_safe_ref(std::string_view name)
{
  return name.substr(0, 5) == "refs/" && name.find("..") == std::string_view::npos &&
         name.find('\0') == std::string_view::npos && name.back() != '/';
}

// Refs that each work tree keeps for itself; all others are shared.
bool is_per_worktree(std::string_view name)
{
  for (std::string_view prefix : {"refs/worktree/", "refs/bisect/", "refs/rewritten/"}) {
    if (name.substr(0, prefix.size()) == prefix) {
      return true;
    }
  }
  return false;
}

std::optional<std::string> read_trimmed(const fs::path& path)
{
  std::optional<std::string> text = platform::read_file_until(path.string());
  if (!text) {
    return std::nullopt;
  }
  return std::string(platform::strip(*text));
}

bool present(const fs::path& path)
{
  std::error_code error;
  return fs::exists(path, error);
}

// The repository directory of the work tree holding `directory`, its
// common directory, or none when none holds it; `readable` false when one
// holds it but cannot be read.
struct Repository
{
  fs::path git_dir;
  fs::path common_dir;
};

std::optional<Repository> find_repository(const fs::path& directory, bool& readable)
{
  readable = true;
  for (fs::path level = directory;; level = level.parent_path()) {
    const fs::path dot_git = level / ".git";
    std::error_code error;
    const fs::file_status status = fs::status(dot_git, error);
    if (fs::is_directory(status)) {
      return Repository{dot_git, dot_git};
    }
    if (fs::is_regular_file(status)) {
      // A linked work tree or a submodule: "gitdir: <path>".
      const std::optional<std::string> text = read_trimmed(dot_git);
      if (!text || text->substr(0, 8) != "gitdir: ") {
        readable = false;
        return std::nullopt;
      }
      fs::path git_dir = fs::path(text->substr(8));
      if (git_dir.is_relative()) {
        git_dir = level / git_dir;
      }
      Repository repository{git_dir, git_dir};
      if (const std::optional<std::string> common = read_trimmed(git_dir / "commondir")) {
        repository.common_dir = fs::path(*common).is_relative() ? git_dir / *common : fs::path(*common);
      }
      return repository;
    }
    if (fs::exists(status) || (error && error != std::errc::no_such_file_or_directory)) {
      readable = false;
      return std::nullopt;
    }
    if (level == level.parent_path()) {
      return std::nullopt;
    }
  }
}

// The object name `name` names in packed-refs; none when it is not there.
std::optional<std::string> packed_ref(const std::string& packed, std::string_view name, bool& malformed)
{
  std::size_t start = 0;
  while (start < packed.size()) {
    std::size_t end = packed.find('\n', start);
    if (end == std::string::npos) {
      end = packed.size();
    }
    const std::string_view line = std::string_view(packed).substr(start, end - start);
    start = end + 1;
    // Comments and the peeled objects of annotated tags.
    if (line.empty() || line.front() == '#' || line.front() == '^') {
      continue;
    }
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || !is_object_name(line.substr(0, space))) {
      malformed = true;
      return std::nullopt;
    }
    if (platform::strip(line.substr(space + 1)) == name) {
      return std::string(line.substr(0, space));
    }
  }
  return std::nullopt;
}

} // namespace

std::optional<std::string> work_tree_head(const std::string& directory)
{
  // git would use another repository, or another work tree, than the one found here.
  if (std::getenv("GIT_DIR") != nullptr || std::getenv("GIT_WORK_TREE") != nullptr) {
    return std::nullopt;
  }
  bool readable = true;
  const std::optional<Repository> repository = find_repository(fs::path(directory), readable);
  if (!repository) {
    return readable ? std::optional<std::string>(NO_WORK_TREE) : std::nullopt;
  }
  if (present(repository->common_dir / "reftable")) {
    return std::nullopt;
  }
  std::optional<std::string> value = read_trimmed(repository->git_dir / "HEAD");
  for (int depth = 0; value && depth <= SYMBOLIC_DEPTH; ++depth) {
    if (is_object_name(*value)) {
      return value;
    }
    if (value->substr(0, SYMBOLIC.size()) != SYMBOLIC) {
      return std::nullopt;
    }
    const std::string name = value->substr(SYMBOLIC.size());
    if (!is_safe_ref(name)) {
      return std::nullopt;
    }
    const fs::path& home = is_per_worktree(name) ? repository->git_dir : repository->common_dir;
    const fs::path loose = home / name;
    if (present(loose)) {
      value = read_trimmed(loose);
      continue;
    }
    bool malformed = false;
    const fs::path packed_path = home / "packed-refs";
    const std::optional<std::string> packed = platform::read_file_until(packed_path.string());
    std::optional<std::string> found = packed ? packed_ref(*packed, name, malformed) : std::nullopt;
    if (malformed || (!packed && present(packed_path))) {
      return std::nullopt;
    }
    // A branch that has no commit yet.
    return found ? found : std::optional<std::string>("unborn:" + name);
  }
  return std::nullopt;
}

} // namespace tolvo::venv
