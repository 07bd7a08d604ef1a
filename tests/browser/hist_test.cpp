// The history files: both round trips, the exact bytes of the back-stack
// file, files cut at every length loading as empty without a leak, odd
// fields loading as stored, and the browser window loading them at its
// creation and saving them at its end.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "browser/ben_hist.h"
#include "browser/hist.h"
#include "browser/ui.h"
#include "browser/uitask.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "tests/support/engine_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), {});
}

void WriteFile(const char* path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

uint8_t* Item(uint8_t first) {
  auto* item = static_cast<uint8_t*>(MemAlloc(kBenBackItemSize, Use::String, Mod::Ben));
  for (uint32_t i = 0; i < kBenBackItemSize; ++i) item[i] = static_cast<uint8_t>(first + i);
  return item;
}

bool Empty(const BenBackStack* s) {
  const auto* p = reinterpret_cast<const uint8_t*>(s);
  for (size_t i = 0; i < sizeof(*s); ++i)
    if (p[i]) return false;
  return true;
}

// Each test runs in a folder of its own, the files' working folder.
class HistTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    char pattern[] = "/tmp/qor-hist-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    stack_ = static_cast<BenBackStack*>(MemAllocZero(sizeof(BenBackStack), Use::Data, Mod::Ben));
    baseline_ = HeapGetStats().freeBytes;
  }
  void TearDown() override {
    BenBackStackClear(stack_);
    MemFree(&stack_);
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
    EngineFixture::TearDown();
  }

  // Every kind of slot: both texts, one, none, with and without an item.
  void Fill(BenBackStack* s) {
    s->first = 3;
    s->last = 0xA1B2C3D4;
    s->slots[0] = {1, 2, 0x0304, LibcStrDup("http://a/"), LibcStrDup("Title A"), Item(0x40)};
    s->slots[1] = {0xFFFFFFFF, 0, 0xFFFF, LibcStrDup("http://b/"), nullptr, nullptr};
    s->slots[2] = {7, 8, 9, nullptr, nullptr, Item(0x80)};
  }

  uint32_t HeapFree() const { return HeapGetStats().freeBytes; }

  BenBackStack* stack_ = nullptr;
  uint32_t baseline_ = 0;
  std::filesystem::path dir_, old_;
};

TEST_F(HistTest, TheHistoryBlockRoundTripsAndABadFileLeavesTheBufferAlone) {
  Bytes block(kBenHistoryBlockSize);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(HistSave(block.data(), kBenHistoryBlockSize), 1);
  Bytes back(kBenHistoryBlockSize);
  EXPECT_EQ(HistLoad(back.data(), kBenHistoryBlockSize), 1);
  EXPECT_EQ(back, block);

  for (uint32_t size : {1u, kBenHistoryBlockSize - 1}) {
    WriteFile(kHistFile, Bytes(size, 1));
    EXPECT_EQ(HistLoad(back.data(), kBenHistoryBlockSize), 0) << size;
  }
  std::filesystem::remove(kHistFile);
  EXPECT_EQ(HistLoad(back.data(), kBenHistoryBlockSize), 0);
  EXPECT_EQ(back, block);
  EXPECT_EQ(HeapFree(), baseline_);
}

TEST_F(HistTest, ALongerHistoryFileGivesItsFirstBytes) {
  Bytes file(kBenHistoryBlockSize + 100);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 3);
  WriteFile(kHistFile, file);
  Bytes back(kBenHistoryBlockSize);
  EXPECT_EQ(HistLoad(back.data(), kBenHistoryBlockSize), 1);
  EXPECT_EQ(back, Bytes(file.begin(), file.begin() + kBenHistoryBlockSize));
  EXPECT_EQ(HeapFree(), baseline_);
}

