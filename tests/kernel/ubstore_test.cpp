// The storage classes: whole-file reads and writes with their answers, the
// quotas, and a save killed at random points that never leaves a torn file.
#include "kernel/ubstore.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kernel/sstore.h"
#include "tests/kernel/config_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

class UbstoreReplyTest : public WorkDirFixture {
 protected:
  void SetUp() override {
    WorkDirFixture::SetUp();
    recorder_ = std::make_unique<Recorder>(70);
    task = recorder_.get();
    Pump();  // the recorder's start
  }
  void TearDown() override {
    recorder_.reset();
    WorkDirFixture::TearDown();
  }

  Recorder* task = nullptr;

 private:
  std::unique_ptr<Recorder> recorder_;
};

TEST_F(UbstoreReplyTest, AMissingFileReadsAsNothingWithSuccess) {
  uint8_t* buffer = reinterpret_cast<uint8_t*>(1);
  uint32_t length = 99;
  uintptr_t user = 0;
  UbstoreRead(&buffer, &length, &user, task->task(), "access", 0xABCD);
  // The answer is already posted when the call returns.
  EXPECT_EQ(TskmanPendingCount(), 1u);
  Pump();
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(user, kUbstoreUserWord);
  EXPECT_EQ(task->log.back(), (Received{UbstoreMsg::Read, kOk, 0xABCD}));
}

TEST_F(UbstoreReplyTest, AWrittenFileReadsBackWhole) {
  Bytes data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  UbstoreWrite(task->task(), "repository", data.data(), 3000, 42);
  Pump();
  EXPECT_EQ(task->log.back(), (Received{UbstoreMsg::Written, kOk, 42}));
  EXPECT_EQ(ReadFile("repository"), data);

  uint8_t* buffer = nullptr;
  uint32_t length = 0;
  uintptr_t user = 0;
  UbstoreRead(&buffer, &length, &user, task->task(), "repository", 43);
  Pump();
  EXPECT_EQ(task->log.back(), (Received{UbstoreMsg::Read, kOk, 43}));
  ASSERT_EQ(length, 3000u);
  EXPECT_EQ(Bytes(buffer, buffer + length), data);
  UbstoreFreeBuffer(user, &buffer);
  EXPECT_EQ(buffer, nullptr);
}

TEST_F(UbstoreReplyTest, AWriteOverTheQuotaFailsAndKeepsTheOldFile) {
  Bytes old(10, 1);
  UbstoreWrite(task->task(), "page", old.data(), 10, 1);
  Bytes big(8001, 2);
  UbstoreWrite(task->task(), "page", big.data(), 8001, 2);
  Pump();
  EXPECT_EQ(task->log.back(), (Received{UbstoreMsg::Written, kUbstoreOverQuota, 2}));
  EXPECT_EQ(ReadFile("page"), old);
  UbstoreWrite(task->task(), "page", big.data(), 8000, 3);
  Pump();
  EXPECT_EQ(task->log.back(), (Received{UbstoreMsg::Written, kOk, 3}));
  // A raised quota lets the larger block through.
  UbstoreSetQuota("page", 9000);
  UbstoreWrite(task->task(), "page", big.data(), 8001, 4);
  Pump();
  EXPECT_EQ(task->log.back(), (Received{UbstoreMsg::Written, kOk, 4}));
  EXPECT_EQ(ReadFile("page"), big);
}

TEST_F(UbstoreReplyTest, OnlyTheFourClassesAreFiles) {
  Bytes data(4, 0);
  UbstoreWrite(task->task(), "../escape", data.data(), 4, 1);
  uint8_t* buffer = nullptr;
  uint32_t length = 0;
  uintptr_t user = 0;
  UbstoreRead(&buffer, &length, &user, task->task(), "qor.ini", 2);
  Pump();
  EXPECT_EQ(task->log[task->log.size() - 2], (Received{UbstoreMsg::Written, kUbstoreUnknownClass, 1}));
  EXPECT_EQ(task->log.back(), (Received{UbstoreMsg::Read, kUbstoreUnknownClass, 2}));
  EXPECT_FALSE(Exists("../escape"));
  EXPECT_EQ(buffer, nullptr);
}

