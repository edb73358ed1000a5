// Which terminals the progress displays may redraw on.

#include "tolvo/platform/terminal.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvo::platform {
namespace {

TEST(TerminalRedraws, NotOnADumbOrUnknownTerminal)
{
  const std::vector<std::pair<std::optional<std::string_view>, bool>> cases = {
    {std::nullopt, false}, {"", false},      {"dumb", false}, {"xterm-256color", true},
    {"linux", true},       {"screen", true}, {"vt100", true},
  };
  for (const auto& [term, expected] : cases) {
    EXPECT_EQ(terminal_redraws(term), expected) << term.value_or("(unset)");
  }
}

} // namespace
} // namespace tolvo::platform