TEST_F(HistTest, TheBackStackFileHasItsExactLayout) {
  stack_->first = 1;
  stack_->last = 0x01020304;
  stack_->slots[0] = {0x11223344, 5, 0x0607, LibcStrDup("ab"), nullptr, Item(0)};
  ASSERT_EQ(IntHistSave(stack_), 1);
  Bytes expected = {1, 0, 0, 0, 4, 3, 2, 1,                   // first and last words
                    0x44, 0x33, 0x22, 0x11, 5, 0, 0, 0, 7, 6,  // the slot's values
                    3, 0, 0, 0, 'a', 'b', 0,                   // first text with its NUL
                    0, 0, 0, 0,                                // no second text
                    20, 0, 0, 0};                              // the item
  for (uint8_t i = 0; i < 20; ++i) expected.push_back(i);
  for (int slot = 1; slot < kBenBackSlots; ++slot) expected.insert(expected.end(), 10 + 12, 0);
  EXPECT_EQ(ReadFile(kIntHistFile), expected);
}

TEST_F(HistTest, AFileCutAtAnyLengthLoadsAsAnEmptyStackWithoutALeak) {
  Fill(stack_);
  ASSERT_EQ(IntHistSave(stack_), 1);
  BenBackStackClear(stack_);
  const Bytes whole = ReadFile(kIntHistFile);
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    WriteFile(kIntHistFile, Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
    Fill(stack_);  // what the stack held is freed by the load, too
    ASSERT_EQ(IntHistLoad(stack_), 1) << cut;
    ASSERT_TRUE(Empty(stack_)) << "cut at " << cut;
    ASSERT_EQ(HeapFree(), baseline_) << "cut at " << cut;
  }
}

TEST_F(HistTest, ALongTextIsSavedAndLoadedWhole) {
  const std::string text(20000, 'x');
  stack_->first = 1;
  stack_->slots[0].text1 = LibcStrDup(text.c_str());
  stack_->slots[15].text2 = LibcStrDup(text.c_str());
  ASSERT_EQ(IntHistSave(stack_), 1);
  EXPECT_EQ(ReadFile(kIntHistFile).size(), IntHistEncodedSize(stack_));
  ASSERT_EQ(IntHistLoad(stack_), 1);
  ASSERT_NE(stack_->slots[0].text1, nullptr);
  EXPECT_EQ(stack_->slots[0].text1, text);
  ASSERT_NE(stack_->slots[15].text2, nullptr);
  EXPECT_EQ(stack_->slots[15].text2, text);
}

// One field of the first slot changed in an otherwise whole file. Offsets:
// words 0-7, values 8-17, first text's length 18 and bytes 22-24, second
// text's length 25, the item's length 29 and bytes 33-52; SIZE_MAX appends.
// The file is read as it is stored; only a length running past the file's
// end leaves the stack empty.
struct Damage {
  const char* what;
  size_t offset;
  Bytes bytes;
  bool loads;
  Bytes text1;  // the first text's bytes and the NUL added after them
};

void PrintTo(const Damage& d, std::ostream* out) { *out << d.what; }

class HistDamageTest : public HistTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(HistDamageTest, LoadsWhatIsStored) {
  stack_->first = 2;
  stack_->slots[0] = {1, 2, 3, LibcStrDup("ab"), nullptr, Item(0)};
  ASSERT_EQ(IntHistSave(stack_), 1);
  Bytes file = ReadFile(kIntHistFile);
  const Damage& d = GetParam();
  if (d.offset == SIZE_MAX)
    file.insert(file.end(), d.bytes.begin(), d.bytes.end());
  else
    std::copy(d.bytes.begin(), d.bytes.end(), file.begin() + static_cast<long>(d.offset));
  WriteFile(kIntHistFile, file);
  ASSERT_EQ(IntHistLoad(stack_), 1);
  if (!d.loads) {
    EXPECT_TRUE(Empty(stack_));
    EXPECT_EQ(HeapFree(), baseline_);
    return;
  }
  EXPECT_EQ(stack_->first, 2u);
  ASSERT_NE(stack_->slots[0].text1, nullptr);
  EXPECT_EQ(Bytes(stack_->slots[0].text1, stack_->slots[0].text1 + d.text1.size()), d.text1);
  ASSERT_NE(stack_->slots[0].item, nullptr);
  EXPECT_EQ(stack_->slots[0].item[0], 0);
}

