// The settings store: the one-section-at-a-time protocol, typed values, slots,
// and damaged or unwritable class files.
#include "kernel/config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/platform/files.h"
#include "kernel/heap.h"
#include "kernel/sstore.h"
#include "kernel/ubstore.h"
#include "tests/kernel/config_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ConfigTest : public WorkDirFixture {
 protected:
  void SetUp() override {
    WorkDirFixture::SetUp();
    starter_ = std::make_unique<Recorder>(Mod::UiStart);
    client_ = std::make_unique<Recorder>(70);
    client = client_.get();
    Pump();
    freeBefore_ = HeapGetStats().freeBytes;
    ASSERT_EQ(ConfigStart(starter_->task()), kOk);
    Pump();
  }

  void TearDown() override {
    ConfigStop();
    Pump();
    extra_.clear();
    // Every handle a test opened has been ended: nothing of the store is left.
    EXPECT_EQ(HeapGetStats().freeBytes, freeBefore_);
    EXPECT_EQ(HeapValidate(), nullptr);
    client_.reset();
    starter_.reset();
    WorkDirFixture::TearDown();
  }

  Recorder* Task(uint32_t id) {
    extra_.push_back(std::make_unique<Recorder>(id));
    Pump();
    return extra_.back().get();
  }

  // The last open answer a task received: {status, handle}.
  static std::pair<Result, ConfigHandle*> Answer(const Recorder* who) {
    for (auto it = who->log.rbegin(); it != who->log.rend(); ++it)
      if (it->message == ConfigMsg::Opened)
        return {static_cast<Result>(it->arg1), reinterpret_cast<ConfigHandle*>(it->arg2)};
    return {0xFFFFFFFF, nullptr};
  }

  ConfigHandle* Open(const char* section, bool writable, Recorder* who = nullptr) {
    who = who ? who : client;
    ConfigOpen(who->task(), section, writable);
    Pump();
    auto [status, handle] = Answer(who);
    EXPECT_EQ(status, kOk) << section;
    return handle;
  }

  Result Save(ConfigHandle* handle, Recorder* who = nullptr) {
    who = who ? who : client;
    EXPECT_EQ(ConfigSave(handle, nullptr), kOk);
    Pump();
    for (auto it = who->log.rbegin(); it != who->log.rend(); ++it)
      if (it->message == ConfigMsg::Saved) return static_cast<Result>(it->arg1);
    return 0xFFFFFFFF;
  }

  std::string GetString(ConfigHandle* h, const char* name) {
    const char* value = nullptr;
    return ConfigGetString(h, name, 0, &value) == kOk ? value : "<absent>";
  }

  int32_t GetInt(ConfigHandle* h, const char* name) {
    int32_t value = -1;
    return ConfigGetInt(h, name, 0, &value) == kOk ? value : -1;
  }

  Recorder* client = nullptr;

 private:
  std::unique_ptr<Recorder> starter_, client_;
  std::vector<std::unique_ptr<Recorder>> extra_;
  uint32_t freeBefore_ = 0;
};

TEST_F(ConfigTest, WaitingOpenersAreAnsweredInRequestOrderAfterASave) {
  ConfigHandle* first = Open("home", true);
  Recorder* other = Task(71);
  Recorder* third = Task(72);
  ConfigOpen(other->task(), "fave", true);
  ConfigOpen(third->task(), "initurl", true);
  Pump();
  ConfigSetString(first, "url", "http://a/");
  EXPECT_EQ(Save(first), kOk);
  EXPECT_EQ(other->Count(ConfigMsg::Opened), 1u);
  EXPECT_EQ(third->Count(ConfigMsg::Opened), 0u);
  ConfigHandle* second = Answer(other).second;
  ConfigRelease(&second);
  Pump();
  EXPECT_EQ(third->Count(ConfigMsg::Opened), 1u);
  ConfigHandle* last = Answer(third).second;
  ConfigRelease(&last);
}

