#include "tolvo/config/pyproject.hpp"
#include "tolvo/errors.hpp"

#include "support/scoped_temp_dir.hpp"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace {

using tolvo::config::ProjectConfig;
using tolvo::testing::ScopedTempDir;

ProjectConfig from_text(const std::string& text)
{
  std::istringstream stream(text);
  return ProjectConfig(stream);
}

std::vector<std::string> group_names(const tolvo::config::Extras& extras)
{
  std::vector<std::string> names;
  for (const auto& group : extras) {
    names.push_back(group.name);
  }
  return names;
}

TEST(ProjectConfig, ReadsEveryAccessor)
{
  const ProjectConfig config = from_text(R"(
[project]
name = "demo"
version = "1.0"
requires-python = ">=3.11"
[project.optional-dependencies]
test = ["pytest>=8"]
dev = []
[build-system]
requires = ["setuptools>=61", "wheel"]
build-backend = "setuptools.build_meta"
[tool.ruff]
exclude = [".venv", "build"]
[tool.pyright]
exclude = []
)");
  EXPECT_EQ(config.name(), "demo");
  EXPECT_EQ(config.version(), "1.0");
  EXPECT_EQ(config.requires_python(), ">=3.11");
  EXPECT_EQ(config.build_system_requires(), (std::vector<std::string>{"setuptools>=61", "wheel"}));
  EXPECT_EQ(config.build_backend(), "setuptools.build_meta");
  EXPECT_EQ(config.ruff_exclude(), (std::vector<std::string>{".venv", "build"}));
  // An empty array is an empty list, never none.
  ASSERT_TRUE(config.pyright_exclude().has_value());
  EXPECT_TRUE(config.pyright_exclude()->empty());

  const auto extras = config.extras();
  ASSERT_TRUE(extras.has_value());
  // Document order, not toml++'s sorted order.
  EXPECT_EQ(group_names(*extras), (std::vector<std::string>{"test", "dev"}));
  EXPECT_EQ((*extras)[0].requirements, (std::vector<std::string>{"pytest>=8"}));
  EXPECT_TRUE((*extras)[1].requirements.empty());
}

TEST(ProjectConfig, KeepsDocumentOrderOfManyGroups)
{
  const ProjectConfig config = from_text(R"(
[project]
name = "x"
optional-dependencies = { zeta = [], alpha = [], mid = [] }
)");
  EXPECT_EQ(group_names(*config.extras()), (std::vector<std::string>{"zeta", "alpha", "mid"}));
}

TEST(ProjectConfig, OptionalLookupsGiveNone)
{
  const ProjectConfig config = from_text("[project]\nname = 'x'\n[tool.ruff]\nline-length = 80\n");
  EXPECT_FALSE(config.extras().has_value());
  EXPECT_FALSE(config.ruff_exclude().has_value());
  EXPECT_FALSE(config.pyright_exclude().has_value());
  EXPECT_FALSE(config.requires_python().has_value());
  EXPECT_FALSE(from_text("").requires_python().has_value());
  EXPECT_FALSE(config.test_groups().has_value());
  EXPECT_FALSE(config.system_site_packages().has_value());
}

TEST(ProjectConfig, ReadsTheToolsOwnSettings)
{
  const ProjectConfig config =
    from_text("[tool.tolvo]\ntest-groups = ['tests', 'dev']\nsystem-site-packages = false\n");
  EXPECT_EQ(config.test_groups(), (std::vector<std::string>{"tests", "dev"}));
  EXPECT_EQ(config.system_site_packages(), false);
}

struct FailureCase
{
  const char* label;
  const char* document;
  std::function<void(const ProjectConfig&)> access;
  const char* kind;
  const char* message;
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
  *os << c.label;
}

class ProjectConfigFailure : public testing::TestWithParam<FailureCase>
{};

