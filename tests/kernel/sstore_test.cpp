// The section store: the serialised block byte for byte, edits in memory,
// damaged blocks, nested folders on the stack, and running out of memory.
#include "kernel/sstore.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "kernel/heap.h"
#include "kernel/mem.h"
#include "tests/support/engine_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kExample = {0x01, 0x01, 0x00, 0x03, 'a', 'b', 0x00, 'x', 0x00, 0x00, 0, 0, 0, 0};

struct Item {
  std::string name;
  Bytes value;
  uint32_t kind;
  bool operator==(const Item&) const = default;
};

std::vector<Item> Items(const StoreSection* section) {
  std::vector<Item> out;
  uintptr_t cursor;
  StoreEntry e;
  for (Result r = StoreFirst(section, &cursor, &e); r == kOk; r = StoreNext(section, &cursor, &e))
    out.push_back({std::string(reinterpret_cast<const char*>(e.name), e.nameLength),
                   Bytes(e.value, e.value + e.valueLength), e.kind});
  return out;
}

Bytes Serialize(StoreSection* section) {
  uint32_t size = 0;
  EXPECT_EQ(StoreSerialize(&section, nullptr, &size, false), kOk);
  Bytes out(size);
  EXPECT_EQ(StoreSerialize(&section, out.data(), &size, false), kOk);
  EXPECT_EQ(size, out.size());
  return out;
}

Bytes Text(const char* s) { return Bytes(s, s + std::char_traits<char>::length(s) + 1); }

class SStoreTest : public HeapFixture {
 protected:
  void TearDown() override { EXPECT_EQ(HeapValidate(), nullptr); }

  // A section with values of every kind and names of odd and even lengths.
  Bytes Sample() {
    StoreSection* s = Editable();
    StoreWriteValue(s, "x", 0, "ab", 3, StoreKind::String);
    const uint8_t four[] = {0, 0, 1, 2};
    StoreWriteValue(s, "count", 0, four, 4, StoreKind::Int);
    const char16_t wide[] = u"hi";
    StoreWriteValue(s, "wide", 0, wide, sizeof wide, StoreKind::WString);
    StoreWriteValue(s, "empty", 0, nullptr, 0, StoreKind::Raw);
    StoreWriteValue(s, "sub", 0, kExample.data(), static_cast<uint32_t>(kExample.size()),
                    StoreKind::Folder);
    Bytes block = Serialize(s);
    StoreFreeSection(&s);
    return block;
  }

  StoreSection* Editable() {
    StoreSection* s = nullptr;
    EXPECT_EQ(StoreParseSection(&s, nullptr, 0, nullptr, true), kOk);
    return s;
  }
};

TEST_F(SStoreTest, TheExampleStringSerialisesToFourteenBytes) {
  StoreSection* s = Editable();
  ASSERT_EQ(StoreWriteValue(s, "x", 0, "ab", 3, StoreKind::String), kOk);
  uint32_t size = 0;
  ASSERT_EQ(StoreSerialize(&s, nullptr, &size, false), kOk);
  EXPECT_EQ(size, 14u);
  Bytes out(size, 0xEE);
  ASSERT_EQ(StoreSerialize(&s, out.data(), &size, true), kOk);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(out, kExample);
  s = Editable();
  EXPECT_EQ(Serialize(s), (Bytes{0, 0, 0, 0}));  // an empty section: the end alone
  StoreFreeSection(&s);
}

// A block cut inside an entry's value or name is damaged and reads as empty;
// one cut after the last name (its 0, its pad or the end marker) keeps every
// entry.
TEST_F(SStoreTest, ABlockCutInsideAnEntryIsDamagedAndOneCutAfterItIsWhole) {
  const Bytes block = Sample();
  StoreSection* whole = nullptr;
  ASSERT_EQ(StoreParseSection(&whole, block.data(), static_cast<uint32_t>(block.size()), nullptr,
                              false),
            kOk);
  const std::vector<Item> all = Items(whole);
  // Where the last entry's name ends: its 0, a pad and the end marker follow.
  uint32_t lastNameEnd = 0;
  uintptr_t cursor;
  StoreEntry e;
  for (Result r = StoreFirst(whole, &cursor, &e); r == kOk; r = StoreNext(whole, &cursor, &e))
    lastNameEnd = static_cast<uint32_t>(e.name - block.data()) + e.nameLength;
  StoreFreeSection(&whole);
  for (uint32_t length = 1; length < block.size(); ++length) {
    Bytes cut(block.begin(), block.begin() + length);  // exactly `length`, so ASan sees overruns
    for (bool editable : {false, true}) {
      StoreSection* s = nullptr;
      const Result r = StoreParseSection(&s, cut.data(), length, nullptr, editable);
      ASSERT_NE(s, nullptr);
      const std::vector<Item> items = Items(s);
      StoreFreeSection(&s);
      if (length >= lastNameEnd) {
        EXPECT_EQ(r, kOk) << length;
        EXPECT_EQ(items, all) << length;
      } else {
        // Every cut before that lands inside some entry, or right at the
        // start of one (a 1-byte tail is taken for the end).
        if (r == kOk) {
          EXPECT_LT(items.size(), all.size()) << length;
        } else {
          EXPECT_EQ(r, kStoreMalformed) << length;
          EXPECT_TRUE(items.empty()) << length;
        }
      }
    }
  }
}

