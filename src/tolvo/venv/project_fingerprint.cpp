#include "tolvo/venv/project_fingerprint.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/files.hpp"
#include "tolvo/platform/read_file.hpp"
#include "tolvo/platform/tree_walk.hpp"
#include "tolvo/venv/short_hash.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tolvo::venv {

namespace {

// Read whole: they are small, and an edit may keep their size and time.
constexpr std::array<std::string_view, 3> TOP_LEVEL_BUILD_FILES = {"pyproject.toml", "setup.py", "setup.cfg"};

constexpr std::array<std::string_view, 41> SOURCE_EXTENSIONS = {
  "c",   "h",   "cc",  "cpp", "cxx", "c++", "hh",  "hpp", "hxx", "h++",   "ipp", "inl", "tcc", "m",
  "mm",  "pyx", "pxd", "pxi", "rs",  "go",  "zig", "f",   "for", "ftn",   "f77", "f90", "f95", "f03",
  "f08", "fpp", "cu",  "cuh", "s",   "sx",  "asm", "i",   "swg", "cmake", "mk",  "def", "pyf",
};

constexpr std::array<std::string_view, 17> BUILD_SCRIPTS = {
  "setup.py",      "setup.cfg",         "pyproject.toml", "MANIFEST.in", "CMakeLists.txt", "meson.build",
  "meson.options", "meson_options.txt", "Cargo.toml",     "Cargo.lock",  "Makefile",       "makefile",
  "GNUmakefile",   "configure",         "configure.ac",   "SConstruct",  "build.zig",
};

// Where tools put what they build, at the top of the project only: a
// directory of such a name deeper down may well hold sources.
constexpr std::array<std::string_view, 4> TOP_LEVEL_OUTPUTS = {"build", "dist", "target", "wheelhouse"};

// Time stamps come from a clock that advances in ticks (a few milliseconds;
// whole seconds on some file systems): a change within the tick of the walk
// could leave them as the walk saw them.
constexpr std::int64_t FINE_TICK_NS = 50'000'000;
constexpr std::int64_t COARSE_TICK_NS = 2'000'000'000;

template <std::size_t N>
bool one_of(const std::array<std::string_view, N>& names, std::string_view name)
{
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool ends_with(std::string_view text, std::string_view suffix)
{
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::int64_t nanoseconds(const timespec& time)
{
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// A virtual environment of any name: its headers and build files are not
// the project's.
constexpr std::string_view ENVIRONMENT_MARK = "pyvenv.cfg";

bool is_environment(int parent_fd, std::string_view name)
{
  const std::string mark = std::string(name) + "/" + std::string(ENVIRONMENT_MARK);
  return ::faccessat(parent_fd, mark.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0;
}

bool is_below(std::string_view path, std::string_view directory)
{
  return path.size() > directory.size() && path[directory.size()] == '/' &&
         path.substr(0, directory.size()) == directory;
}

struct Input
{
  std::string path;
  // Size, modification and change times, inode, device; or all zero for a
  // link that leads nowhere.
  std::array<std::int64_t, 5> status{};
  // Changed within the tick before the walk.
  bool fresh = false;

  bool operator<(const Input& other) const { return path < other.path; }
};

// Walks the project and gathers its build inputs; sets `certain` false on
// anything that makes the result untrustworthy.
class InputCollector
{
public:
  InputCollector(const std::string& root, std::int64_t now_ns)
    : m_root(root),
      m_now_ns(now_ns)
  {
    char resolved[PATH_MAX];
    if (::realpath(root.c_str(), resolved) != nullptr) {
      m_real_root = resolved;
    }
  }

  platform::WalkAction visit(const platform::WalkEntry& entry)
  {
    if (!m_certain) {
      return platform::WalkAction::pass;
    }
    if (entry.kind == platform::EntryKind::directory) {
      return skipped_name(entry) || in_environment(entry) ? platform::WalkAction::pass : platform::WalkAction::descend;
    }
    // An environment is told by its mark among its entries, rather than
    // by asking every directory for one; what was met in it before the
    // mark is dropped at the end.
    if (entry.name == ENVIRONMENT_MARK && !top_level(entry)) {
      const std::string path = entry.path();
      m_environments.push_back(path.substr(m_root.size() + 1, path.size() - m_root.size() - 2 - entry.name.size()));
      return platform::WalkAction::pass;
    }
    if (is_build_input(entry.name)) {
      if (!(one_of(TOP_LEVEL_BUILD_FILES, entry.name) && top_level(entry))) {
        add(entry);
      }
    } else if (entry.kind == platform::EntryKind::symlink &&
               platform::resolves_to_directory_at(entry.parent_fd, std::string(entry.name)) && !skipped_name(entry) &&
               !is_environment(entry.parent_fd, entry.name)) {
      // The walk does not follow links: what one leads to must be walked
      // as part of the project anyway.
      check_inside(entry.path());
    }
    return platform::WalkAction::pass;
  }

  void uncertain() { m_certain = false; }

  /// The inputs outside environments, sorted; none when uncertain.
  std::optional<std::vector<Input>> finish()
  {
    std::erase_if(m_inputs, [this](const Input& input) {
      return std::any_of(m_environments.begin(), m_environments.end(),
                         [&input](const std::string& environment) { return is_below(input.path, environment); });
    });
    if (!m_certain || std::any_of(m_inputs.begin(), m_inputs.end(), [](const Input& input) { return input.fresh; })) {
      return std::nullopt;
    }
    // The order of a listing is the file system's; the fingerprint's is not.
    std::sort(m_inputs.begin(), m_inputs.end());
    return std::move(m_inputs);
  }

private:
  // Paths are built only where the answer needs one: most entries need none.
  bool top_level(const platform::WalkEntry& entry) const
  {
    return entry.path().size() == m_root.size() + 1 + entry.name.size();
  }

  // A directory, or a link to one, that holds no input of the project's build.
  bool skipped_name(const platform::WalkEntry& entry) const
  {
    return entry.name.front() == '.' || entry.name == "__pycache__" || entry.name == "node_modules" ||
           ends_with(entry.name, ".egg-info") || (one_of(TOP_LEVEL_OUTPUTS, entry.name) && top_level(entry));
  }

  bool in_environment(const platform::WalkEntry& entry) const
  {
    if (m_environments.empty()) {
      return false;
    }
    const std::string path = entry.path().substr(m_root.size() + 1);
    return std::any_of(m_environments.begin(), m_environments.end(),
                       [&path](const std::string& environment) { return is_below(path, environment); });
  }

  void add(const platform::WalkEntry& entry)
  {
    std::string relative = entry.path().substr(m_root.size() + 1);
    // Through a link to the file it names: the file is what gets built.
    struct stat status
    {};
    if (::fstatat(entry.parent_fd, std::string(entry.name).c_str(), &status, 0) != 0) {
      if (errno != ENOENT) {
        m_certain = false;
      } else if (entry.kind == platform::EntryKind::symlink) {
        m_inputs.push_back({std::move(relative), {}, false});
      }
      return;
    }
    const std::int64_t changed = nanoseconds(status.st_ctim);
    const std::int64_t tick = status.st_ctim.tv_nsec == 0 ? COARSE_TICK_NS : FINE_TICK_NS;
    m_inputs.push_back({std::move(relative),
                        {status.st_size, nanoseconds(status.st_mtim), changed, static_cast<std::int64_t>(status.st_ino),
                         static_cast<std::int64_t>(status.st_dev)},
                        changed >= m_now_ns - tick});
  }

  void check_inside(const std::string& path)
  {
    char resolved[PATH_MAX];
    if (m_real_root.empty() || ::realpath(path.c_str(), resolved) == nullptr) {
      m_certain = false;
      return;
    }
    const std::string_view target = resolved;
    if (!(target.substr(0, m_real_root.size()) == m_real_root &&
          (target.size() == m_real_root.size() || target[m_real_root.size()] == '/'))) {
      m_certain = false;
    }
  }

  const std::string& m_root;
  std::string m_real_root;
  std::int64_t m_now_ns;
  bool m_certain = true;
  std::vector<Input> m_inputs;
  // Directories found to be environments, relative to the root.
  std::vector<std::string> m_environments;
};

} // namespace

bool is_build_input(std::string_view name)
{
  if (one_of(BUILD_SCRIPTS, name)) {
    return true;
  }
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size() || dot + 6 < name.size()) {
    return false;
  }
  char lower[6];
  std::size_t length = 0;
  for (const char c : name.substr(dot + 1)) {
    lower[length++] = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return one_of(SOURCE_EXTENSIONS, std::string_view(lower, length));
}

namespace {

void add_contents(ShortHash& hash, const std::string& directory, std::string_view name)
{
  hash.add(name);
  const std::optional<std::string> bytes = platform::read_file_until(directory + "/" + std::string(name));
  hash.add(bytes ? "present" : "absent");
  hash.add(bytes ? *bytes : std::string());
}

} // namespace

std::string files_digest(const std::string& directory, const std::vector<std::string>& files)
{
  ShortHash hash;
  for (const std::string& name : files) {
    add_contents(hash, directory, name);
  }
  return hash.hex();
}

std::optional<std::string> project_fingerprint(const std::string& directory, std::int64_t now_ns)
{
  std::string root = directory;
  while (root.size() > 1 && root.back() == '/') {
    root.pop_back();
  }
  ShortHash hash;
  for (std::string_view name : TOP_LEVEL_BUILD_FILES) {
    add_contents(hash, root, name);
  }
  InputCollector collector(root, now_ns);
  try {
    platform::walk(
      root, [&collector](const platform::WalkEntry& entry) { return collector.visit(entry); },
      [&collector](const std::string&) { collector.uncertain(); });
  } catch (const SystemError&) {
    return std::nullopt;
  }
  const std::optional<std::vector<Input>> inputs = collector.finish();
  if (!inputs) {
    return std::nullopt;
  }
  for (const Input& input : *inputs) {
    hash.add(input.path);
    hash.add(std::string_view(reinterpret_cast<const char*>(input.status.data()), sizeof input.status));
  }
  return hash.hex();
}

std::optional<std::string> project_fingerprint(const std::string& directory)
{
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return project_fingerprint(directory, nanoseconds(now));
}

} // namespace tolvo::venv
