#include "tolvo/console/spinner.hpp"
#include "tolvo/platform/text.hpp"

#include <gtest/gtest.h>

namespace tolvo::console {
namespace {

TEST(SpinnerLine, FitsANarrowTerminalByCuttingTheActionNotTheFrame)
{
  const std::string frame(SPINNER_FRAMES[3]);
  EXPECT_EQ(spinner_line("Installing requirements", 3), "Installing requirements: [" + frame + "]");
  EXPECT_EQ(spinner_line("Installing requirements", 3, 80), "Installing requirements: [" + frame + "]");
  // 20 columns: 19 characters at most, the last column left free.
  EXPECT_EQ(spinner_line("Installing requirements", 3, 20), "Installing req: [" + frame + "]");
  EXPECT_EQ(spinner_line("Caf\xc3\xa9 au lait", 3, 10), "Caf\xc3\xa9: [" + frame + "]");
  for (std::size_t columns = 1; columns < 30; ++columns) {
    EXPECT_LT(platform::character_count(spinner_line("Upgrading pip", 0, columns)), columns);
    EXPECT_EQ(spinner_blank("Upgrading pip", 0, columns),
              "\r" + std::string(platform::character_count(spinner_line("Upgrading pip", 0, columns)), ' ') + "\r");
  }
}

} // namespace
} // namespace tolvo::console
