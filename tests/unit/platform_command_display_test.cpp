#include "tolvo/platform/command_display.hpp"

#include <gtest/gtest.h>

namespace tolvo::platform {
namespace {

TEST(ShellQuote, QuotesOnlyWhatAShellWouldSplitOrExpand)
{
  EXPECT_EQ(shell_quote("/p/.venv/bin/pip"), "/p/.venv/bin/pip");
  EXPECT_EQ(shell_quote("--volume=/a:/src"), "--volume=/a:/src");
  EXPECT_EQ(shell_quote(""), "''");
  EXPECT_EQ(shell_quote(".[dev,test]"), "'.[dev,test]'");
  EXPECT_EQ(shell_quote("a b"), "'a b'");
  EXPECT_EQ(shell_quote("$(id)"), "'$(id)'");
  EXPECT_EQ(shell_quote("it's"), "'it'\"'\"'s'");
}

TEST(FailedRunMessage, NamesTheCommandAsAShellShowsItWithTheStatus)
{
  EXPECT_EQ(failed_run_message({"/v/bin/pip", "install", "-e", ".[test]"}, 1),
            "command failed with exit status 1: /v/bin/pip install -e '.[test]'");
  EXPECT_EQ(failed_run_message({"docker", "run"}, -9), "command died with signal 9: docker run");
}

TEST(FailedRunMessage, AScriptIsShownByItsFirstLineAndLineCount)
{
  const std::string script = "\nset -e\ncd /src\n\npython -m build\n";
  EXPECT_EQ(failed_run_message({"docker", "run", "img", "/bin/bash", "-ec", script}, 2),
            "command failed with exit status 2: docker run img /bin/bash -ec 'set -e'... (5 lines)");
}

} // namespace
} // namespace tolvo::platform