// The room an open section has is what a save of it takes: a block of that
// size is written, one a little bigger is refused, by what a folder holds
// or by the quota the rest of the class file leaves; a quota the rest
// passes leaves none.
TEST_F(ConfigTest, TheRoomOfASectionIsWhatItsSaveTakes) {
  struct Case {
    int32_t quota;
    uint32_t other;  // the bytes of a value of another section of the class
    Result over;     // the answer to a save past the room
  };
  const Case cases[] = {
      {1 << 20, 100, kStoreBadArg},
      {3000, 1000, kUbstoreOverQuota},
      {1000, 1200, kUbstoreOverQuota},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.quota);
    std::filesystem::remove("repository");
    UbstoreSetQuota("repository", 1 << 20);
    ConfigHandle* h = Open("homepage", true);
    const std::string other(c.other, 'o');
    ASSERT_EQ(ConfigSetRaw(h, "x", 0, other.data(), c.other, ConfigKind::Raw), kOk);
    ASSERT_EQ(Save(h), kOk);
    UbstoreSetQuota("repository", c.quota);
    for (uint32_t past : {0u, 2u}) {
      h = Open("inbox", true);
      uint32_t room = 1;
      ASSERT_EQ(ConfigRoom(h, &room), kOk);
      if (static_cast<uint32_t>(c.quota) < c.other) {
        EXPECT_EQ(room, 0u);
        ConfigRelease(&h);
        break;
      }
      // One value "v" of `length` bytes: a block of its entry and the end.
      const uint32_t block = (room & ~1u) + past;
      const uint32_t length = block - kStoreEndBytes - StoreEntryBytes(1, 0);
      ASSERT_EQ(StoreEntryBytes(1, length) + kStoreEndBytes, block);
      const std::string value(length, 'v');
      ASSERT_EQ(ConfigSetRaw(h, "v", 0, value.data(), length, ConfigKind::Raw), kOk);
      EXPECT_EQ(Save(h), past ? c.over : kOk) << room;
    }
  }
}

TEST_F(ConfigTest, TypedValuesRoundTripAndAKindMismatchIsNotFound) {
  ConfigHandle* h = Open("user", true);
  ConfigSetInt(h, "n", -2);
  ConfigSetString(h, "s", "text");
  ConfigSetWString(h, "w", u"wide\u00e9");
  const uint8_t seed[] = {9, 8, 7};
  ConfigSetRaw(h, "seed", 0, seed, 3, ConfigKind::Raw);
  ASSERT_EQ(Save(h), kOk);
  h = Open("user", false);
  EXPECT_EQ(GetInt(h, "n"), -2);
  EXPECT_EQ(GetString(h, "s"), "text");
  const char16_t* w = nullptr;
  ASSERT_EQ(ConfigGetWString(h, "w", 0, &w), kOk);
  EXPECT_EQ(std::u16string(w), u"wide\u00e9");
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  ConfigKind kind{};
  ASSERT_EQ(ConfigGetRaw(h, "seed", 4, &data, &length, &kind), kOk);
  EXPECT_EQ(Bytes(data, data + length), Bytes(seed, seed + 3));
  EXPECT_EQ(kind, ConfigKind::Raw);

  int32_t n = 5;
  EXPECT_EQ(ConfigGetInt(h, "s", 0, &n), kConfigNotFound);
  EXPECT_EQ(n, 0);
  ConfigRelease(&h);
}

TEST_F(ConfigTest, ADamagedClassFileIsKeptAsideBeforeItIsRewritten) {
  const Bytes damaged = {1, 5, 0xFF, 0xFF, 'x'};
  WriteFile("page", damaged);
  ConfigHandle* h = Open("home", true);
  ConfigSetString(h, "url", "u");
  // Written, and the writer told that what the file held was not read.
  EXPECT_EQ(Save(h), kStoreMalformed);
  EXPECT_EQ(ReadFile("page.damaged"), damaged);
  const Bytes file = ReadFile("page");
  StoreSection* root = nullptr;
  EXPECT_EQ(StoreParseSection(&root, file.data(), static_cast<uint32_t>(file.size()), nullptr, false),
            kOk);
  StoreFreeSection(&root);
  h = Open("home", true);
  EXPECT_EQ(GetString(h, "url"), "u");
  ConfigSetString(h, "url", "v");
  EXPECT_EQ(Save(h), kOk);  // the file is whole again
  EXPECT_EQ(ReadFile("page.damaged"), damaged);
}

// Each damage is said when the file is first read, its bytes kept at once
// under a name no earlier copy has; the same bytes found again are not kept
// twice.
TEST_F(ConfigTest, ADamagedClassFileIsSaidAndKeptWithoutWritingOverAnEarlierCopy) {
  struct Damage {
    Bytes bytes;
    const char* keptAs;
  };
  const Bytes first = {1, 5, 0xFF, 0xFF, 'x'}, second = {1, 9, 0xFF};
  const Damage table[] = {{first, "page.damaged"},
                          {first, "page.damaged"},  // the same damage, found again
                          {second, "page.damaged.1"}};
  for (const Damage& d : table) {
    SCOPED_TRACE(d.keptAs);
    WriteFile("page", d.bytes);
    ConfigStop();
    Pump();
    ASSERT_EQ(ConfigStart(Task(Mod::UiStart)->task()), kOk);
    Pump();
    ::testing::internal::CaptureStderr();
    ConfigHandle* h = Open("home", true);
    ConfigRelease(&h);
    h = Open("home", true);  // said once a run
    ConfigRelease(&h);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, std::string("qor: page is damaged: its sections start empty; its bytes are kept in ") +
                        d.keptAs + "\n");
    EXPECT_EQ(ReadFile(d.keptAs), d.bytes);
  }
  EXPECT_EQ(ReadFile("page.damaged"), first);
  EXPECT_FALSE(std::filesystem::exists("page.damaged.2"));
}

