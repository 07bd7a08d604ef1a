// Standard error through the one writer: a pipe nobody reads holds a line
// for a while at most, and once it has room the next line goes whole.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "host/platform/say.h"

namespace {

void SetNonBlocking(int fd, bool on) {
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
}

std::string Drain(int fd) {
  std::string all;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) all.append(buffer, n);
  return all;
}

// The row: whether standard error was left non-blocking.
class SayTest : public ::testing::TestWithParam<bool> {};

TEST_P(SayTest, ALineAFullPipeCannotTakeIsDroppedAndTheNextOneGoesWhole) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_NONBLOCK), 0);
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(ends[1], STDERR_FILENO);
  ::close(ends[1]);
  for (size_t size : {4096, 1})
    while (::write(STDERR_FILENO, std::string(size, 'x').data(), size) > 0) {
    }
  SetNonBlocking(STDERR_FILENO, GetParam());
  const bool first = PlatformSay("qor: %s\n", "first");
  Drain(ends[0]);
  const bool next = PlatformSay("qor: %s\n", "next");
  const std::string read = Drain(ends[0]);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(ends[0]);
  EXPECT_FALSE(first);
  EXPECT_TRUE(next);
  EXPECT_EQ(read, "qor: next\n");
}

INSTANTIATE_TEST_SUITE_P(Each, SayTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "NonBlocking" : "Blocking";
                         });

}  // namespace
