// The emulated handset's other services: the multimedia list and records,
// the player's boxes, numbered sound files, the zone-service flags, and the
// three-second confirmation on the engine's timer.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "host/handset_host.h"
#include "host/shellsvc.h"
#include "kernel/heap.h"
#include "tests/kernel/config_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<std::string> gSounds;  // "play:ALIAS" or "stop"
const ShellServiceOps kRecordingOps{
    nullptr, [](void*, const char* alias) { gSounds.push_back(std::string("play:") + alias); },
    [](void*) { gSounds.push_back("stop"); }, [](void*, const char*) { return 0; }};

class ShellTest : public WorkDirFixture {
 protected:
  void SetUp() override {
    WorkDirFixture::SetUp();
    HostHandsetInstall();
    ShellServicesInstall(&kRecordingOps);
    ShellPlaySystemSound(0, nullptr, 0);  // the numbering starts at 1
    gSounds.clear();
  }
  void TearDown() override {
    ShellServicesInstall(nullptr);
    WorkDirFixture::TearDown();
  }
};

TEST_F(ShellTest, AMultimediaRecordIsFilledForItsNumber) {
  uint8_t record[kShellMmRecordSize];
  std::memset(record, 0xEE, sizeof record);
  EXPECT_EQ(ShellMmFileRecordInit(record, 3), 1);
  EXPECT_EQ(record[0], 3);
  EXPECT_STREQ(reinterpret_cast<char*>(record + 1), "class3");
  EXPECT_STREQ(reinterpret_cast<char*>(record + 11), "AppName3");
  EXPECT_STREQ(reinterpret_cast<char*>(record + 43), "Filename3");
  EXPECT_EQ(Bytes(record + 75, record + 80), (Bytes{1, 1, 0, 0, 0}));
  // A number too wide for the class field is cut, not written past it.
  ShellMmFileRecordInit(record, -123456789);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record + 1)), "class-123");
}

// The list sits in "../shared" of the working folder: a count of whole
// records, or -1 without a list.
TEST_F(ShellTest, TheMultimediaListCountsItsWholeRecords) {
  std::filesystem::create_directories(dir_ / "work");
  std::filesystem::current_path(dir_ / "work");
  const auto list = dir_ / "shared" / "qor" / "qor_file.lst";
  EXPECT_EQ(ShellMmFileCount(), -1);
  std::filesystem::create_directories(list.parent_path());
  for (size_t size : {0, 79, 80, 200}) {
    std::ofstream(list, std::ios::binary | std::ios::trunc) << std::string(size, 'r');
    EXPECT_EQ(ShellMmFileCount(), static_cast<int32_t>(size / 80)) << size;
  }
  std::filesystem::current_path(dir_);
  EXPECT_EQ(ShellMmFileExists("any"), 1);
  EXPECT_EQ(ShellMmClassBase(), 256);
}

TEST_F(ShellTest, PlayingAndDeletingAMultimediaFileAreShownInBoxes) {
  ShellMmPlay(0, 0);
  ShellMmDelete(0, 0);
  EXPECT_EQ(platform->messageBoxes,
            (std::vector<std::pair<std::string, std::string>>{
                {"Emulating player", "Playing Multimedia file."},
                {"Emulating deleting", "Deleting Multimedia file"}}));
}

// The zone-service flags are the host's operation values, each 0 or 1;
// without the host's services all are 0.
TEST_F(ShellTest, TheZoneServiceFlagsAreTheOperationValues) {
  static const ShellServiceOps kValues{nullptr, [](void*, const char*) {}, [](void*) {},
                                       [](void*, const char* key) {
                                         return std::string(key) == "rcell_avail"       ? 7
                                                : std::string(key) == "rcell_IsRcellNam" ? -1
                                                                                          : 0;
                                       }};
  ShellServicesInstall(&kValues);
  EXPECT_EQ(HostRcellAvailable(), 1);
  EXPECT_EQ(HostRcellNonRcellSession(), 0);
  EXPECT_EQ(HostIsRcellNam(), 1);
  ShellServicesInstall(nullptr);
  EXPECT_EQ(HostRcellAvailable(), 0);
  EXPECT_EQ(HostIsRcellNam(), 0);
  ShellPlaySystemSound(7, nullptr, 0);  // nobody plays it
}

TEST_F(ShellTest, SoundsGoToNumberedFilesAndNoDataStartsAgain) {
  const uint8_t first[] = {1, 2, 3};
  const uint8_t second[] = {9};
  ShellPlaySystemSound(7, first, sizeof first);
  ShellPlaySystemSound(7, second, sizeof second);
  EXPECT_EQ(ReadFile("1.sound"), Bytes(first, first + 3));
  EXPECT_EQ(ReadFile("2.sound"), Bytes(second, second + 1));
  const uint8_t silent[] = {0, 5};
  ShellPlaySystemSound(7, silent, sizeof silent);  // a first byte of 0: no data
  ShellPlaySystemSound(7, second, sizeof second);
  EXPECT_EQ(ReadFile("1.sound"), Bytes(second, second + 1));
  EXPECT_FALSE(std::filesystem::exists("3.sound"));
  EXPECT_EQ(gSounds, (std::vector<std::string>{"play:SystemStart", "play:SystemStart", "stop",
                                               "play:SystemStart"}));
}

struct Confirmed {
  std::string result, status;
  uintptr_t value;
};
std::vector<Confirmed> gConfirmed;
void OnConfirm(const char* result, const char* status, uintptr_t value) {
  gConfirmed.push_back({result, status, value});
}

TEST_F(ShellTest, AConfirmationArrivesAfterThreeSecondsAndASecondMeanwhileIsRefused) {
  gConfirmed.clear();
  const uint32_t start = HeapGetStats().freeBytes;
  ASSERT_EQ(ShellStartConfirmThread(0, 77, OnConfirm), kOk);
  Tick(59);  // 2950 ms
  Pump();
  EXPECT_TRUE(gConfirmed.empty());
  EXPECT_EQ(ShellStartConfirmThread(0, 88, OnConfirm), kShellConfirmPending);
  Tick(1);
  Pump();
  ASSERT_EQ(gConfirmed.size(), 1u);
  EXPECT_EQ(gConfirmed[0].result + gConfirmed[0].status, "RESULT_OKSTATUS_OK");
  EXPECT_EQ(gConfirmed[0].value, 77u);
  EXPECT_FALSE(platform->tickRunning);
  EXPECT_EQ(HeapGetStats().freeBytes, start);
  // Once answered, the next one is taken.
  EXPECT_EQ(ShellStartConfirmThread(0, 99, OnConfirm), kOk);
  Tick(60);
  Pump();
  ASSERT_EQ(gConfirmed.size(), 2u);
}

}  // namespace