TEST_P(ProjectConfigFailure, RaisesTheRightKindWithItsMessage)
{
  const FailureCase& c = GetParam();
  const ProjectConfig config = from_text(c.document);
  try {
    c.access(config);
    FAIL() << "no error raised";
  } catch (const tolvo::MissingKeyError& error) {
    EXPECT_STREQ(c.kind, "missing-key");
    EXPECT_EQ(error.what(), std::string(c.message));
  } catch (const tolvo::AssertionFailure& error) {
    EXPECT_STREQ(c.kind, "assertion");
    EXPECT_EQ(error.what(), std::string(c.message));
  } catch (const tolvo::NotATable& error) {
    EXPECT_STREQ(c.kind, "type");
    EXPECT_EQ(error.what(), std::string(c.message));
  }
}

const auto name = [](const ProjectConfig& c) { (void)c.name(); };
const auto version = [](const ProjectConfig& c) { (void)c.version(); };
const auto extras = [](const ProjectConfig& c) { (void)c.extras(); };
const auto requires_ = [](const ProjectConfig& c) { (void)c.build_system_requires(); };
const auto backend = [](const ProjectConfig& c) { (void)c.build_backend(); };
const auto ruff = [](const ProjectConfig& c) { (void)c.ruff_exclude(); };
const auto pyright = [](const ProjectConfig& c) { (void)c.pyright_exclude(); };
const auto python = [](const ProjectConfig& c) { (void)c.requires_python(); };
const auto test_groups = [](const ProjectConfig& c) { (void)c.test_groups(); };
const auto system_site = [](const ProjectConfig& c) { (void)c.system_site_packages(); };

INSTANTIATE_TEST_SUITE_P(
  Cases, ProjectConfigFailure,
  testing::Values(
    FailureCase{"no_project_name", "", name, "missing-key", "missing key 'project' in pyproject.toml"},
    FailureCase{"no_project_extras", "", extras, "missing-key", "missing key 'project' in pyproject.toml"},
    FailureCase{"no_name", "[project]\n", name, "missing-key", "missing key 'name' in pyproject.toml"},
    FailureCase{"no_version", "[project]\n", version, "missing-key", "missing key 'version' in pyproject.toml"},
    FailureCase{"version_int", "[project]\nversion = 1\n", version, "assertion", "1"},
    FailureCase{"name_bool", "[project]\nname = true\n", name, "assertion", "True"},
    FailureCase{"extras_array", "[project]\noptional-dependencies = ['a']\n", extras, "assertion", "['a']"},
    FailureCase{"no_build_system", "", requires_, "missing-key", "missing key 'build-system' in pyproject.toml"},
    FailureCase{"no_requires", "[build-system]\n", requires_, "missing-key",
                "missing key 'requires' in pyproject.toml"},
    FailureCase{"requires_string", "[build-system]\nrequires = 'setuptools'\n", requires_, "assertion", "'setuptools'"},
    FailureCase{"no_backend", "[build-system]\n", backend, "missing-key",
                "missing key 'build-backend' in pyproject.toml"},
    FailureCase{"no_tool_ruff", "", ruff, "missing-key", "missing key 'tool' in pyproject.toml"},
    FailureCase{"no_tool_pyright", "", pyright, "missing-key", "missing key 'tool' in pyproject.toml"},
    FailureCase{"ruff_not_table", "[tool]\nruff = [1, 2.5]\n", ruff, "assertion", "[1, 2.5]"},
    FailureCase{"exclude_string", "[tool.pyright]\nexclude = 'build'\n", pyright, "assertion", "'build'"},
    FailureCase{"requires_python_int", "[project]\nrequires-python = 3\n", python, "assertion", "3"},
    FailureCase{"project_not_table_python", "project = 'x'\n", python, "assertion", "'x'"},
    FailureCase{"project_int_name", "project = 5\n", name, "type", "cannot look up 'name' in 5: not a table"},
    FailureCase{"tool_string_ruff", "tool = 'x'\n", ruff, "type", "cannot look up 'ruff' in 'x': not a table"}),
  [](const testing::TestParamInfo<FailureCase>& case_info) { return std::string(case_info.param.label); });

