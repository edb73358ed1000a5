#include "tolvo/errors.hpp"
#include "tolvo/platform/interruption.hpp"
#include "tolvo/venv/sync_check.hpp"

#include "support/linux_markers.hpp"
#include "support/scoped_temp_dir.hpp"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>

namespace tolvo::venv {
namespace {

using tolvo::testing::LINUX_CPYTHON_311;
using tolvo::testing::ScopedTempDir;

constexpr const char* PYPROJECT = R"([project]
name = "App"
version = "1.0"
dependencies = ["requests>=2", "six"]
[project.optional-dependencies]
test = ["pytest>=8"]
socks = ["requests[socks]"]
[dependency-groups]
dev = [{include-group = "Test_Group"}, "idna"]
test-group = ["pytest"]
loop = [{include-group = "loop"}]
)";

// The commit recorded at the project's install.
const std::string HEAD_THEN = "9fceb02d0ae598e95dc970b74767f19372d61af8";

// A small environment: the venv's own site-packages and the system one it
// sees, the project in a directory whose name needs percent-encoding.
class Environment
{
public:
  Environment()
  {
    project = temp.path() / "my proj";
    std::filesystem::create_directories(project);
    dist("site", "app", "1.0", {"Requires-Dist: requests>=2", "Requires-Dist: six"}, editable_url());
    dist("site", "requests", "2.31.0",
         {"Requires-Dist: urllib3<3,>=1.21.1", "Requires-Dist: idna",
          "Requires-Dist: PySocks!=1.5.7,>=1.5.6; extra == \"socks\"", "Provides-Extra: socks"});
    dist("site", "urllib3", "2.0.0rc1"); // a pre-release satisfies an installed requirement
    dist("site", "idna", "3.4");
    dist("site", "pytest", "8.0.0",
         {"Requires-Dist: iniconfig", "Requires-Dist: colorama; sys_platform == \"win32\"",
          "Requires-Dist: tomli>=1; python_version < \"3.11\""});
    dist("site", "iniconfig", "2.0.0");
    dist("system", "six", "1.16.0");
    dist("system", "cyc-a", "1.0", {"Requires-Dist: cyc_b", "Requires-Dist: six; extra == 'X'", "Provides-Extra: X"});
    dist("system", "cyc-b", "1.0", {"Requires-Dist: Cyc.A[x]"});
  }

  /// The direct_url.json of an editable install from the project.
  std::string editable_url() const
  {
    return R"({"url": "file://)" + (temp.path() / "my%20proj").string() + R"(", "dir_info": {"editable": true}})";
  }

  /// Writes a dist-info folder with a METADATA whose body (after the blank
  /// line) holds a header-like line that must not count.
  void dist(const std::string& where, const std::string& name, const std::string& version,
            const std::vector<std::string>& headers = {}, const std::string& direct_url = {})
  {
    std::string folder = name;
    std::replace(folder.begin(), folder.end(), '-', '_');
    const std::filesystem::path info = std::filesystem::path(where) / (folder + "-" + version + ".dist-info");
    std::string metadata = "Metadata-Version: 2.1\nName: " + name + "\nVersion: " + version + "\n";
    for (const std::string& header : headers) {
      metadata += header + "\n";
    }
    temp.write(info / "METADATA", metadata + "\nRequires-Dist: not-a-header-in-the-body\n");
    if (!direct_url.empty()) {
      temp.write(info / "direct_url.json", direct_url);
    }
  }

  Judgement judge(const InstallTarget& target, const std::string& pyproject, const std::optional<std::string>& recorded,
                  const std::optional<std::string>& recorded_head)
  {
    std::istringstream stream(pyproject);
    const config::ProjectConfig config(stream);
    SitePackages site({(temp.path() / "site").string(), (temp.path() / "system").string()});
    SyncContext context{LINUX_CPYTHON_311, site, &config, project.string(), files_hash, recorded, head, recorded_head};
    return judge_install(target, context);
  }