// A class file's root is whole only with its end marker: a cut anywhere
// before the marker's last byte, where an entry begins too, is told apart
// from the whole block; an empty one is an empty file.
TEST_F(SStoreTest, ARootIsWholeOnlyWithItsEndMarker) {
  const Bytes block = Sample();
  EXPECT_TRUE(StoreBlockEnded(nullptr, 0));
  EXPECT_TRUE(StoreBlockEnded(block.data(), static_cast<uint32_t>(block.size())));
  for (uint32_t length = 1; length < block.size(); ++length) {
    Bytes cut(block.begin(), block.begin() + length);
    EXPECT_FALSE(StoreBlockEnded(cut.data(), length)) << length;
  }
  struct Row {
    const char* name;
    Bytes bytes;
    bool ended;
  };
  const Row rows[] = {
      {"the example", kExample, true},
      {"only a marker", Bytes(4, 0), true},
      {"a short marker", Bytes(3, 0), false},
      {"a marker not all 0", {0, 0, 0, 1}, false},
      {"a kind before a name length of 0", {1, 0, 0, 0}, false},
      {"bytes after the marker", {0, 0, 0, 0, 7}, true},
  };
  for (const Row& row : rows)
    EXPECT_EQ(StoreBlockEnded(row.bytes.data(), static_cast<uint32_t>(row.bytes.size())), row.ended)
        << row.name;
}

// Only an entry running past the block is damage: an odd byte after a name
// or a short end marker loses nothing, in place or edited.
TEST_F(SStoreTest, UnexpectedBytesOutsideTheEntriesAreNotDamage) {
  struct Case {
    const char* what;
    Bytes block;
    Result result;
    size_t entries;
  };
  const Case cases[] = {
      {"a non-zero byte after a name", {1, 1, 0, 3, 'a', 'b', 0, 'x', 7, 0, 1, 2, 0, 3, 'c', 'd', 0, 'y', 'z', 0, 0, 0, 0, 0}, kOk, 2},
      {"a two-byte end marker", {1, 1, 0, 3, 'a', 'b', 0, 'x', 0, 0, 0, 0}, kOk, 1},
      {"no end marker", {1, 1, 0, 3, 'a', 'b', 0, 'x', 0, 0}, kOk, 1},
      {"no 0 after the last name", {1, 1, 0, 3, 'a', 'b', 0, 'x'}, kOk, 1},
      {"a name running past the end", {1, 2, 0, 3, 'a', 'b', 0, 'x'}, kStoreMalformed, 0},
      {"a value running past the end", {1, 1, 0, 9, 'a', 'b', 0, 'x', 0, 0}, kStoreMalformed, 0},
      {"a header cut short", {1, 1, 0, 3, 'a', 'b', 0, 'x', 0, 0, 1, 1, 0}, kStoreMalformed, 0},
  };
  for (const Case& c : cases) {
    for (bool editable : {false, true}) {
      const Bytes block = c.block;  // exactly its size, so ASan sees overruns
      StoreSection* s = nullptr;
      EXPECT_EQ(StoreParseSection(&s, block.data(), static_cast<uint32_t>(block.size()), nullptr,
                                  editable),
                c.result)
          << c.what;
      ASSERT_NE(s, nullptr);
      const std::vector<Item> items = Items(s);
      ASSERT_EQ(items.size(), c.entries) << c.what;
      if (c.entries) {
        EXPECT_EQ(items[0], (Item{"x", Text("ab"), StoreKind::String})) << c.what;
      }
      // Names read as 0-terminated text end where they should.
      uintptr_t cursor;
      StoreEntry e;
      for (Result r = StoreFirst(s, &cursor, &e); r == kOk; r = StoreNext(s, &cursor, &e))
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.name)).size(), e.nameLength)
            << c.what;
      if (c.result == kOk) {
        // Written back, the block is whole again with everything in it.
        const Bytes again = Serialize(s);
        StoreSection* back = nullptr;
        ASSERT_EQ(StoreParseSection(&back, again.data(), static_cast<uint32_t>(again.size()),
                                    nullptr, false),
                  kOk);
        EXPECT_EQ(Items(back), items) << c.what;
        StoreFreeSection(&back);
      }
      StoreFreeSection(&s);
    }
  }
}