// A value is shown sixteen levels down, deeper containers as Python's
// reprlib shows them, so a message stays short and its walk bounded.
TEST(ProjectConfig, DeepValueIsShownSixteenLevelsDown)
{
  std::string value = "1";
  std::string shown = "{...}";
  for (int level = 0; level < 17; ++level) {
    value = "{a = " + value + "}";
    shown = level < 16 ? "{'a': " + shown + "}" : shown;
  }
  const ProjectConfig config = from_text("[project]\nname = " + value + "\n");
  try {
    (void)config.name();
    FAIL() << "no error raised";
  } catch (const tolvo::AssertionFailure& error) {
    EXPECT_EQ(error.what(), shown);
  }
}

// The message of a type failure is the bare value; its context names the
// source and the key path, so that the report says what was wrong.
struct ContextCase
{
  const char* label;
  const char* document;
  std::function<void(const ProjectConfig&)> access;
  const char* context;
};

void PrintTo(const ContextCase& c, std::ostream* os)
{
  *os << c.label;
}

class ProjectConfigFailureContext : public testing::TestWithParam<ContextCase>
{};

TEST_P(ProjectConfigFailureContext, NamesTheKeyPath)
{
  const ContextCase& c = GetParam();
  const ProjectConfig config = from_text(c.document);
  try {
    c.access(config);
    FAIL() << "no error raised";
  } catch (const tolvo::Error& error) {
    EXPECT_EQ(error.context(), std::string(c.context));
  }
}

INSTANTIATE_TEST_SUITE_P(
  Cases, ProjectConfigFailureContext,
  testing::Values(
    ContextCase{"version_int", "[project]\nversion = 1\n", version, "<stream>: 'project.version' is not a string"},
    ContextCase{"name_bool", "[project]\nname = true\n", name, "<stream>: 'project.name' is not a string"},
    ContextCase{"extras_array", "[project]\noptional-dependencies = ['a']\n", extras,
                "<stream>: 'project.optional-dependencies' is not a table"},
    ContextCase{"group_string", "[project.optional-dependencies]\ntest = 'pytest'\n", extras,
                "<stream>: 'project.optional-dependencies.test' is not an array"},
    ContextCase{"requires_string", "[build-system]\nrequires = 'x'\n", requires_,
                "<stream>: 'build-system.requires' is not an array"},
    ContextCase{"backend_int", "[build-system]\nbuild-backend = 7\n", backend,
                "<stream>: 'build-system.build-backend' is not a string"},
    ContextCase{"ruff_not_table", "[tool]\nruff = 1\n", ruff, "<stream>: 'tool.ruff' is not a table"},
    ContextCase{"exclude_string", "[tool.pyright]\nexclude = 'b'\n", pyright,
                "<stream>: 'tool.pyright.exclude' is not an array"},
    ContextCase{"requires_python_int", "[project]\nrequires-python = 3\n", python,
                "<stream>: 'project.requires-python' is not a string"},
    ContextCase{"project_not_table", "project = 'x'\n", python, "<stream>: 'project' is not a table"},
    ContextCase{"project_int_name", "project = 5\n", name, "<stream>: 'project'"},
    ContextCase{"build_system_string", "build-system = 's'\n", backend, "<stream>: 'build-system'"},
    ContextCase{"test_groups_string", "[tool.tolvo]\ntest-groups = 'tests'\n", test_groups,
                "<stream>: 'tool.tolvo.test-groups' is not an array"},
    ContextCase{"test_groups_item_table", "[tool.tolvo]\ntest-groups = ['tests', {a = 1}]\n", test_groups,
                "<stream>: 'tool.tolvo.test-groups[1]' is not a string"},
    ContextCase{"system_site_string", "[tool.tolvo]\nsystem-site-packages = 'false'\n", system_site,
                "<stream>: 'tool.tolvo.system-site-packages' is not a boolean"},
    ContextCase{"missing_key_has_none", "", name, ""}),
  [](const testing::TestParamInfo<ContextCase>& case_info) { return std::string(case_info.param.label); });

