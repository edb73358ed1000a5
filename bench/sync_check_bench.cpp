// Micro-benchmark of the when-needed refresh's judgement: a project whose
// dependencies reach all of an environment of 200 installed distributions
// (dist-info folders written to a scratch directory, each METADATA with a
// body after its header), judged from the files as a run in sync does; and
// a crafted distribution of 1,500 extras, each asking for the distribution
// itself with the next extra (the shape of an "all" extra), all asked for.

#include "tolvo/venv/refresh_record.hpp"
#include "tolvo/venv/sync_check.hpp"

#include "support/linux_markers.hpp"

#include <algorithm>
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

// The CPU time of this thread, user and system: what the check costs,
// whatever else the machine is doing.
double cpu_now_us()
{
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

struct Figures
{
  std::vector<double> micros;
  std::vector<double> cpu_micros;

  void print(const char* prefix)
  {
    std::sort(micros.begin(), micros.end());
    std::sort(cpu_micros.begin(), cpu_micros.end());
    std::printf("%s_median_us %.1f\n%s_p90_us %.1f\n%s_cpu_median_us %.1f\n%s_cpu_p90_us %.1f\n", prefix,
                micros[micros.size() / 2], prefix, micros[micros.size() * 9 / 10], prefix,
                cpu_micros[cpu_micros.size() / 2], prefix, cpu_micros[cpu_micros.size() * 9 / 10]);
  }
};

// Times `judge` over `rounds`; false when a judgement was not "satisfied".
template <typename Judge>
bool measure(Figures& figures, int rounds, Judge judge)
{
  for (int round = 0; round < rounds; ++round) {
    const double cpu_start = cpu_now_us();
    const auto start = std::chrono::steady_clock::now();
    const tolvo::venv::Judgement judged = judge();
    const auto stop = std::chrono::steady_clock::now();
    if (judged.verdict != tolvo::venv::Verdict::satisfied) {
      std::fprintf(stderr, "sync_check_bench: not satisfied: %s\n", judged.reason.c_str());
      return false;
    }
    figures.micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
    figures.cpu_micros.push_back(cpu_now_us() - cpu_start);
  }
  return true;
}

} // namespace

int main()
{
  const fs::path scratch = fs::temp_directory_path() / ("tolvo-sync-bench-" + std::to_string(::getpid()));
  const fs::path site = scratch / "site";
  const fs::path project = scratch / "project";
  make_environment(site, project);
  const fs::path maze = scratch / "maze";
  const std::size_t maze_bytes = make_extras_maze(maze);
  const std::string recorded = tolvo::venv::project_files_hash(project.string());
  tolvo::venv::InstallTarget target;
  target.project = true;
  target.extras = {"test"};
  tolvo::venv::InstallTarget all_extras;
  std::string every = "big[";
  for (int i = 0; i < EXTRAS; ++i) {
    every += (i == 0 ? "x" : ",x") + std::to_string(i);
  }
  all_extras.packages = {every + "]"};

  Figures tree;
  // What a run in sync does for the step: hash the build files, read the
  // project, list the site path and judge.
  const bool tree_ok = measure(tree, 200, [&] {
    const tolvo::config::ProjectConfig config(project / "pyproject.toml");
    tolvo::venv::SitePackages packages({site.string()});
    tolvo::venv::SyncContext context{tolvo::testing::LINUX_CPYTHON_311,
                                     packages,
                                     &config,
                                     project.string(),
                                     tolvo::venv::project_files_hash(project.string()),
                                     recorded};
    return tolvo::venv::judge_install(target, context);
  });
  Figures extras;
  const bool extras_ok =
    tree_ok && measure(extras, 50, [&] {
      tolvo::venv::SitePackages packages({maze.string()});
      tolvo::venv::SyncContext context{tolvo::testing::LINUX_CPYTHON_311, packages, nullptr, {}, {}, std::nullopt};
      return tolvo::venv::judge_install(all_extras, context);
    });
  fs::remove_all(scratch);
  if (!extras_ok) {
    return 1;
  }
  std::printf("sync_check_distributions %d\n", DISTRIBUTIONS);
  tree.print("sync_check");
  std::printf("sync_check_extras %d\nsync_check_extras_metadata_bytes %zu\n", EXTRAS, maze_bytes);
  extras.print("sync_check_extras");
  return 0;
}