TEST_F(SStoreTest, AValueOrNameTakenFromTheSameSectionSurvivesTheAreaGrowing) {
  StoreSection* s = Editable();
  std::string big(600, 'q');
  StoreWriteValue(s, "src", 0, big.c_str(), 601, StoreKind::String);
  StoreWriteValue(s, "key", 0, "fresh", 6, StoreKind::String);
  StoreEntry e;
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(StoreReadValue(s, "src", 0, &e), kOk);
    const std::string name = "copy" + std::to_string(i);
    ASSERT_EQ(StoreWriteValue(s, name.c_str(), 0, e.value, e.valueLength, StoreKind::String), kOk);
  }
  ASSERT_EQ(StoreReadValue(s, "key", 0, &e), kOk);
  ASSERT_EQ(StoreWriteValue(s, reinterpret_cast<const char*>(e.value), 0, big.c_str(), 601,
                            StoreKind::String),
            kOk);
  std::vector<Item> items = Items(s);
  ASSERT_EQ(items.size(), 9u);
  EXPECT_EQ(items[8].name, "fresh");
  for (const Item& item : items) {
    if (item.name == "key") continue;
    EXPECT_EQ(item.value, Text(big.c_str())) << item.name;
  }
  StoreFreeSection(&s);
}

TEST_F(SStoreTest, NamesRunFromOneTo255BytesAndValuesTo65535) {
  StoreSection* s = Editable();
  const std::string longest(255, 'n');
  EXPECT_EQ(StoreWriteValue(s, longest.c_str(), 0, "v", 2, StoreKind::String), kOk);
  EXPECT_EQ(StoreWriteValue(s, std::string(256, 'n').c_str(), 0, "v", 2, 1), kStoreBadArg);
  EXPECT_EQ(StoreWriteValue(s, "", 0, "v", 2, 1), kStoreBadArg);
  Bytes big(kStoreMaxValue + 1, 7);
  EXPECT_EQ(StoreWriteValue(s, "big", 0, big.data(), kStoreMaxValue + 1, 3), kStoreBadArg);
  EXPECT_EQ(StoreWriteValue(s, "big", 0, big.data(), kStoreMaxValue, 3), kOk);
  Bytes block = Serialize(s);
  StoreFreeSection(&s);
  ASSERT_EQ(StoreParseSection(&s, block.data(), static_cast<uint32_t>(block.size()), nullptr, false),
            kOk);
  std::vector<Item> items = Items(s);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].name, longest);
  EXPECT_EQ(items[1].value.size(), kStoreMaxValue);
  StoreFreeSection(&s);
}

TEST_F(SStoreTest, AReadOnlySectionRefusesChangesAndStillSerialises) {
  const Bytes block = Sample();
  StoreSection* s = nullptr;
  ASSERT_EQ(StoreParseSection(&s, block.data(), static_cast<uint32_t>(block.size()), nullptr, false),
            kOk);
  EXPECT_EQ(StoreWriteValue(s, "x", 0, "b", 2, 1), kStoreBadArg);
  EXPECT_EQ(StoreDeleteKey(s, "x", 0), kStoreBadArg);
  EXPECT_EQ(StoreDeleteAll(s), kStoreBadArg);
  EXPECT_FALSE(StoreIsDirty(s));
  EXPECT_EQ(Serialize(s), block);
  StoreFreeSection(&s);
}

class SStoreStackTest : public SStoreTest {
 protected:
  void SetUp() override {
    SStoreTest::SetUp();
    StoreStackInit(&stack_);
    root_ = Sample();
  }
  void TearDown() override {
    StoreReleaseAll(&stack_);
    SStoreTest::TearDown();
  }
  StoreSection* Top() { return StoreTop(&stack_)->section; }
  Result OpenSub(bool editable) {
    StoreEntry e;
    EXPECT_EQ(StoreReadValue(Top(), "sub", 0, &e), kOk);
    return StoreOpenSection(&stack_, "sub", 0, e.value, e.valueLength, editable);
  }

  ListHead stack_;
  Bytes root_;
};