TEST(ProjectConfig, FailureContextNamesTheFileReadFromDisk)
{
  ScopedTempDir dir;
  dir.write("pyproject.toml", "[project]\nversion = 1.5\n");
  try {
    (void)ProjectConfig().version();
    FAIL() << "no error raised";
  } catch (const tolvo::AssertionFailure& error) {
    EXPECT_STREQ(error.what(), "1.5");
    EXPECT_EQ(error.context(), (dir.path() / "pyproject.toml").string() + ": 'project.version' is not a string");
  }
}

TEST(ProjectConfig, AFifoOrDeviceIsRefusedWithoutReading)
{
  ScopedTempDir dir;
  ASSERT_EQ(::mkfifo("pyproject.toml", 0600), 0);
  // Opening a FIFO for reading would wait for a writer forever.
  try {
    ProjectConfig config;
    FAIL() << "no error raised";
  } catch (const tolvo::SystemError& error) {
    EXPECT_NE(std::string(error.what()).find("pyproject.toml': not a regular file"), std::string::npos);
  }
  EXPECT_THROW(ProjectConfig(std::filesystem::path("/dev/zero")), tolvo::SystemError);
}

TEST(ProjectConfig, InvalidTomlNamesTheFaultAndPosition)
{
  try {
    from_text("[project]\nname = \n");
    FAIL() << "no error raised";
  } catch (const tolvo::InvalidValue& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find("invalid TOML"), std::string::npos) << message;
    EXPECT_NE(message.find("line 2"), std::string::npos) << message;
  }
}

// A non-ASCII letter where toml++ looks for whitespace once ran into
// undefined behaviour in its code-point tables (caught by the sanitizer
// build and the pyproject fuzz target), and one opening a table name into
// a failed assertion, instead of giving a parse error.
class ProjectConfigNonAscii : public testing::TestWithParam<const char*>
{};