  ScopedTempDir temp;
  std::filesystem::path project;
  /// The project's fingerprint and HEAD as the run sees them.
  std::optional<std::string> files_hash = "hash-now";
  std::optional<std::string> head = HEAD_THEN;
};

InstallTarget project(std::vector<std::string> extras, std::vector<std::string> groups = {})
{
  InstallTarget target;
  target.project = true;
  target.extras = std::move(extras);
  target.groups = std::move(groups);
  return target;
}

InstallTarget packages(std::vector<std::string> names)
{
  InstallTarget target;
  target.packages = std::move(names);
  return target;
}

const std::function<void(Environment&)> AS_IS = [](Environment&) {};

struct SyncCase
{
  std::string label;
  InstallTarget target;
  Verdict expected;
  std::function<void(Environment&)> change = AS_IS;
  std::string pyproject = PYPROJECT;
  std::optional<std::string> recorded = "hash-now";
  std::optional<std::string> recorded_head = HEAD_THEN;
};

void PrintTo(const SyncCase& tested, std::ostream* out)
{
  *out << tested.label;
}

class SyncCheck : public ::testing::TestWithParam<SyncCase>
{};

TEST_P(SyncCheck, JudgesAsAnInstallerWould)
{
  Environment environment;
  GetParam().change(environment);
  const Judgement judged =
    environment.judge(GetParam().target, GetParam().pyproject, GetParam().recorded, GetParam().recorded_head);
  EXPECT_EQ(judged.verdict, GetParam().expected) << judged.reason;
  EXPECT_EQ(judged.reason.empty(), GetParam().expected == Verdict::satisfied) << judged.reason;
}

std::string with(std::string text, const std::string& from, const std::string& to)
{
  return text.replace(text.find(from), from.size(), to);
}

const std::string DYNAMIC_VERSION = with(PYPROJECT, "version = \"1.0\"", "dynamic = [\"version\"]");
// A project dependency for the extra "web" only, as setuptools and hatchling
// copy it into Requires-Dist.
const std::string WEB_PYPROJECT =
  with(with(PYPROJECT, "\"six\"]", "\"six\", \"ujson; extra == 'Web'\"]"), "test = [", "web = [\"idna\"]\ntest = [");

// Extras that name each other and markers that compare `extra` in every
// way metadata does; "gone" is not installed.
void add_extras_maze(Environment& e)
{
  e.dist("site", "maze", "1.0",
         {"Provides-Extra: e0", "Provides-Extra: e1", "Provides-Extra: e2", "Provides-Extra: a", "Provides-Extra: b",
          "Provides-Extra: xy", "Requires-Dist: maze[e1]; extra == 'e0'", "Requires-Dist: maze[E2]; extra == \"e1\"",
          "Requires-Dist: gone; extra == 'e2'", "Requires-Dist: gone; extra == 'b' or extra == 'zz'",
          "Requires-Dist: six; extra != 'a'", "Requires-Dist: gone; 'x' in extra"});
}

INSTANTIATE_TEST_SUITE_P(
  Table, SyncCheck,
  ::testing::Values(
    SyncCase{"project_with_extra", project({"test"}), Verdict::satisfied},
    SyncCase{"project_with_included_group", project({}, {"dev"}), Verdict::satisfied},
    SyncCase{"tools_through_markers_and_the_system_site", packages({"pytest>=8", "six"}), Verdict::satisfied},
    SyncCase{"requirement_cycle", packages({"cyc-a"}), Verdict::satisfied},
    SyncCase{"extra_pulls_in_a_missing_dependency", project({"socks"}), Verdict::unsatisfied},
    SyncCase{"version_out_of_range", packages({"idna>=4"}), Verdict::unsatisfied},
    SyncCase{"missing_tool", packages({"ruff"}), Verdict::unsatisfied},
    SyncCase{"first_on_the_site_path_shadows", packages({"six>=1.10"}), Verdict::unsatisfied,
             [](Environment& e) { e.dist("site", "six", "1.0"); }},
    SyncCase{"dependency_removed", project({"test"}), Verdict::unsatisfied,
             [](Environment& e) { std::filesystem::remove_all(e.temp.path() / "site" / "iniconfig-2.0.0.dist-info"); }},
    SyncCase{"build_files_changed", project({}), Verdict::unsatisfied, AS_IS, PYPROJECT, std::string("hash-then")},
    SyncCase{"project_version_changed", project({}), Verdict::unsatisfied, AS_IS,
             with(PYPROJECT, "version = \"1.0\"", "version = \"1.1\"")},
    SyncCase{
      "project_not_editable", project({}), Verdict::unsatisfied,
      [](Environment& e) { e.dist("site", "app", "1.0", {}, R"({"url": "file:///elsewhere", "dir_info": {}})"); }},
    SyncCase{"project_from_another_directory", project({}), Verdict::unsatisfied,
             [](Environment& e) {
               e.dist("site", "app", "1.0", {}, R"({"url": "file:///elsewhere", "dir_info": {"editable": true}})");
             }},
    SyncCase{"no_install_on_record", project({}), Verdict::unsure, AS_IS, PYPROJECT, std::nullopt},
    SyncCase{"dynamic_version_at_the_recorded_commit", project({"test"}), Verdict::satisfied,
             [](Environment& e) {
               std::filesystem::remove_all(e.temp.path() / "site" / "app-1.0.dist-info");
               e.dist("site", "app", "1.1.dev3+g9fceb02", {}, e.editable_url());
             },
             DYNAMIC_VERSION},
    SyncCase{"dynamic_version_outside_a_work_tree", project({}), Verdict::satisfied,
             [](Environment& e) { e.head = "-"; }, DYNAMIC_VERSION, "hash-now", "-"},
    SyncCase{"dynamic_version_head_moved", project({}), Verdict::unsatisfied,
             [](Environment& e) { e.head = "1e2f3a4b5c6d7e8f9a0b1c2d3e4f5a6b7c8d9e0f"; }, DYNAMIC_VERSION},
    SyncCase{"dynamic_version_work_tree_made", project({}), Verdict::unsatisfied, AS_IS, DYNAMIC_VERSION, "hash-now",
             "-"},
    SyncCase{"dynamic_version_head_unreadable", project({}), Verdict::unsure,
             [](Environment& e) { e.head = std::nullopt; }, DYNAMIC_VERSION},
    SyncCase{"dynamic_version_no_head_on_record", project({}), Verdict::unsure, AS_IS, DYNAMIC_VERSION, "hash-now",
             std::nullopt},
    SyncCase{
      "dynamic_version_not_editable", project({}), Verdict::unsatisfied,
      [](Environment& e) { e.dist("site", "app", "1.0", {}, R"({"url": "file:///elsewhere", "dir_info": {}})"); },
      DYNAMIC_VERSION},
    SyncCase{"fingerprint_unavailable", project({}), Verdict::unsure,
             [](Environment& e) { e.files_hash = std::nullopt; }},
    SyncCase{"dependency_whose_marker_applies_is_absent", packages({"pytest"}), Verdict::unsatisfied,
             [](Environment& e) {
               e.dist("site", "pytest", "8.0.0",
                      {"Requires-Dist: iniconfig", "Requires-Dist: exceptiongroup>=1; python_version < \"3.12\""});
             }},
    SyncCase{"project_dependency_whose_marker_applies_is_absent", project({}), Verdict::unsatisfied, AS_IS,
             with(PYPROJECT, "\"six\"]", "\"six\", \"tomli; python_full_version >= '3.11.1'\"]")},
    SyncCase{"dynamic_dependencies", project({}), Verdict::unsure, AS_IS,
             with(PYPROJECT, "dependencies = [\"requests>=2\", \"six\"]", "dynamic = [\"dependencies\"]")},
    SyncCase{"include_cycle", project({}, {"loop"}), Verdict::unsure},
    SyncCase{"project_dependency_of_an_asked_extra", project({"web"}), Verdict::unsatisfied, AS_IS, WEB_PYPROJECT},
    SyncCase{"project_dependency_of_an_extra_not_asked", project({"test"}), Verdict::satisfied, AS_IS, WEB_PYPROJECT},
    SyncCase{"extras_followed_through_each_other", packages({"maze[e0]"}), Verdict::unsatisfied, add_extras_maze},
    SyncCase{"extra_named_in_an_or", packages({"maze[B]"}), Verdict::unsatisfied, add_extras_maze},
    SyncCase{"extra_found_by_in", packages({"maze[xy]"}), Verdict::unsatisfied, add_extras_maze},
    SyncCase{"extra_excluded_by_not_equal", packages({"maze[a]"}), Verdict::satisfied, add_extras_maze},
    SyncCase{"extra_not_provided", packages({"requests[security]"}), Verdict::unsure},
    SyncCase{"unknown_marker_variable", packages({"idna; interpreter_flavour == 'x'"}), Verdict::unsure},
    SyncCase{"direct_url_requirement", packages({"idna @ https://example.invalid/idna.whl"}), Verdict::unsure},
    SyncCase{"egg_info_only", packages({"legacy"}), Verdict::unsure,
             [](Environment& e) { e.temp.write("system/legacy-1.0.egg-info/PKG-INFO", "Name: legacy\n"); }},
    SyncCase{
      "metadata_unreadable", packages({"idna"}), Verdict::unsure,
      [](Environment& e) { std::filesystem::remove(e.temp.path() / "site" / "idna-3.4.dist-info" / "METADATA"); }},
    SyncCase{"folder_name_and_metadata_disagree_on_the_version", packages({"idna>=3.5"}), Verdict::unsure,
             [](Environment& e) {
               std::filesystem::rename(e.temp.path() / "site" / "idna-3.4.dist-info",
                                       e.temp.path() / "site" / "idna-3.5.dist-info");
             }},
    SyncCase{"two_folders_of_one_name", packages({"idna"}), Verdict::unsure,
             [](Environment& e) { e.dist("site", "IDNA", "3.5"); }},
    SyncCase{"malformed_requires_dist", packages({"broken"}), Verdict::unsure,
             [](Environment& e) { e.dist("site", "broken", "1.0", {"Requires-Dist: ==1.0"}); }}),
  [](const ::testing::TestParamInfo<SyncCase>& tested) { return tested.param.label; });

TEST(SyncCheckSignal, EndsTheJudgementAsItEndsEverythingElse)
{
  Environment environment;
  const platform::InterruptionHandlers handlers;
  platform::clear_interruption();
  ::raise(SIGTERM);
  EXPECT_THROW(environment.judge(packages({"pytest>=8"}), PYPROJECT, "hash-now", std::nullopt), Interrupted);
  platform::clear_interruption();
}

TEST(PipUpgrade, DueAfterSevenDaysWhenUnknownOrInTheFuture)
{
  constexpr std::int64_t NOW = 1'700'000'000;
  EXPECT_FALSE(pip_upgrade_due(NOW - PIP_UPGRADE_INTERVAL, NOW));
  EXPECT_TRUE(pip_upgrade_due(NOW - PIP_UPGRADE_INTERVAL - 1, NOW));
  EXPECT_TRUE(pip_upgrade_due(std::nullopt, NOW));
  EXPECT_TRUE(pip_upgrade_due(NOW + 60, NOW));
  EXPECT_TRUE(pip_upgrade_due(std::numeric_limits<std::int64_t>::min(), NOW));
  EXPECT_TRUE(pip_upgrade_due(std::numeric_limits<std::int64_t>::max(), NOW));
}

} // namespace
} // namespace tolvo::venv