INSTANTIATE_TEST_SUITE_P(
    OneField, HistDamageTest,
    ::testing::Values(Damage{"text_without_its_NUL", 24, {'c'}, true, {'a', 'b', 'c', 0}},
                      Damage{"text_with_an_inner_NUL", 23, {0}, true, {'a', 0, 0, 0}},
                      Damage{"text_length_past_the_end", 18, {0xFF, 0xFF, 0xFF, 0x7F}, false, {}},
                      Damage{"item_length_past_the_end", 29, {0xFF, 0xFF, 0, 0}, false, {}},
                      Damage{"item_of_19_bytes", 29, {19}, true, {'a', 'b', 0, 0}},
                      Damage{"item_of_21_bytes", 29, {21}, false, {}},
                      Damage{"bytes_after_the_last_slot", SIZE_MAX, {0, 1, 2}, true, {'a', 'b', 0, 0}}),
    [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.what); });

TEST_F(HistTest, AFailedSaveSaysSoAndLeavesNothingBehind) {
  std::filesystem::create_directory(kIntHistFile);  // nothing can replace it
  Fill(stack_);
  EXPECT_EQ(IntHistSave(stack_), 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

TEST_F(HistTest, TheBrowserWindowLoadsAtItsCreationAndSavesAtItsEnd) {
  WriteFile(kHistFile, Bytes(kBenHistoryBlockSize, 0x33));
  Fill(stack_);
  ASSERT_EQ(IntHistSave(stack_), 1);
  BenBackStackClear(stack_);

  ASSERT_EQ(UiCreate(""), kOk);
  BenHistory* history = BenHistoryCurrent();
  ASSERT_NE(history, nullptr);
  EXPECT_EQ(history->list.bytes[kBenHistoryBlockSize - 1], 0x33);
  EXPECT_STREQ(history->back.slots[0].text1, "http://a/");

  EXPECT_EQ(history->back.slots[1].item, nullptr);
  EXPECT_EQ(history->back.slots[2].item[19], 0x80 + 19);

  history->list.bytes[0] = 0x44;
  const Bytes before = ReadFile(kIntHistFile);
  UiCommand(UiCmd::End, 0);
  Pump();
  EXPECT_EQ(BenHistoryCurrent(), nullptr);
  EXPECT_EQ(ReadFile(kHistFile)[0], 0x44);
  EXPECT_EQ(ReadFile(kIntHistFile), before);  // loaded and saved, the same bytes
}

// Whatever memory the browser's start has, the history kept on file is read
// whole or left alone: the end never puts one memory could not read over it.
TEST_F(HistTest, AStartShortOfMemoryNeverReplacesTheHistoryKept) {
  const Bytes list(kBenHistoryBlockSize, 0x33);
  WriteFile(kHistFile, list);
  Fill(stack_);
  ASSERT_EQ(IntHistSave(stack_), 1);
  BenBackStackClear(stack_);
  const Bytes back = ReadFile(kIntHistFile);
  int with = 0, without = 0;
  for (uint32_t left = 0; left < 3 * kBenHistoryBlockSize; left += 512) {
    std::vector<void*> eaten = EatHeapFinely(left);
    const Result r = UiCreate("");
    const bool kept = BenHistoryCurrent() != nullptr;
    for (void* p : eaten) MemFree(&p);
    if (r == kOk) {
      ++(kept ? with : without);
      UiCommand(UiCmd::End, 0);
    }
    Pump();
    EXPECT_EQ(ReadFile(kHistFile), list) << left;
    EXPECT_EQ(ReadFile(kIntHistFile), back) << left;
  }
  EXPECT_GT(with, 0);
  EXPECT_GT(without, 0);
}

}  // namespace
