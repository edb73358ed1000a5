// The descriptor owner closes what it holds exactly once: never again
// after a move or a release, when the same number may already belong to a
// file opened since.

#include "tolvo/platform/handles.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <utility>

namespace tolvo::platform {
namespace {

bool is_open(int fd)
{
  return ::fcntl(fd, F_GETFD) != -1;
}

UniqueFd open_null()
{
  UniqueFd fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  EXPECT_TRUE(fd.is_open());
  return fd;
}

// Puts a new open file at `number`, as a later open() might.
UniqueFd reopen_at(int number)
{
  UniqueFd fresh = open_null();
  if (fresh.get() == number) {
    return fresh;
  }
  EXPECT_EQ(::dup3(fresh.get(), number, O_CLOEXEC), number);
  return UniqueFd(number);
}

TEST(UniqueFdTest, AMovedFromOwnerNeverClosesTheNumberAgain)
{
  UniqueFd first = open_null();
  const int number = first.get();
  {
    const UniqueFd second(std::move(first));
    EXPECT_TRUE(is_open(number));
  }
  EXPECT_FALSE(is_open(number));
  const UniqueFd reused = reopen_at(number);
  first.reset();
  first = UniqueFd();
  EXPECT_TRUE(is_open(number));
}

TEST(UniqueFdTest, AssignmentClosesTheOldAndReleaseHandsOver)
{
  UniqueFd held = open_null();
  const int old_number = held.get();
  UniqueFd other = open_null();
  const int new_number = other.get();
  held = std::move(other);
  EXPECT_FALSE(is_open(old_number));
  EXPECT_EQ(held.get(), new_number);

  const int released = held.release();
  held.reset();
  EXPECT_FALSE(held.is_open());
  ASSERT_TRUE(is_open(released));
  ::close(released);
}

} // namespace
} // namespace tolvo::platform
