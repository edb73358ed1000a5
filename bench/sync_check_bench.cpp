// Micro-benchmark of the when-needed refresh's judgement: a project whose
// dependencies reach all of an environment of 200 installed distributions
// (dist-info folders written to a scratch directory, each METADATA with a
// body after its header), judged from the files as a run in sync does.

#include "tolvo/venv/project_fingerprint.hpp"
#include "tolvo/venv/sync_check.hpp"
#include "tolvo/venv/work_tree_head.hpp"

#include "support/linux_markers.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int DISTRIBUTIONS = 200;
constexpr int EXTRAS = 1500;

void write(const fs::path& path, const std::string& text)
{
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// pkg-i requires pkg-(2i+1) and pkg-(2i+2), with the markers and extras
// real metadata carries; the project requires pkg-0, so the tree reaches all.
void make_environment(const fs::path& site, const fs::path& project)
{
  const std::string body(4000, 'x');
  for (int i = 0; i < DISTRIBUTIONS; ++i) {
    std::string metadata = "Metadata-Version: 2.1\nName: pkg-" + std::to_string(i) + "\nVersion: 1." +
                           std::to_string(i) + ".0\nSummary: a package\nProvides-Extra: docs\n";
    for (int child : {2 * i + 1, 2 * i + 2}) {
      if (child < DISTRIBUTIONS) {
        metadata += "Requires-Dist: pkg_" + std::to_string(child) + ">=1.0; python_version >= \"3.8\"\n";
      }
    }
    metadata += "Requires-Dist: sphinx>=7; extra == \"docs\"\n\n" + body + "\n";
    write(site / ("pkg_" + std::to_string(i) + "-1." + std::to_string(i) + ".0.dist-info") / "METADATA", metadata);
  }
  write(site / "app-1.0.dist-info" / "METADATA", "Metadata-Version: 2.1\nName: app\nVersion: 1.0\n\n");
  write(site / "app-1.0.dist-info" / "direct_url.json",
        "{\"url\": \"file://" + project.string() + "\", \"dir_info\": {\"editable\": true}}");
  write(project / "pyproject.toml", "[project]\nname = \"app\"\nversion = \"1.0\"\ndependencies = [\"pkg-0>=1\"]\n"
                                    "[project.optional-dependencies]\ntest = [\"pkg-1\"]\n");
}

// A project of `files` files shaped like a library with a C extension:
// packages of Python modules, C sources and headers, Cython modules (3 in
// 20 files native, or all of them when `all_native`), tests and
// documentation, its top-level build/ and .venv left out of the count, in
// a git work tree whose branch is a packed ref. Its version is dynamic, so
// HEAD is read as well.
void make_native_project(const fs::path& project, int files, bool all_native)
{
  write(project / "pyproject.toml",
        "[project]\nname = \"app\"\ndynamic = [\"version\"]\ndependencies = [\"pkg-0>=1\"]\n"
        "[project.optional-dependencies]\ntest = [\"pkg-1\"]\n");
  write(project / "setup.py", "from setuptools import Extension, setup\nsetup(ext_modules=[])\n");
  write(project / ".git" / "HEAD", "ref: refs/heads/main\n");
  write(project / ".git" / "packed-refs", "# pack-refs with: peeled fully-peeled sorted\n"
                                          "9fceb02d0ae598e95dc970b74767f19372d61af8 refs/heads/main\n");
  constexpr std::array<const char*, 20> KINDS = {".c",   ".py", ".py", ".py",  ".py",  ".py", ".py",
                                                 ".h",   ".py", ".py", ".py",  ".rst", ".py", ".py",
                                                 ".pyx", ".py", ".py", ".txt", ".py",  ".py"};
  for (int i = 0; i < files - 2; ++i) {
    const int package = i / 40;
    const fs::path folder = package % 5 == 4 ? project / "tests" / ("t" + std::to_string(package))
                                             : project / "src" / "app" / ("m" + std::to_string(package));
    write(folder / ("f" + std::to_string(i) + (all_native ? ".c" : KINDS[static_cast<std::size_t>(i) % KINDS.size()])),
          "/* " + std::string(static_cast<std::size_t>(200 + i % 700), 'x') + " */\n");
  }
  for (int i = 0; i < 200; ++i) {
    write(project / "build" / "temp" / ("f" + std::to_string(i) + ".o"), "object");
    write(project / ".venv" / "lib" / ("f" + std::to_string(i) + ".h"), "header");
  }
}

// The CPU time of this thread// The CPU time of this thread, user and system: what the check costs,
// whatever else the machine is doing.
double cpu_now_us()
{
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

struct Figures
{
  std::vector<double> wall_us;
  std::vector<double> cpu_us;

  void print(const char* name) const
  {
    std::printf("%s_median_us %.1f\n%s_p90_us %.1f\n%s_cpu_median_us %.1f\n%s_cpu_p90_us %.1f\n", name,
                wall_us[wall_us.size() / 2], name, wall_us[wall_us.size() * 9 / 10], name, cpu_us[cpu_us.size() / 2],
                name, cpu_us[cpu_us.size() * 9 / 10]);
  }
};

// Runs `work` ROUNDS times; false as soon as it fails.
template <typename Work>
bool measure(Figures& figures, const Work& work)
{
  constexpr int ROUNDS = 200;
  for (int round = 0; round < ROUNDS; ++round) {
    const double cpu_start = cpu_now_us();
    const auto start = std::chrono::steady_clock::now();
    if (!work()) {
      return false;
    }
    const auto stop = std::chrono::steady_clock::now();
    figures.wall_us.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
    figures.cpu_us.push_back(cpu_now_us() - cpu_start);
  }
  std::sort(figures.wall_us.begin(), figures.wall_us.end());
  std::sort(figures.cpu_us.begin(), figures.cpu_us.end());
  return true;
}

// "big" offers EXTRAS extras; extra i asks for big[i+1], the last for big[0].
// Returns the METADATA's size.
std::size_t make_extras_maze(const fs::path& site)
{
  std::string metadata = "Metadata-Version: 2.1\nName: big\nVersion: 1.0\n";
  for (int i = 0; i < EXTRAS; ++i) {
    metadata += "Provides-Extra: x" + std::to_string(i) + "\n";
  }
  for (int i = 0; i < EXTRAS; ++i) {
    metadata +=
      "Requires-Dist: big[x" + std::to_string((i + 1) % EXTRAS) + "]; extra == \"x" + std::to_string(i) + "\"\n";
  }
  write(site / "big-1.0.dist-info" / "METADATA", metadata + "\n");
  return metadata.size();
}

// What a run in sync does for the step: fingerprint the project, read its
// HEAD, read pyproject.toml, list the site path and judge.
bool judged_in_sync(const fs::path& site, const fs::path& project, const std::string& recorded_hash,
                    const std::string& recorded_head)
{
  tolvo::venv::InstallTarget target;
  target.project = true;
  target.extras = {"test"};
  const tolvo::config::ProjectConfig config(project / "pyproject.toml");
  tolvo::venv::SitePackages packages({site.string()});
  tolvo::venv::SyncContext context{tolvo::testing::LINUX_CPYTHON_311,
                                   packages,
                                   &config,
                                   project.string(),
                                   tolvo::venv::project_fingerprint(project.string()),
                                   recorded_hash,
                                   tolvo::venv::work_tree_head(project.string()),
                                   recorded_head};
  const tolvo::venv::Judgement judged = tolvo::venv::judge_install(target, context);
  if (judged.verdict != tolvo::venv::Verdict::satisfied) {
    std::fprintf(stderr, "sync_check_bench: not satisfied: %s\n", judged.reason.c_str());
    return false;
  }
  return true;
}

} // namespace

int main()
{
  constexpr int PROJECT_FILES = 2000;
  const fs::path scratch = fs::temp_directory_path() / ("tolvo-sync-bench-" + std::to_string(::getpid()));
  const fs::path site = scratch / "site";
  const fs::path project = scratch / "project";
  const fs::path native = scratch / "native";
  make_environment(site, project);
  const fs::path heavy = scratch / "heavy";
  make_native_project(native, PROJECT_FILES, false);
  make_native_project(heavy, PROJECT_FILES, true);
  write(site / "app-1.0.dist-info" / "direct_url.json",
        "{\"url\": \"file://" + native.string() + "\", \"dir_info\": {\"editable\": true}}");
  const fs::path native_site = scratch / "native-site";
  fs::create_directories(native_site);
  for (const fs::directory_entry& entry : fs::directory_iterator(site)) {
    fs::copy(entry.path(), native_site / entry.path().filename(), fs::copy_options::recursive);
  }
  write(site / "app-1.0.dist-info" / "direct_url.json",
        "{\"url\": \"file://" + project.string() + "\", \"dir_info\": {\"editable\": true}}");
  // Time stamps tell a change only once their clock has moved on.
  ::usleep(100'000);
  const auto hash = [](const fs::path& directory) {
    return tolvo::venv::project_fingerprint(directory.string()).value_or("none");
  };
  const std::string head = tolvo::venv::work_tree_head(native.string()).value_or("none");
  const std::string small_hash = hash(project);
  const std::string large_hash = hash(native);

  Figures small;
  Figures large;
  Figures walk;
  Figures walk_heavy;
  Figures extras;
  const fs::path maze = scratch / "maze";
  const std::size_t maze_bytes = make_extras_maze(maze);
  tolvo::venv::InstallTarget all_extras;
  std::string every = "big[";
  for (int i = 0; i < EXTRAS; ++i) {
    every += (i == 0 ? "x" : ",x") + std::to_string(i);
  }
  all_extras.packages = {every + "]"};
  const auto judge_maze = [&] {
    tolvo::venv::SitePackages packages({maze.string()});
    tolvo::venv::SyncContext context{
      tolvo::testing::LINUX_CPYTHON_311, packages, nullptr, {}, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    const tolvo::venv::Judgement judged = tolvo::venv::judge_install(all_extras, context);
    if (judged.verdict != tolvo::venv::Verdict::satisfied) {
      std::fprintf(stderr, "sync_check_bench: not satisfied: %s\n", judged.reason.c_str());
      return false;
    }
    return true;
  };
  const bool ok = measure(small, [&] { return judged_in_sync(site, project, small_hash, "-"); }) &&
                  measure(large, [&] { return judged_in_sync(native_site, native, large_hash, head); }) &&
                  measure(walk, [&] { return tolvo::venv::project_fingerprint(native.string()).has_value(); }) &&
                  measure(walk_heavy, [&] { return tolvo::venv::project_fingerprint(heavy.string()).has_value(); }) &&
                  measure(extras, judge_maze);
  fs::remove_all(scratch);
  if (!ok) {
    return 1;
  }
  std::printf("sync_check_distributions %d\n", DISTRIBUTIONS);
  small.print("sync_check");
  std::printf("sync_check_project_files %d\n", PROJECT_FILES);
  large.print("sync_check_native");
  walk.print("fingerprint_native");
  walk_heavy.print("fingerprint_all_native");
  std::printf("sync_check_extras %d\nsync_check_extras_metadata_bytes %zu\n", EXTRAS, maze_bytes);
  extras.print("sync_check_extras");
  return 0;
}