TEST_F(SStoreStackTest, ACommittedLevelBecomesAFolderOfItsParent) {
  ASSERT_EQ(StoreOpenSection(&stack_, "", 0, root_.data(), static_cast<uint32_t>(root_.size()), true),
            kOk);
  ASSERT_EQ(OpenSub(true), kOk);
  EXPECT_EQ(StoreDepth(&stack_), 2u);
  StoreWriteValue(Top(), "y", 0, "new", 4, StoreKind::String);
  ASSERT_EQ(StoreCommitLevel(&stack_, nullptr, 0), kOk);
  EXPECT_EQ(StoreDepth(&stack_), 1u);
  StoreEntry e;
  ASSERT_EQ(StoreReadValue(Top(), "sub", 0, &e), kOk);
  EXPECT_EQ(e.kind, StoreKind::Folder);
  StoreSection* sub = nullptr;
  ASSERT_EQ(StoreParseSection(&sub, e.value, e.valueLength, nullptr, false), kOk);
  EXPECT_EQ(Items(sub), (std::vector<Item>{{"x", Text("ab"), 1}, {"y", Text("new"), 1}}));
  StoreFreeSection(&sub);
  // The folder kept its place among its siblings.
  EXPECT_EQ(Items(Top())[4].name, "sub");
}

TEST_F(SStoreStackTest, AReleasedLevelLeavesItsParentAsItWas) {
  ASSERT_EQ(StoreOpenSection(&stack_, "", 0, root_.data(), static_cast<uint32_t>(root_.size()), true),
            kOk);
  ASSERT_EQ(OpenSub(true), kOk);
  StoreWriteValue(Top(), "x", 0, "zz", 3, StoreKind::String);  // in place, same length
  StoreReleaseSection(&stack_);
  EXPECT_EQ(Serialize(Top()), root_);
  EXPECT_FALSE(StoreIsDirty(Top()));
}

TEST_F(SStoreStackTest, ADamagedFolderIsPushedAsAnEmptyLevel) {
  StoreSection* s = Editable();
  const uint8_t broken[] = {1, 9, 0, 50, 'a'};
  StoreWriteValue(s, "f", 0, broken, sizeof broken, StoreKind::Folder);
  Bytes block = Serialize(s);
  StoreFreeSection(&s);
  ASSERT_EQ(StoreOpenSection(&stack_, "", 0, block.data(), static_cast<uint32_t>(block.size()), true),
            kOk);
  StoreEntry e;
  ASSERT_EQ(StoreReadValue(Top(), "f", 0, &e), kOk);
  EXPECT_EQ(StoreOpenSection(&stack_, "f", 0, e.value, e.valueLength, true), kStoreMalformed);
  EXPECT_EQ(StoreDepth(&stack_), 2u);
  EXPECT_TRUE(Items(Top()).empty());
}

// Runs out of memory at every point of building a section: each attempt
// either succeeds or answers kStoreNoMemory, and leaves nothing behind.
class SStoreTightHeapTest : public HeapFixture {
 protected:
  SStoreTightHeapTest() : HeapFixture(64 * 1024) {}
};

TEST_F(SStoreTightHeapTest, OutOfMemoryFreesThePartlyBuiltSection) {
  // A block of 40 small entries, built in host memory.
  Bytes block;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "k" + std::to_string(i);
    block.insert(block.end(), {1, static_cast<uint8_t>(name.size()), 0, 2, 'v', 0});
    block.insert(block.end(), name.begin(), name.end());
    block.push_back(0);
    if (block.size() % 2) block.push_back(0);
  }
  block.insert(block.end(), {0, 0, 0, 0});
  const uint32_t freeAtStart = HeapGetStats().freeBytes;
  int failures = 0, successes = 0;
  for (uint32_t spare = 0; spare < 2400; spare += 24) {
    // A filler leaves about `spare` bytes of the heap free.
    const uint32_t largest = HeapGetStats().largestFree;
    void* filler = largest > spare + 64 ? MemAlloc(largest - spare - 64, Use::Data, Mod::TestCode)
                                        : nullptr;
    StoreSection* s = nullptr;
    const Result r =
        StoreParseSection(&s, block.data(), static_cast<uint32_t>(block.size()), nullptr, true);
    if (r == kOk) {
      ++successes;
      EXPECT_EQ(Items(s).size(), 40u);
      StoreFreeSection(&s);
    } else {
      ++failures;
      EXPECT_EQ(r, kStoreNoMemory);
      EXPECT_EQ(s, nullptr);
    }
    MemFree(&filler);
    ASSERT_EQ(HeapGetStats().freeBytes, freeAtStart) << spare;
  }
  EXPECT_GT(failures, 0);
  EXPECT_GT(successes, 0);
  EXPECT_EQ(HeapValidate(), nullptr);
}

}  // namespace
