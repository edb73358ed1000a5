// The exclusive lock on a file: one holder at a time, even within one
// process, and never through a name that no longer leads to the locked file.

#include "tolvo/errors.hpp"
#include "tolvo/platform/file_lock.hpp"

#include "support/scoped_temp_dir.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace tolvo::platform {
namespace {

TEST(FileLockTest, OneHolderAtATimeAndFreeAgainWhenReleased)
{
  const tolvo::testing::ScopedTempDir temp;
  std::optional<FileLock> first = FileLock::try_take("lock");
  ASSERT_TRUE(first);
  EXPECT_FALSE(FileLock::try_take("lock"));
  first.reset();
  EXPECT_TRUE(FileLock::try_take("lock"));
}

TEST(FileLockTest, AMissingDirectoryIsAnError)
{
  const tolvo::testing::ScopedTempDir temp;
  EXPECT_THROW(FileLock::try_take("missing/lock"), SystemError);
}

} // namespace
} // namespace tolvo::platform