// The "access" class, which no module opens until the first provisioning
// push, is read at the store's start: its damage is said then, once, its
// bytes kept aside and the file left as it is; nobody is answered and the
// store goes on serving.
TEST_F(ConfigTest, ADamagedAccessFileIsSaidAtTheStart) {
  const Bytes damaged = {1, 5, 0xFF, 0xFF, 'x'};
  WriteFile("access", damaged);
  ConfigStop();
  Pump();
  Recorder* starter = Task(Mod::UiStart);
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(ConfigStart(starter->task()), kOk);
  Pump();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "qor: access is damaged: its sections start empty; its bytes are kept in "
            "access.damaged\n");
  EXPECT_EQ(starter->Messages(), std::vector<uint32_t>{ConfigMsg::Started});
  EXPECT_EQ(ReadFile("access.damaged"), damaged);
  EXPECT_EQ(ReadFile("access"), damaged);
  // Said once a run: the first open of a section of it says nothing more.
  ::testing::internal::CaptureStderr();
  ConfigHandle* h = Open("//access", false);
  ConfigRelease(&h);
  h = Open("home", true);  // the store is free again
  ConfigRelease(&h);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(Exists("access.damaged.1"));
}

// A whole or missing "access" file is read at the start without a word, and
// is not written.
TEST_F(ConfigTest, AWholeOrMissingAccessFileIsReadAtTheStartWithoutAWord) {
  for (bool present : {false, true}) {
    SCOPED_TRACE(present);
    if (present) {
      ConfigHandle* h = Open("PPG", true);
      ConfigSetString(h, "name", "p");
      ASSERT_EQ(Save(h), kOk);
    }
    const Bytes before = ReadFile("access");
    ConfigStop();
    Pump();
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(ConfigStart(Task(Mod::UiStart)->task()), kOk);
    Pump();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(Exists("access"), present);
    EXPECT_EQ(ReadFile("access"), before);
    EXPECT_FALSE(Exists("access.damaged"));
  }
}

TEST_F(ConfigTest, ADamagedClassFileThatCannotBeKeptAsideIsNotReplaced) {
  const Bytes damaged = {1, 5, 0xFF, 0xFF, 'x'};
  WriteFile("page", damaged);
  // Every name a copy may take stands already.
  std::filesystem::create_directory("page.damaged");
  for (int n = 1; n < kPlatformMostKeptCopies; ++n)
    std::filesystem::create_directory("page.damaged." + std::to_string(n));
  ConfigHandle* h = Open("home", true);
  ConfigSetString(h, "url", "u");
  EXPECT_EQ(Save(h), kUbstoreWriteFailed);
  EXPECT_EQ(ReadFile("page"), damaged);
}

TEST_F(ConfigTest, SlotSectionsLiveInTheActiveSlotFolder) {
  ConfigHandle* h = Open("email", true);
  ConfigSetString(h, "server", "mail0");
  ASSERT_EQ(Save(h), kOk);
  ConfigSetActiveSlot(3);
  h = Open("email/pop3", true);
  ConfigSetString(h, "server", "pop3");
  ASSERT_EQ(Save(h), kOk);
  h = Open("slot", true);
  ConfigSetString(h, "url", "http://three/");
  ASSERT_EQ(Save(h), kOk);

  h = Open("//access", false);
  ASSERT_EQ(ConfigOpenPath(h, "0/email", 0, false), kOk);
  EXPECT_EQ(GetString(h, "server"), "mail0");
  ConfigClose(h, false);
  ASSERT_EQ(ConfigOpenPath(h, "3/email/pop3", 0, false), kOk);
  EXPECT_EQ(GetString(h, "server"), "pop3");
  ConfigClose(h, false);
  ASSERT_EQ(ConfigOpenPath(h, "3", 0, false), kOk);
  EXPECT_EQ(GetString(h, "url"), "http://three/");
  ConfigRelease(&h);
}

}  // namespace
