#include "tolvo/venv/installed.hpp"
#include "tolvo/venv/refresh_record.hpp"

#include <algorithm>
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
  const RefreshRecord record{
    "0123456789abcdef", 1'700'000'000, facts, {{"/p/my project", "feed"}}, {{"/p/my project", "unborn:refs/heads/x"}}};
  EXPECT_EQ(parse_record(format_record(record)), record);
}

TEST(RefreshRecord, AnythingIncompleteOrForeignIsRefused)
{
  // A marker variable missing, an unknown item, a value over two lines.
  EXPECT_FALSE(parse_interpreter_facts(FACTS.substr(FACTS.find("marker os_name"))));
  EXPECT_FALSE(parse_interpreter_facts(FACTS + nul("|exec x")));
  EXPECT_FALSE(parse_interpreter_facts(FACTS + nul("|site /a\nb")));
  const std::string good = format_record({"abc", 5, std::nullopt, {}, {}});
  EXPECT_TRUE(parse_record(good));
  EXPECT_FALSE(parse_record("tolvo refresh record 2\ntie abc\n"));
  EXPECT_FALSE(parse_record(good + "pip-upgraded soon\n"));
  EXPECT_FALSE(parse_record(good + "marker python_version 3.12\n"));
  EXPECT_FALSE(parse_record(good + "head 0123abcd\n"));
  EXPECT_FALSE(parse_record(good.substr(0, good.size() - 1)));
  EXPECT_NE(environment_tie("version = 3.12.1\n", {{"HOME", "/root"}}),
            environment_tie("version = 3.12.2\n", {{"HOME", "/root"}}));
  EXPECT_NE(environment_tie("v\n", {{"PYTHONPATH", std::nullopt}}), environment_tie("v\n", {{"PYTHONPATH", ""}}));
}

} // namespace
} // namespace tolvo::venv
