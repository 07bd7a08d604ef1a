// Standard error through the one writer: a reader that has stopped reading
// holds a line for a while at most, and once it has room the next line goes
// whole.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

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

// A reader that does not read: its end to read from and the end standard
// error is made. Both -1 when it cannot be made.
struct Reader {
  int read = -1, write = -1;
};

Reader Pipe() {
  int ends[2];
  if (::pipe(ends) != 0) return {};
  return {ends[0], ends[1]};
}

// A terminal as a shell leaves it (its output cooked: each line's end
// takes two characters).
Reader Terminal() {
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return {};
  return {master, slave};
}

struct SayRow {
  const char* name;
  Reader (*make)();
  bool nonBlocking;  // standard error left non-blocking by whoever shares it
  const char* lineEnd;
};

class SayTest : public ::testing::TestWithParam<SayRow> {};

TEST_P(SayTest, ALineAStoppedReaderCannotTakeIsDroppedAndTheNextOneGoesWhole) {
  const SayRow& row = GetParam();
  const Reader reader = row.make();
  ASSERT_GE(reader.read, 0);
  SetNonBlocking(reader.read, true);
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(reader.write, STDERR_FILENO);
  ::close(reader.write);
  SetNonBlocking(STDERR_FILENO, row.nonBlocking);
  // Lines until the reader's room is spent and one is dropped. A writer
  // that waits for good is freed by reading, and fails the test.
  std::packaged_task<bool()> fill([] {
    for (int i = 0; i < 100000; ++i)
      if (!PlatformSay("qor: %s\n", "first")) return true;
    return false;
  });
  std::future<bool> dropped = fill.get_future();
  std::thread writer(std::move(fill));
  const bool held = dropped.wait_for(std::chrono::seconds(60)) != std::future_status::ready;
  while (dropped.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
    Drain(reader.read);
  writer.join();
  Drain(reader.read);
  const bool next = PlatformSay("qor: %s\n", "next");
  const std::string line = std::string("qor: next") + row.lineEnd;
  std::string read;
  for (int i = 0; i < 6000 && (read.size() < line.size() ||
                               read.compare(read.size() - line.size(), line.size(), line) != 0);
       ++i) {
    read += Drain(reader.read);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(reader.read);
  EXPECT_FALSE(held);
  EXPECT_TRUE(dropped.get());
  EXPECT_TRUE(next);
  EXPECT_TRUE(read.size() >= line.size() &&
              read.compare(read.size() - line.size(), line.size(), line) == 0)
      << read;
}

INSTANTIATE_TEST_SUITE_P(Each, SayTest,
                         ::testing::Values(SayRow{"Pipe", Pipe, false, "\n"},
                                           SayRow{"PipeLeftNonBlocking", Pipe, true, "\n"},
                                           SayRow{"Terminal", Terminal, false, "\r\n"}),
                         [](const ::testing::TestParamInfo<SayRow>& info) {
                           return info.param.name;
                         });

// A standard stream closed when the program starts (`./qor 2>&-`) would
// hand its number to the next file or socket the program opens (the
// display's connection, a file being saved), and the lines said after would
// go into it: they go nowhere instead. The row: the stream and its writer.
struct ClosedRow {
  const char* name;
  int stream;
  bool (*say)(const char* format, ...);
};

class SayClosedStreamTest : public ::testing::TestWithParam<ClosedRow> {};

TEST_P(SayClosedStreamTest, TakesNothingTheProgramOpensLater) {
  const ClosedRow& row = GetParam();
  char folder[] = "/tmp/qor_say_XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string kept = std::string(folder) + "/kept";
  const int saved = ::dup(row.stream);
  ::close(row.stream);
  PlatformSayStart();
  const int file = ::open(kept.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  row.say("qor: %s\n", "a line");
  ::close(file);
  ::dup2(saved, row.stream);
  ::close(saved);
  const int in = ::open(kept.c_str(), O_RDONLY);
  const std::string held = Drain(in);
  ::close(in);
  ::unlink(kept.c_str());
  ::rmdir(folder);
  EXPECT_EQ(held, "");
}

INSTANTIATE_TEST_SUITE_P(Each, SayClosedStreamTest,
                         ::testing::Values(ClosedRow{"Output", STDOUT_FILENO, PlatformSayOut},
                                           ClosedRow{"Error", STDERR_FILENO, PlatformSay}),
                         [](const ::testing::TestParamInfo<ClosedRow>& info) {
                           return info.param.name;
                         });

}  // namespace