TEST_P(ProjectConfigNonAscii, OutsideStringsIsInvalidToml)
{
  try {
    from_text(GetParam());
    FAIL() << "no error raised";
  } catch (const tolvo::InvalidValue& error) {
    EXPECT_NE(std::string(error.what()).find("invalid TOML"), std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(ProjectConfig, ProjectConfigNonAscii,
                         testing::Values("[bj\xef\xbb\xb0naersx =i", // U+FEF0, the fuzzer's input
                                         "\xc3\xa9 = 1\n",           // U+00E9 starting a key
                                         "[project]\nname = caf\xc3\xa9\n",
                                         "a = 1 \xe3\x80\x81\n", // U+3001, beside the ideographic space
                                         "[\xc2\xa7]\n"));

TEST(ProjectConfig, NonAsciiAfterALineEndingBackslashIsText)
{
  const ProjectConfig config = from_text("[project]\nname = \"\"\"\\\n  \xc2\xa7"
                                         "demo\"\"\"\n");
  EXPECT_EQ(config.name(), "\xc2\xa7"
                           "demo");
}

TEST(ProjectConfig, VersionFilesAsEachBackEndNamesThem)
{
  using Files = std::vector<std::string>;
  EXPECT_EQ(from_text("[tool.hatch.version]\npath = \"src/app/__about__.py\"\n").version_files(),
            Files{"src/app/__about__.py"});
  EXPECT_EQ(from_text("[tool.setuptools.dynamic]\nversion = {file = [\"VERSION\", \"x\"]}\n").version_files(),
            (Files{"VERSION", "x"}));
  EXPECT_EQ(from_text("[tool.setuptools.dynamic]\nversion = {attr = \"app.meta.__version__\"}\n").version_files(),
            (Files{"app/meta.py", "app/meta/__init__.py", "src/app/meta.py", "src/app/meta/__init__.py"}));
  EXPECT_EQ(
    from_text("[build-system]\nbuild-backend = \"flit_core.buildapi\"\n[project]\nname = \"my-app\"\n").version_files(),
    (Files{"my_app.py", "my_app/__init__.py", "src/my_app.py", "src/my_app/__init__.py"}));
  EXPECT_EQ(from_text("[tool.hatch.version]\nsource = \"vcs\"\n").version_files(), Files{});
}

TEST(ProjectConfigSearch, FindsTheNearestFileUpward)
{
  ScopedTempDir dir;
  dir.write("pyproject.toml", "[project]\nname = 'outer'\n");
  dir.write("inner/pyproject.toml", "[project]\nname = 'inner'\n");
  std::filesystem::create_directories(dir.path() / "inner/deep/er");
  std::filesystem::create_directories(dir.path() / "other");

  std::filesystem::current_path(dir.path() / "inner/deep/er");
  EXPECT_EQ(ProjectConfig().name(), "inner");

  std::filesystem::current_path(dir.path() / "other");
  EXPECT_EQ(ProjectConfig().name(), "outer");
}

TEST(ProjectConfigSearch, ADirectoryNamedPyprojectEndsTheSearch)
{
  ScopedTempDir dir;
  dir.write("pyproject.toml", "[project]\nname = 'outer'\n");
  std::filesystem::create_directories(dir.path() / "sub/pyproject.toml");
  std::filesystem::current_path(dir.path() / "sub");
  try {
    ProjectConfig config;
    FAIL() << "no error raised";
  } catch (const tolvo::SystemError& error) {
    EXPECT_EQ(error.what(), "cannot open '" + (dir.path() / "sub/pyproject.toml").string() + "': Is a directory");
  }
}

TEST(ProjectConfigSearch, ExplicitPathIsOpenedWithoutSearch)
{
  ScopedTempDir dir;
  dir.write("settings.toml", "[project]\nname = 'explicit'\n");
  EXPECT_EQ(ProjectConfig(std::filesystem::path("settings.toml")).name(), "explicit");
  EXPECT_THROW(ProjectConfig(std::filesystem::path("missing.toml")), tolvo::SystemError);
}

TEST(ProjectConfigSearch, NoFileAnywhereIsNotFound)
{
  ScopedTempDir dir;
  // /tmp and / have no pyproject.toml on a sane machine; skip if they do.
  for (auto p = dir.path().parent_path();; p = p.parent_path()) {
    if (std::filesystem::exists(p / "pyproject.toml")) {
      GTEST_SKIP() << "an ancestor holds a pyproject.toml";
    }
    if (p == p.root_path()) {
      break;
    }
  }
  try {
    ProjectConfig config;
    FAIL() << "no error raised";
  } catch (const tolvo::NotFoundError& error) {
    EXPECT_STREQ(error.what(), "pyproject.toml not found");
  }
}

// Every real-world file parses, and each accessor either answers or fails
// with one of tolvo's own errors: never a crash or a foreign exception.
TEST(ProjectConfigCorpus, EveryFileParsesAndAccessorsAnswerOrRaise)
{
  const std::filesystem::path corpus = TOLVO_CORPUS_DIR;
  // A missing corpus is a broken set-up, not a pass: configure with
  // -DTOLVO_CORPUS_DIR=<directory of pyproject.toml files> to point at one.
  ASSERT_TRUE(std::filesystem::is_directory(corpus)) << "corpus not found at " << corpus;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.path().extension() != ".toml") {
      continue;
    }
    ++files;
    const ProjectConfig config(entry.path());
    const std::vector<std::function<void()>> calls = {
      [&] { (void)config.name(); },          [&] { (void)config.version(); },
      [&] { (void)config.extras(); },        [&] { (void)config.build_system_requires(); },
      [&] { (void)config.build_backend(); }, [&] { (void)config.pyright_exclude(); },
      [&] { (void)config.ruff_exclude(); },  [&] { (void)config.requires_python(); },
    };
    for (const auto& call : calls) {
      try {
        call();
      } catch (const tolvo::Error&) {
        // A missing key or odd type is a legitimate answer for a real file.
      }
    }
  }
  EXPECT_GE(files, 50);
}

} // namespace
