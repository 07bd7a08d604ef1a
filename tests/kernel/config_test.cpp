// The settings store: its task, the one-section-at-a-time protocol, change
// notices, typed values and folders, slots and profiles, and damaged or
// unwritable class files.
#include "kernel/config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kernel/heap.h"
#include "kernel/sstore.h"
#include "tests/kernel/config_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ConfigTest : public WorkDirFixture {
 protected:
  void SetUp() override {
    WorkDirFixture::SetUp();
    starter_ = std::make_unique<Recorder>(Mod::UiStart);
    client_ = std::make_unique<Recorder>(70);
    other_ = std::make_unique<Recorder>(71);
    starter = starter_.get();
    client = client_.get();
    other = other_.get();
    Pump();
    freeBefore_ = HeapGetStats().freeBytes;
    ASSERT_EQ(ConfigStart(starter->task()), kOk);
    Pump();
  }

  void TearDown() override {
    ConfigStop();
    Pump();
    extra_.clear();
    // Every handle a test opened has been ended: nothing of the store is left.
    EXPECT_EQ(HeapGetStats().freeBytes, freeBefore_);
    EXPECT_EQ(HeapValidate(), nullptr);
    extra_.clear();
    other_.reset();
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

  Result OpenStatus(const char* section, bool writable) {
    ConfigOpen(client->task(), section, writable);
    Pump();
    auto [status, handle] = Answer(client);
    EXPECT_EQ(handle, nullptr);
    return status;
  }

  Result Save(ConfigHandle* handle, Recorder* who = nullptr) {
    who = who ? who : client;
    EXPECT_EQ(ConfigSave(handle), kOk);
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

  // Adds a profile folder under a slot of the open "//access" root.
  void AddProfile(ConfigHandle* root, const std::string& slot, const std::string& name,
                  int32_t bearer, int32_t internet) {
    ASSERT_EQ(ConfigOpenPath(root, (slot + "/isp/" + name).c_str(), 0, true), kOk);
    ConfigSetInt(root, "bearer", bearer);
    ConfigSetInt(root, "internet", internet);
    ASSERT_EQ(ConfigClose(root, true), kOk);
  }

  Recorder* starter = nullptr;
  Recorder* client = nullptr;
  Recorder* other = nullptr;

 private:
  std::unique_ptr<Recorder> starter_, client_, other_;
  std::vector<std::unique_ptr<Recorder>> extra_;
  uint32_t freeBefore_ = 0;
};

// ---- the task --------------------------------------------------------------

// ---- one section at a time -------------------------------------------------

TEST_F(ConfigTest, WaitingOpenersAreAnsweredInRequestOrderAfterASave) {
  ConfigHandle* first = Open("home", true);
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

TEST_F(ConfigTest, ValuesPersistAcrossASaveAndLandInTheClassFile) {
  ConfigHandle* h = Open("home", true);
  ConfigSetString(h, "url", "http://x/");
  ASSERT_EQ(Save(h), kOk);
  EXPECT_FALSE(Exists("access"));
  const Bytes file = ReadFile("page");
  // The class root holds the folder "home" with the value.
  StoreSection* root = nullptr;
  ASSERT_EQ(StoreParseSection(&root, file.data(), static_cast<uint32_t>(file.size()), nullptr, false),
            kOk);
  StoreEntry e;
  ASSERT_EQ(StoreReadValue(root, "home", 0, &e), kOk);
  EXPECT_EQ(e.kind, StoreKind::Folder);
  StoreFreeSection(&root);

  h = Open("home", false);
  EXPECT_EQ(GetString(h, "url"), "http://x/");
  ConfigRelease(&h);
}

TEST_F(ConfigTest, AReadOnlyOpenRefusesWritesAndFindsNoMissingSection) {
  EXPECT_EQ(OpenStatus("fave", false), kConfigNotFound);
  ConfigHandle* h = Open("fave", true);
  ConfigSetInt(h, "n", 1);
  ASSERT_EQ(Save(h), kOk);
  h = Open("fave", false);
  EXPECT_EQ(ConfigSetInt(h, "n", 2), kStoreBadArg);
  EXPECT_EQ(ConfigDelete(h, "n", 0), kStoreBadArg);
  EXPECT_EQ(GetInt(h, "n"), 1);
  ConfigRelease(&h);
}

// ---- change notices --------------------------------------------------------

TEST_F(ConfigTest, SavingCookiesTellsTheCookiesTaskUnlessItWroteThem) {
  Recorder* cookies = Task(Mod::Cookies);
  ConfigHandle* h = Open("cookies", true, cookies);
  ASSERT_EQ(Save(h, cookies), kOk);
  EXPECT_EQ(cookies->Count(ConfigMsg::Changed), 0u);
  h = Open("cookies", true);
  ASSERT_EQ(Save(h), kOk);
  EXPECT_EQ(cookies->Count(ConfigMsg::Changed), 1u);
  EXPECT_EQ(client->Count(ConfigMsg::Changed), 0u);
  EXPECT_EQ(client->Count(ConfigMsg::ChangedAll), 0u);
}

// ---- kinds -----------------------------------------------------------------

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

  const char* s = "unchanged";
  EXPECT_EQ(ConfigGetString(h, "n", 0, &s), kConfigNotFound);
  int32_t n = 5;
  EXPECT_EQ(ConfigGetInt(h, "s", 0, &n), kConfigNotFound);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(ConfigGetInt(h, "absent", 0, &n), kConfigNotFound);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(ConfigGetWString(h, "s", 0, &w), kConfigNotFound);
  EXPECT_EQ(ConfigGetRaw(h, "absent", 0, &data, &length, &kind), kConfigNotFound);
  ConfigRelease(&h);
}

TEST_F(ConfigTest, IntegersOfAnyLengthReadBigEndianAndStringsMustEnd) {
  ConfigHandle* h = Open("user", true);
  const uint8_t two[] = {0x01, 0x02};
  ConfigSetRaw(h, "two", 0, two, 2, ConfigKind::Int);
  ConfigSetRaw(h, "zero", 0, nullptr, 0, ConfigKind::Int);
  ConfigSetRaw(h, "odd", 0, "abc", 3, ConfigKind::String);  // no terminating 0
  ConfigSetRaw(h, "kind9", 0, "z", 1, static_cast<ConfigKind>(9));
  EXPECT_EQ(GetInt(h, "two"), 0x0102);
  EXPECT_EQ(GetInt(h, "zero"), 0);
  const char* s = nullptr;
  EXPECT_EQ(ConfigGetString(h, "odd", 0, &s), kStoreMalformed);
  EXPECT_EQ(s, nullptr);
  const uint8_t* data;
  uint32_t length;
  ConfigKind kind;
  ASSERT_EQ(ConfigGetRaw(h, "kind9", 0, &data, &length, &kind), kOk);
  EXPECT_EQ(static_cast<uint32_t>(kind), 9u);
  ConfigRelease(&h);
}

TEST_F(ConfigTest, EnumerationDeleteAndDeleteTree) {
  ConfigHandle* h = Open("user", true);
  for (const char* n : {"b", "a", "c"}) ConfigSetString(h, n, n);
  EXPECT_EQ(ConfigDelete(h, "a", 0), kOk);
  EXPECT_EQ(ConfigDelete(h, "a", 0), kConfigNotFound);
  std::vector<std::string> names;
  uintptr_t cursor = 0;
  const char* name;
  uint32_t nameLength, valueLength;
  const uint8_t* value;
  ConfigKind kind;
  Result r;
  while ((r = ConfigEnum(h, &cursor, &name, &nameLength, &value, &valueLength, &kind)) == kOk)
    names.emplace_back(name, nameLength);
  EXPECT_EQ(r, kStoreNotFound);
  EXPECT_EQ(names, (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(ConfigDeleteTree(h), kOk);
  cursor = 0;
  EXPECT_EQ(ConfigEnum(h, &cursor, &name, &nameLength, &value, &valueLength, &kind),
            kStoreNotFound);
  ConfigRelease(&h);
}

// ---- folders ---------------------------------------------------------------

TEST_F(ConfigTest, PathsAreEnteredCreatedAndLeftWithOrWithoutCommit) {
  ConfigHandle* h = Open("user", true);
  EXPECT_EQ(ConfigOpenPath(h, "a/b", 0, false), kConfigNotFound);
  ASSERT_EQ(ConfigOpenPath(h, "a/b", 0, true), kOk);
  ConfigSetInt(h, "deep", 7);
  ASSERT_EQ(ConfigClose(h, true), kOk);
  EXPECT_EQ(GetInt(h, "deep"), -1);  // back at the section's own level
  ASSERT_EQ(ConfigOpenPath(h, "/a//b/", 0, false), kOk);
  EXPECT_EQ(GetInt(h, "deep"), 7);
  ConfigSetInt(h, "deep", 8);
  ASSERT_EQ(ConfigClose(h, false), kOk);  // dropped
  ASSERT_EQ(Save(h), kOk);
  h = Open("user", false);
  ASSERT_EQ(ConfigOpenPath(h, "a/b", 3, false), kOk);
  EXPECT_EQ(GetInt(h, "deep"), 7);
  ASSERT_EQ(ConfigClose(h, true), kOk);
  ConfigRelease(&h);
}

// ---- damaged and unwritable files -----------------------------------------

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

TEST_F(ConfigTest, ADamagedClassFileThatCannotBeKeptAsideIsNotReplaced) {
  const Bytes damaged = {1, 5, 0xFF, 0xFF, 'x'};
  WriteFile("page", damaged);
  std::filesystem::create_directory("page.damaged");
  ConfigHandle* h = Open("home", true);
  ConfigSetString(h, "url", "u");
  EXPECT_EQ(Save(h), kUbstoreWriteFailed);
  EXPECT_EQ(ReadFile("page"), damaged);
}

// ---- slots -----------------------------------------------------------------

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

TEST_F(ConfigTest, TheStoredUseSlotBecomesActiveOnTheFirstSlotOpen) {
  ConfigHandle* h = Open("//access", true);
  ConfigSetInt(h, "UseSlot", 4);
  ASSERT_EQ(Save(h), kOk);
  ConfigResetOpen();
  const size_t broadcasts = other->Count(ConfigMsg::ChangedAll);
  h = Open("email", true);
  const char* slot;
  const char* name;
  ConfigGetActiveNames(&slot, &name);
  EXPECT_STREQ(slot, "4");
  EXPECT_EQ(other->Count(ConfigMsg::ChangedAll), broadcasts + 1);
  ConfigRelease(&h);
  // Read once per browser phase: a slot chosen since stands.
  ConfigSetActiveSlot(2);
  h = Open("email", true);
  ConfigGetActiveNames(&slot, &name);
  EXPECT_STREQ(slot, "2");
  ConfigRelease(&h);
}

TEST_F(ConfigTest, ProfileNamesAreCutTo16AndStarNeverReplacesAName) {
  Recorder* net = Task(Mod::Net);
  ConfigSetAccessName("a-very-long-profile-name");
  Pump();
  const char* slot;
  const char* name;
  ConfigGetActiveNames(&slot, &name);
  EXPECT_STREQ(name, "a-very-long-prof");
  EXPECT_EQ(net->Count(ConfigMsg::Changed), 1u);
  ConfigSetAccessName("a-very-long-prof-and-more");  // equal in 16 characters
  ConfigSetAccessName("*any");
  Pump();
  ConfigGetActiveNames(&slot, &name);
  EXPECT_STREQ(name, "a-very-long-prof");
  EXPECT_EQ(net->Count(ConfigMsg::Changed), 1u);
  ConfigSetAccessName("");
  Pump();
  ConfigGetActiveNames(&slot, &name);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(net->Count(ConfigMsg::Changed), 2u);
}

TEST_F(ConfigTest, FindSlotTakesTheLowestUnusedWithinAllowedServices) {
  ConfigHandle* h = Open("//access", true);
  ConfigOpenPath(h, "0", 0, true);
  ConfigSetString(h, "url", "http://zero/");
  ConfigClose(h, true);
  ConfigOpenPath(h, "2", 0, true);
  ConfigSetString(h, "url", "http://two/");
  ConfigClose(h, true);
  ConfigSetString(h, "9note", "a digit, but no folder");
  uint32_t slot = 99;
  EXPECT_EQ(ConfigFindSlot(&slot, h, nullptr, 0), kOk);
  EXPECT_EQ(slot, 1u);
  EXPECT_EQ(ConfigFindSlot(&slot, h, "http://two/", 0), kOk);
  EXPECT_EQ(slot, 2u);
  EXPECT_EQ(ConfigFindSlot(&slot, h, "http://two", 0), kOk);  // exact match only
  EXPECT_EQ(slot, 1u);
  EXPECT_EQ(ConfigFindSlot(&slot, h, nullptr, 1), kOk);
  EXPECT_EQ(slot, 0u);
  ConfigSetInt(h, "AllowedServices", 1);
  EXPECT_EQ(ConfigFindSlot(&slot, h, nullptr, 0), kOk);
  ConfigSetInt(h, "AllowedServices", 0);
  EXPECT_EQ(ConfigFindSlot(&slot, h, nullptr, 0), kConfigNoFreeSlot);
  ConfigRelease(&h);
}

// ---- profiles --------------------------------------------------------------

class ConfigProfileTest : public ConfigTest {
 protected:
  void Build(const std::function<void(ConfigHandle*)>& build) {
    ConfigHandle* h = Open("//access", true);
    build(h);
    ASSERT_EQ(Save(h), kOk);
  }
  std::string AccessName() {
    const char* slot;
    const char* name;
    ConfigGetActiveNames(&slot, &name);
    return name;
  }
};

TEST_F(ConfigProfileTest, AnUnnamedProfilePrefersAnInternetProfileOfItsBearer) {
  Build([this](ConfigHandle* h) {
    AddProfile(h, "0", "wapgw", 2, 1);
    AddProfile(h, "0", "plain", 0, 0);
    AddProfile(h, "0", "web", 0, 1);
  });
  Recorder* net = Task(Mod::Net);
  ConfigHandle* h = Open("isp", false);
  EXPECT_EQ(AccessName(), "web");
  EXPECT_EQ(GetInt(h, "internet"), 1);
  ConfigRelease(&h);
  Pump();
  EXPECT_EQ(net->Count(ConfigMsg::Changed), 1u);
}

TEST_F(ConfigProfileTest, AProfileOfAnotherSlotStandsInWhenTheActiveSlotHasNone) {
  Build([this](ConfigHandle* h) {
    AddProfile(h, "1", "loose", 0, 0);
    AddProfile(h, "2", "strict", 0, 1);
  });
  Recorder* net = Task(Mod::Net);
  ConfigHandle* h = Open("isp", false);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(AccessName(), "strict");
  EXPECT_EQ(GetInt(h, "internet"), 1);
  ConfigRelease(&h);
  Pump();
  EXPECT_EQ(net->Count(ConfigMsg::Changed), 0u);  // chosen without notice
}

TEST_F(ConfigProfileTest, AWritableOpenCreatesTheNamedProfile) {
  ConfigSetAccessName("office");
  ConfigHandle* h = Open("isp", true);
  ConfigSetInt(h, "bearer", 0);
  ASSERT_EQ(Save(h), kOk);
  h = Open("//access", false);
  EXPECT_EQ(ConfigOpenPath(h, "0/isp/office", 0, false), kOk);
  EXPECT_EQ(GetInt(h, "bearer"), 0);
  ConfigRelease(&h);
  // An unnamed profile is never made up.
  ConfigSetAccessName("");
  ConfigSetActiveSlot(6);
  EXPECT_EQ(OpenStatus("isp", true), kConfigNotFound);
}

}  // namespace
