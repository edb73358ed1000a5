#include "tolvo/venv/installed.hpp"
#include "tolvo/venv/refresh_record.hpp"

#include "support/scoped_temp_dir.hpp"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace tolvo::venv {
namespace {

TEST(Metadata, HeaderOnlyWithFoldedLinesAndAnyCase)
{
  const auto metadata = parse_metadata("Metadata-Version: 2.1\r\nname: Foo.Bar\r\nVersion: 1.0rc1\r\n"
                                       "Requires-Dist: a>=1;\r\n  extra == 'x'\r\nProvides-Extra: X\r\n\r\n"
                                       "Requires-Dist: in-the-body\r\n");
  ASSERT_TRUE(metadata);
  EXPECT_EQ(*metadata, (DistributionMetadata{"Foo.Bar", "1.0rc1", {"a>=1; extra == 'x'"}, {"X"}}));
  EXPECT_FALSE(parse_metadata("Name: nameless-version\n"));
}

TEST(DirectUrl, ReadsUrlAndEditableAndRefusesTheMalformed)
{
  EXPECT_EQ(parse_direct_url(R"({"url": "file:///p", "dir_info": {"editable": true}})"),
            (DirectUrl{"file:///p", true}));
  EXPECT_EQ(parse_direct_url(R"({"url": "https://x/y.whl", "archive_info": {}})"),
            (DirectUrl{"https://x/y.whl", false}));
  for (const char* bad : {"", "[]", R"({"url": 1})", R"({"url": "file:///p", "dir_info": {"editable": "yes"}})",
                          R"({"url": "file:///p")"}) {
    EXPECT_FALSE(parse_direct_url(bad)) << bad;
  }
}

TEST(FileUrl, DecodesLocalPathsOnly)
{
  EXPECT_EQ(file_url_path("file:///home/a%20b/%C3%A9"), "/home/a b/\xc3\xa9");
  EXPECT_EQ(file_url_path("file://localhost/srv/p"), "/srv/p");
  EXPECT_FALSE(file_url_path("file://host/srv/p"));
  EXPECT_FALSE(file_url_path("https://example.invalid/p"));
  EXPECT_FALSE(file_url_path("file:///bad%2"));
}

// The script's output, written with "|" for its NUL separators.
std::string nul(std::string text)
{
  std::replace(text.begin(), text.end(), '|', '\0');
  return text;
}

const std::string FACTS = nul("marker implementation_name cpython|marker implementation_version 3.12.1|"
                              "marker os_name posix|marker platform_machine aarch64|"
                              "marker platform_python_implementation CPython|marker platform_release 6.1|"
                              "marker platform_system Linux|marker platform_version #1 SMP PREEMPT|"
                              "marker python_full_version 3.12.1|marker python_version 3.12|"
                              "marker sys_platform linux|site /v/lib/python3.12/site-packages|"
                              "site /usr/lib/python3/dist-packages|watch /home/u/.local/lib");

TEST(RefreshRecord, FactsAndRecordRoundTrip)
{
  const auto facts = parse_interpreter_facts(FACTS);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->markers.at("platform_version"), "#1 SMP PREEMPT");
  EXPECT_EQ(facts->site_path,
            (std::vector<std::string>{"/v/lib/python3.12/site-packages", "/usr/lib/python3/dist-packages"}));
  const RefreshRecord record{"0123456789abcdef",
                             1'700'000'000,
                             facts,
                             {{"/p/my project", "00000000feedf00d-0123456789abcdef"}},
                             {{"/p/my project", "unborn:refs/heads/x"}}};
  EXPECT_EQ(parse_record(format_record(record)), record);
}

TEST(RefreshRecord, AnythingIncompleteOrForeignIsRefused)
{
  // A marker variable missing, an unknown item, a value over two lines.
  EXPECT_FALSE(parse_interpreter_facts(FACTS.substr(FACTS.find("marker os_name"))));
  EXPECT_FALSE(parse_interpreter_facts(FACTS + nul("|exec x")));
  EXPECT_FALSE(parse_interpreter_facts(FACTS + nul("|site /a\nb")));
  const std::string good = format_record({"00000000000000ab", 5, std::nullopt, {}, {}});
  EXPECT_TRUE(parse_record(good));
  EXPECT_FALSE(parse_record("tolvo refresh record 2\ntie 00000000000000ab\n"));
  EXPECT_FALSE(parse_record(good + "marker python_version 3.12\n"));
  EXPECT_FALSE(parse_record(good + "head 0123abcd\n"));
  EXPECT_FALSE(parse_record(good.substr(0, good.size() - 1)));
  // Values out of range or in another spelling: a record that says them is
  // no record, so the steps run.
  for (const char* bad : {"pip-upgraded soon", "pip-upgraded -5", "pip-upgraded +5", "pip-upgraded  5",
                          "pip-upgraded 99999999999999999999", "pip-upgraded -9223372036854775808", "pip-upgraded 1e9",
                          "pip-upgraded ", "project feed /p", "project 00000000000000AB /p", "tie abc"}) {
    EXPECT_FALSE(parse_record(good + bad + "\n")) << bad;
  }
  EXPECT_NE(environment_tie("version = 3.12.1\n", "python", {{"HOME", "/root"}}),
            environment_tie("version = 3.12.2\n", "python", {{"HOME", "/root"}}));
  EXPECT_NE(environment_tie("v\n", "python", {{"PYTHONPATH", std::nullopt}}),
            environment_tie("v\n", "python", {{"PYTHONPATH", ""}}));
}

// A venv's bin/python is a link to the base interpreter. Replacing that
// file, or pointing the link elsewhere, leaves pyvenv.cfg as it was.
TEST(RefreshRecord, TiedToTheInterpreterFileItself)
{
  testing::ScopedTempDir temp;
  temp.write("venv/pyvenv.cfg", "home = /usr/bin\nversion = 3.11.7\n");
  temp.write("base/python3.11", "an interpreter");
  temp.write("other/python3.12", "another interpreter");
  const std::string venv = (temp.path() / "venv").string();
  EXPECT_FALSE(current_tie(venv));
  std::filesystem::create_directories(temp.path() / "venv" / "bin");
  std::filesystem::create_symlink(temp.path() / "base" / "python3.11", temp.path() / "venv" / "bin" / "python");
  const std::optional<std::string> tie = current_tie(venv);
  ASSERT_TRUE(tie);
  EXPECT_EQ(current_tie(venv), tie);
  // The same bytes in a new file, as a package upgrade leaves it.
  temp.write("base/python3.11.new", "an interpreter");
  std::filesystem::rename(temp.path() / "base" / "python3.11.new", temp.path() / "base" / "python3.11");
  const std::optional<std::string> replaced = current_tie(venv);
  EXPECT_NE(replaced, tie);
  std::filesystem::remove(temp.path() / "venv" / "bin" / "python");
  std::filesystem::create_symlink(temp.path() / "other" / "python3.12", temp.path() / "venv" / "bin" / "python");
  EXPECT_NE(current_tie(venv), replaced);
}

} // namespace
} // namespace tolvo::venv