TEST_F(UbstoreReplyTest, AFileThatCannotBeReplacedOrReadAnswersTheFailure) {
  std::filesystem::create_directory("access");
  Bytes data(4, 0);
  UbstoreWrite(task->task(), "access", data.data(), 4, 9);
  Pump();
  EXPECT_EQ(task->log.back(), (Received{UbstoreMsg::Written, kUbstoreWriteFailed, 9}));
  EXPECT_TRUE(std::filesystem::is_directory("access"));
  // A link to itself cannot be read: the read answers its failure with no
  // buffer.
  std::filesystem::remove("access");
  std::filesystem::create_symlink("access", "access");
  uint8_t* buffer = reinterpret_cast<uint8_t*>(1);
  uint32_t length = 99;
  uintptr_t user = 0;
  UbstoreRead(&buffer, &length, &user, task->task(), "access", 10);
  Pump();
  EXPECT_EQ(task->log.back(), (Received{UbstoreMsg::Read, kUbstoreReadFailed, 10}));
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(length, 0u);
}

using UbstoreTest = WorkDirFixture;

// A block of `count` raw values of `size` bytes each, all bytes `fill`.
Bytes Block(int count, uint32_t size, uint8_t fill) {
  StoreSection* s = nullptr;
  StoreParseSection(&s, nullptr, 0, nullptr, true);
  Bytes value(size, fill);
  for (int i = 0; i < count; ++i)
    StoreWriteValue(s, ("v" + std::to_string(i)).c_str(), 0, value.data(), size, StoreKind::Raw);
  uint32_t length = 0;
  StoreSerialize(&s, nullptr, &length, false);
  Bytes out(length);
  StoreSerialize(&s, out.data(), &length, true);
  return out;
}

void RemoveTemporaries(const char* name) {
  for (const auto& entry : std::filesystem::directory_iterator("."))
    if (entry.path().filename().string().rfind(std::string(name) + ".", 0) == 0)
      std::filesystem::remove(entry.path());
}

// A child process saves the class over and over, alternating an old and a
// new content, and is killed at a random moment; the file must always parse
// to exactly one of the two.
TEST_F(UbstoreTest, ASaveKilledAtAnyPointLeavesTheOldOrTheNewFile) {
  UbstoreSetQuota("persistent", 1 << 20);
  const Bytes older = Block(2, 1000, 0x11);
  const Bytes newer = Block(6, 60000, 0x22);  // large, so kills land mid-write
  UbstoreWrite(nullptr, "persistent", older.data(), static_cast<uint32_t>(older.size()), 0);
  ASSERT_EQ(ReadFile("persistent"), older);

  std::mt19937 random(12345);
  int seenNew = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(6);
  for (int round = 0; round < 200 && std::chrono::steady_clock::now() < deadline; ++round) {
    // Every tenth round, the first among them, the child finishes one save
    // of the new content and waits there, so that a whole save is seen
    // however slow the disk is.
    const bool whole = round % 10 == 0;
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (whole) {
        UbstoreWrite(nullptr, "persistent", newer.data(), static_cast<uint32_t>(newer.size()), 0);
        (void)!write(done[1], "x", 1);
        for (;;) pause();
      }
      for (uint32_t i = 0;; ++i) {
        const Bytes& block = i % 2 == 0 ? newer : older;
        UbstoreWrite(nullptr, "persistent", block.data(), static_cast<uint32_t>(block.size()), 0);
      }
    }
    char byte = 0;
    if (whole)
      ASSERT_EQ(read(done[0], &byte, 1), 1);
    else
      usleep(static_cast<useconds_t>(random() % 6000));
    close(done[0]);
    close(done[1]);
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    const Bytes now = ReadFile("persistent");
    StoreSection* s = nullptr;
    ASSERT_EQ(StoreParseSection(&s, now.data(), static_cast<uint32_t>(now.size()), nullptr, false),
              kOk)
        << "round " << round << ": " << now.size() << " bytes";
    StoreFreeSection(&s);
    if (now == newer)
      ++seenNew;
    else if (now != older)
      FAIL() << "round " << round << ": neither the old nor the new content";
    // A killed save leaves its temporary file behind; it is not the class.
    RemoveTemporaries("persistent");
  }
  EXPECT_GT(seenNew, 0);
}

}  // namespace
