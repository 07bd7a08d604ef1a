// What the kept inbox, the class file that holds it and push reception's
// locks do when the file's quota, the file's bytes or the heap run short:
// nothing kept is lost without a word.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "browser/cache.h"
#include "browser/url.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/ubstore.h"
#include "host/platform/files.h"
#include "services/push/inbox.h"
#include "services/push/lc.h"
#include "services/push/notify.h"
#include "services/push/notify_store.h"
#include "tests/services/push_fixture.h"
#include "tests/support/failure_record.h"

namespace {

std::string Narrow(const char16_t* w) {
  std::string s;
  for (; w && *w; ++w) s += static_cast<char>(*w);
  return s;
}

// A compiled SI of the given si-id and text (signal-medium, no dates).
std::string SiOf(const std::string& id, const std::string& text) {
  std::string si("\x03\x05\x6A\x00\x45\xC6\x0D\x03", 8);
  si += "example";
  si += '\0';
  si += "\x85\x03news/today.wml";
  si += '\0';
  si += "\x11\x03" + id;
  si += '\0';
  si += "\x07\x01\x03" + text;
  si += '\0';
  si += "\x01\x01";
  return si;
}

// The same with another action: 0x06 signal-low, 0x08 signal-high.
std::string SiActing(const std::string& id, const std::string& text, char action) {
  std::string si = SiOf(id, text);
  si[si.rfind(std::string("\x07\x01\x03", 3))] = action;
  return si;
}

class PushKeepTest : public PushFixture {
 protected:
  using PushFixture::PushFixture;
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    NotifyInbox* inbox = NotifyInboxOpen("text", "all", 3);
    if (!inbox) return out;
    const int index = NotifyInboxPropertyIndex("text");
    for (int more = 1; more && NotifyInboxProperty(inbox, 3); more = NotifyInboxNext(inbox))
      out.push_back(Narrow(NotifyInboxProperty(inbox, index)));
    NotifyInboxClose(&inbox);
    return out;
  }
  std::string PushSi(const std::string& id, const std::string& text) {
    return Push("application/vnd.wap.sic", SiOf(id, text));
  }
  std::vector<std::string> Documents() {
    std::vector<std::string> keys;
    for (const auto& [name, value] : Section("inbox"))
      if (name[0] == 'd') keys.push_back(name);
    return keys;
  }
  // Pushes `doc` and stops; the next start runs while the class file is a
  // link to itself, so it cannot read it, and the file is put back after.
  // The document's URL.
  std::string PushThenStartUnread(const std::string& doc) {
    const std::string url = Push(kConnectivity, doc, ProvHeaders());
    Pump();
    StopServices();
    std::filesystem::rename("repository", "repository.kept");
    std::filesystem::create_symlink("repository", "repository");
    StartServices();
    std::filesystem::remove("repository");
    std::filesystem::rename("repository.kept", "repository");
    return url;
  }

  // Takes the heap down to about `reserve` bytes without making the cache
  // give anything up: what runs short of memory then does. Straight from
  // the heap, which never evicts; a size that no longer fits (the free
  // bytes may lie in pieces too small for it) passes to the next smaller.
  static std::vector<void*> EatLeavingTheCache(uint32_t reserve) {
    std::vector<void*> eaten;
    for (uint32_t size = 1u << 18; size >= 8; size /= 2)
      while (HeapGetStats().freeBytes > reserve + 2 * size) {
        void* p = HeapBlockAlloc(size);
        if (!p) break;
        eaten.push_back(p);
      }
    return eaten;
  }
  // Whether the store holds a pushed page with `text` in it.
  bool HomePageHolds(const std::string& text) {
    for (const auto& [name, value] : Section("homepage"))
      if (value.find(text) != std::string::npos) return true;
    return false;
  }
  // The size of the pushed page that one thing said, the only one, lost:
  // "the pushed page of <bytes>" and `suffix`.
  uint32_t PageBytesSaid(const std::string& suffix) {
    const std::string prefix = "repository: the pushed page of ";
    EXPECT_EQ(failures.said.size(), 1u);
    if (failures.said.size() != 1) return 0;
    const std::string& said = failures.said[0];
    if (said.rfind(prefix, 0) != 0 || said.size() <= prefix.size() + suffix.size() ||
        said.substr(said.size() - suffix.size()) != suffix) {
      ADD_FAILURE() << said;
      return 0;
    }
    return static_cast<uint32_t>(
        std::stoul(said.substr(prefix.size(), said.size() - prefix.size() - suffix.size())));
  }
  // Runs the modules until they rest with the heap cut to about `reserve`
  // bytes, then again once it is given back.
  void PumpShortOf(uint32_t reserve) {
    std::vector<void*> eaten = EatHeapFinely(reserve);
    Pump();
    for (void* p : eaten) MemFreeRaw(p);
    Pump();
  }
  // A push routed short of memory: it is held by the inbox without a word,
  // or it left the cache and its loss was said exactly once; never left in
  // the cache for nobody. The inbox is emptied of it for the next round.
  void ExpectHeldOrSaidOnce(const std::string& url, uint32_t* held, uint32_t* said) {
    UrlLoad* load = Cached(url);
    if (load) {
      ASSERT_TRUE(NotifyHoldsMessage(load)) << "in the cache for nobody";
      ++*held;
      EXPECT_TRUE(failures.said.empty());
      NotifyRemoveMessage(load);
    } else {
      ++*said;
      EXPECT_EQ(failures.said, std::vector<std::string>{kMessageLost});
    }
  }

  // Routes what `push` pushes (its URL) with the heap cut every 2 bytes up
  // to `upTo`: each is held or said once, and both happen.
  template <typename PushFn>
  void ExpectEachCutHeldOrSaidOnce(uint32_t upTo, PushFn push) {
    uint32_t held = 0, said = 0;
    for (uint32_t reserve = 0; reserve <= upTo; reserve += 2) {
      SCOPED_TRACE(reserve);
      ++platform->now;  // a loss in a second of its own is said at once
      failures.said.clear();
      const std::string url = push(reserve);
      PumpShortOf(reserve);
      ExpectHeldOrSaidOnce(url, &held, &said);
    }
    EXPECT_GT(held, 0u);
    EXPECT_GT(said, 0u);
  }

  // Push reception and the settings store again from nothing: no class
  // file, the quotas as they come.
  void Afresh() {
    StopServices();
    ConfigStop();
    Pump();
    std::filesystem::remove("repository");
    UbstoreSetQuota("repository", 8000);
    ASSERT_EQ(ConfigStart(starter->task()), kOk);
    Pump();
    StartServices();
    failures.said.clear();
  }
  // Stops while the class file is a link to itself, so that the stop
  // cannot read it; the file is put back after.
  void StopUnread() {
    std::filesystem::rename("repository", "repository.kept");
    std::filesystem::create_symlink("repository", "repository");
    StopServices();
    std::filesystem::remove("repository");
    std::filesystem::rename("repository.kept", "repository");
  }

  // Stops the inbox with the heap cut to about `reserve` bytes, gives the
  // heap back, then stops local content, so the next start reads the file.
  void StopInboxShortOf(uint32_t reserve) {
    std::vector<void*> eaten = EatHeapFinely(reserve);
    starter->log.clear();
    NotifyStopTask();
    Pump();
    for (void* p : eaten) MemFreeRaw(p);
    Pump();
    ASSERT_EQ(starter->Count(NotifyMsg::Stopped), 1u);
    LcStopTask(starter->task());
    Pump();
  }

  // The text of the part `current` names.
  std::string RootText() {
    std::string current, text;
    for (const auto& [name, value] : Section("homepage"))
      if (name == "current") current = value;
    for (const auto& [name, value] : Section("homepage"))
      if (current.size() > 4 && name == current.substr(4)) text = value;
    return text;
  }
  // A pushed page whose root, without a Content-ID, holds `text`, with a
  // second part of `partSize` bytes named `partId`.
  void PushPageB(const std::string& text, const std::string& partId, uint32_t partSize) {
    Push("multipart/related",
         "Content-Type: multipart/related; boundary=b; type=\"text/html\"\r\n\r\n"
         "--b\r\nContent-Type: text/html\r\nContent-Location: http://example.com/index.html\r\n\r\n"
         "<html><body>" + text + "</body></html>\r\n"
         "--b\r\nContent-Type: text/plain\r\nContent-ID: <" + partId + ">\r\n\r\n" +
             std::string(partSize, 'z') + "\r\n--b--\r\n",
         {{"X-Wap-Application-Id", "32768"}});
  }

  // The names of the listed messages in list order; listing them so marks
  // none of them presented.
  static std::vector<std::string> ListedNames() {
    std::vector<std::string> names;
    NotifyInboxCursor* cursor = nullptr;
    if (NotifyOpenInboxCursor(&cursor) != kOk) return names;
    uint32_t code = 0, level = 0;
    while (UrlLoad* message = NotifyNextKept(cursor, &code, &level)) names.emplace_back(message->name);
    NotifyCloseInboxCursor(&cursor);
    return names;
  }
  // A run from the class file `base`: a start with the heap cut to about
  // *reserve bytes (null: the whole heap), then `fresh` SIs pushed, and the
  // stop. What the start listed, whether the stop wrote the file, what it
  // said, and what the next start lists. Push reception is stopped after.
  struct RunOutcome {
    std::vector<std::string> listed, said, back;
    bool written;
  };
  RunOutcome RunFrom(const std::vector<uint8_t>& base, const uint32_t* reserve, uint32_t fresh) {
    RunOutcome out{};
    WriteFile("repository", base);
    BeginServices();
    for (int i = 0; i < 100 && starter->Count(NotifyMsg::Started) == 0; ++i) Step();
    if (reserve)
      PumpShortOf(*reserve);
    else
      Pump();
    out.listed = ListedNames();
    for (uint32_t i = 0; i < fresh; ++i) {
      PushSi("fresh-" + std::to_string(i), "Fresh " + std::to_string(i) + std::string(20, 'f'));
      Pump();
    }
    failures.said.clear();
    StopServices();
    out.said = failures.said;
    out.written = ReadFile("repository") != base;
    StartServices();
    out.back = Texts();
    StopServices();
    return out;
  }

  static constexpr const char* kMessageLost = "a pushed message: not enough memory";
  // What the host would have said of failed saves.
  FailureRecord failures;
};

// --- The inbox past the quota ----------------------------------------------------------

// An inbox whose messages alone pass the class file's quota keeps the
// newest that fit, in their order, and the stop says how many it lost.
TEST_F(PushKeepTest, AnInboxPastTheQuotaKeepsTheNewestAndSaysTheRest) {
  UbstoreSetQuota("repository", 1200);
  PushSi("first", "The first one");
  Pump();
  StopServices();
  StartServices();
  ASSERT_EQ(Texts(), std::vector<std::string>{"The first one"});
  std::vector<std::string> newestFirst;
  for (int i = 1; i <= 7; ++i) {
    const std::string text = std::to_string(i) + std::string(99, 'a' + i);
    PushSi("more-" + std::to_string(i), text);
    newestFirst.insert(newestFirst.begin(), text);
  }
  newestFirst.push_back("The first one");
  Pump();
  ASSERT_EQ(Texts(), newestFirst);
  StopServices();
  StartServices();
  const std::vector<std::string> back = Texts();
  ASSERT_GE(back.size(), 1u);
  ASSERT_LT(back.size(), 8u);
  EXPECT_EQ(back, std::vector<std::string>(newestFirst.begin(), newestFirst.begin() +
                                                                     static_cast<long>(back.size())));
  ASSERT_EQ(failures.said.size(), 1u);
  EXPECT_EQ(failures.said[0], "repository: " + std::to_string(8 - back.size()) +
                          " of the inbox's 8 messages did not fit its quota");
}

// An inbox too big for one section of its file (64 KiB), though within the
// quota, keeps the newest that fit, as a quota does, and the stop says how
// many did not fit the file; no message is said lost for want of memory.
// Those past the section leave the inbox as the newer ones come: the inbox
// shows what the file will keep.
TEST_F(PushKeepTest, AnInboxPastWhatItsSectionHoldsKeepsTheNewestAndSaysTheRest) {
  UbstoreSetQuota("repository", 1 << 22);
  constexpr int kMessages = 120;
  std::vector<std::string> newestFirst;
  for (int i = 0; i < kMessages; ++i) {
    const std::string text = std::to_string(i) + std::string(600, static_cast<char>('a' + i % 26));
    PushSi("big-" + std::to_string(i), text);
    newestFirst.insert(newestFirst.begin(), text);
    Pump();
  }
  const std::vector<std::string> shown = Texts();
  ASSERT_GE(shown.size(), 1u);
  ASSERT_LT(shown.size(), newestFirst.size());
  EXPECT_EQ(shown, std::vector<std::string>(newestFirst.begin(), newestFirst.begin() +
                                                                      static_cast<long>(shown.size())));
  EXPECT_TRUE(failures.said.empty());
  StopServices();
  StartServices();
  const std::vector<std::string> back = Texts();
  EXPECT_EQ(back, shown);
  ASSERT_EQ(failures.said.size(), 1u);
  EXPECT_EQ(failures.said[0], "repository: " + std::to_string(kMessages - back.size()) + " of the inbox's " +
                          std::to_string(kMessages) + " messages did not fit its file");
}

// A stop's save that fails for want of memory is said, whatever the heap
// leaves: a start finds the inbox as saved, or the loss was said.
TEST_F(PushKeepTest, AnInboxSaveShortOfMemoryIsSaid) {
  uint32_t said = 0, saved = 0;
  for (uint32_t reserve = 0; reserve <= 4000; reserve += 40) {
    SCOPED_TRACE(reserve);
    failures.said.clear();
    const std::string text = "News " + std::to_string(reserve);
    PushSi("id-" + std::to_string(reserve), text);
    Pump();
    ASSERT_NO_FATAL_FAILURE(StopInboxShortOf(reserve));
    StartServices();
    const std::vector<std::string> back = Texts();
    if (!back.empty() && back[0] == text) {
      ++saved;
      EXPECT_TRUE(failures.said.empty());
    } else {
      ++said;
      ASSERT_EQ(failures.said.size(), 1u);
      EXPECT_EQ(failures.said[0], "repository: the inbox's 1 message: not enough memory");
    }
    // A clean inbox for the next round.
    while (NotifyKeptCount()) {
      NotifyInboxCursor* cursor = nullptr;
      ASSERT_EQ(NotifyOpenInboxCursor(&cursor), kOk);
      uint32_t code = 0, level = 0;
      UrlLoad* message = NotifyNextKept(cursor, &code, &level);
      NotifyCloseInboxCursor(&cursor);
      ASSERT_NE(message, nullptr);
      NotifyRemoveMessage(message);
    }
  }
  EXPECT_GT(said, 0u);
  EXPECT_GT(saved, 0u);
}

// A stop that cannot read the class file it writes into keeps nothing of
// this run: that is said, and not as a want of memory.
TEST_F(PushKeepTest, AnInboxWhoseFileCannotBeReadAtTheStopIsSaidSo) {
  PushSi("unread", "Unread news");
  Pump();
  // While the class file is a link to itself, the stop cannot read it.
  std::filesystem::create_symlink("repository", "repository");
  StopServices();
  std::filesystem::remove("repository");
  ASSERT_EQ(failures.said.size(), 1u);
  EXPECT_EQ(failures.said[0], "repository: the inbox's 1 message: its file could not be read");
  StartServices();
  EXPECT_TRUE(Texts().empty());
}

// A class file over its quota before the run (the quota was lowered since)
// is said at the start. The stop's save, which the quota refuses whatever
// the inbox holds, is said as such: the file keeps the inbox of its last
// save, so a deleted message comes back and a new one is lost. A stop that
// changed nothing writes nothing and says nothing.
TEST_F(PushKeepTest, AnInboxSaveTheQuotaRefusesKeepsTheLastSaveAndSaysSo) {
  struct Case {
    int stored;  // "Old news", then "More news"
    bool deleteOld, pushNew;
    std::string said;  // before ": the file keeps ..."; nothing said when empty
    std::string after = "";
  };
  const std::string deleted = "; 1 message deleted in this run comes back";
  const Case cases[] = {
      {1, true, false, "the inbox did not fit its quota", deleted},
      {2, true, false, "the inbox did not fit its quota", deleted},
      {2, false, true, "1 of the inbox's 3 messages did not fit its quota"},
      {1, false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.stored) + " " + std::to_string(c.deleteOld) + " " +
                 std::to_string(c.pushNew));
    ASSERT_NO_FATAL_FAILURE(Afresh());
    const std::string old = PushSi("old", "Old news");
    if (c.stored == 2) PushSi("more", "More news");
    PushHomePage(3000);
    const std::vector<std::string> stored =
        c.stored == 2 ? std::vector<std::string>{"More news", "Old news"}
                      : std::vector<std::string>{"Old news"};
    // Listed before the save, so that listing them again changes nothing.
    ASSERT_EQ(Texts(), stored);
    StopServices();
    const std::vector<uint8_t> before = ReadFile("repository");
    UbstoreSetQuota("repository", 2000);
    ::testing::internal::CaptureStderr();
    StartServices();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("qor: repository is over its quota (" + std::to_string(before.size()) +
                       " bytes of 2000)"),
              std::string::npos)
        << err;
    ASSERT_EQ(Texts(), stored);
    if (c.deleteOld) NotifyRemoveMessage(Cached(old));
    if (c.pushNew) PushSi("new", "New news");
    Pump();
    StopServices();
    if (c.said.empty())
      EXPECT_TRUE(failures.said.empty());
    else
      EXPECT_EQ(failures.said,
                std::vector<std::string>{"repository: " + c.said +
                                         ": the file keeps the inbox of its last save, without "
                                         "this run's changes" + c.after});
    EXPECT_EQ(ReadFile("repository"), before);
    StartServices();
    EXPECT_EQ(Texts(), stored);
  }
}

// A stop that cannot read its class file writes nothing: it says the
// messages only memory held (those that came in this run, and one the
// start missed whose document the file gave up since), and none the file
// still holds.
TEST_F(PushKeepTest, AStopThatCannotReadItsFileSaysWhatOnlyMemoryHeld) {
  struct Case {
    bool held;  // else an SI the start put back
    bool pushNew;
    std::string said;  // nothing said when empty
  };
  const Case cases[] = {
      {true, false, "the inbox's 1 message"},
      {true, true, "the inbox's 2 messages"},
      {false, false, ""},
      {false, true, "1 of the inbox's 2 messages"},
  };
  const std::string doc = DocOfSize(1500);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.held) + " " + std::to_string(c.pushNew));
    ASSERT_NO_FATAL_FAILURE(Afresh());
    std::string url;
    if (c.held) {
      url = PushThenStartUnread(doc);
      PushHomePage(6000);
      ASSERT_TRUE(Documents().empty());  // the home page took its room
    } else {
      url = PushSi("stored", "Stored news");
      Pump();
      StopServices();
      StartServices();
      ASSERT_EQ(Texts(), std::vector<std::string>{"Stored news"});
    }
    if (c.pushNew) PushSi("new", "New news");
    Pump();
    failures.said.clear();
    StopUnread();
    if (c.said.empty())
      EXPECT_TRUE(failures.said.empty());
    else
      EXPECT_EQ(failures.said, std::vector<std::string>{"repository: " + c.said +
                                                        ": its file could not be read"});
    StartServices();
    // The file still holds the message the start put back or missed.
    ASSERT_NE(Cached(url), nullptr);
    if (c.held)
      EXPECT_EQ(Body(Cached(url)), "");  // its document was the loss said
    else
      EXPECT_EQ(Texts(), std::vector<std::string>{"Stored news"});
  }
}

// A stop short of memory whose save cannot be made leaves the file as it
// was: it says only the messages that came in this run, which the file does
// not hold, and the deletes of this run, which come back; nothing when
// there are none.
TEST_F(PushKeepTest, AnInboxSaveShortOfMemorySaysOnlyWhatTheFileDoesNotHold) {
  constexpr int kStored = 39;
  struct Case {
    bool pushNew, deleteOldest;
    std::string unsaved;  // said when the file is left as it was
    uint32_t step = 100;  // between the heap's cuts
  };
  const Case cases[] = {
      {false, false, ""},
      {true, false, "1 of the inbox's 40 messages: not enough memory"},
      {false, true, "the inbox: not enough memory; 1 message deleted in this run comes back", 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.pushNew) + " " + std::to_string(c.deleteOldest));
    ASSERT_NO_FATAL_FAILURE(Afresh());
    std::vector<std::string> stored;
    std::string oldest;
    for (int i = 0; i < kStored; ++i) {
      const std::string text = "News " + std::to_string(i);
      const std::string url = PushSi("id-" + std::to_string(i), text);
      if (i == 0) oldest = url;
      stored.insert(stored.begin(), text);
      Pump();
    }
    StopServices();
    const std::vector<uint8_t> base = ReadFile("repository");
    uint32_t unsaved = 0, saved = 0;
    for (uint32_t reserve = 0; reserve <= 40000; reserve += c.step) {
      SCOPED_TRACE(reserve);
      WriteFile("repository", base);
      StartServices();
      ASSERT_EQ(Texts(), stored);
      if (c.pushNew) PushSi("new", "New news");
      if (c.deleteOldest) NotifyRemoveMessage(Cached(oldest));
      Pump();
      failures.said.clear();
      ASSERT_NO_FATAL_FAILURE(StopInboxShortOf(reserve));
      const std::vector<uint8_t> after = ReadFile("repository");
      if (after == base) {
        ++unsaved;
        if (c.unsaved.empty())
          EXPECT_TRUE(failures.said.empty());
        else
          EXPECT_EQ(failures.said, std::vector<std::string>{"repository: " + c.unsaved});
      } else {
        ++saved;
        EXPECT_TRUE(failures.said.empty());
      }
      StartServices();
      std::vector<std::string> back = Texts();
      if (c.pushNew && after != base) {
        ASSERT_FALSE(back.empty());
        EXPECT_EQ(back[0], "New news");
        back.erase(back.begin());
      }
      if (c.deleteOldest && after != base)
        back.push_back(stored.back());
      EXPECT_EQ(back, stored);
      StopServices();
    }
    EXPECT_GT(unsaved, 0u);
    if (c.pushNew || c.deleteOldest) {
      EXPECT_GT(saved, 0u);
    }
    StartServices();
  }
}

// A save short of memory goes again with fewer messages only while that
// loses fewer than no save, which loses the messages that came in this run:
// the stored messages that newer ones took past what the section holds are
// lost by any save, while the file left as it was keeps them. Such a save
// is said as it left the file.
TEST_F(PushKeepTest, ASaveWithFewerNeverLosesMoreThanNoSave) {
  UbstoreSetQuota("repository", 1 << 22);
  constexpr uint32_t kStored = 5, kFresh = 3;
  for (uint32_t i = 0; i < kStored; ++i) {
    PushSi("stored-" + std::to_string(i), std::to_string(i) + std::string(5000, 's'));
    Pump();
  }
  StopServices();
  const std::vector<uint8_t> base = ReadFile("repository");
  uint32_t unsaved = 0, saved = 0;
  for (uint32_t reserve = 180000; reserve <= 300000; reserve += 10000) {
    SCOPED_TRACE(reserve);
    WriteFile("repository", base);
    StartServices();
    ASSERT_EQ(Texts().size(), kStored);
    for (uint32_t i = 0; i < kFresh; ++i) {
      PushSi("fresh-" + std::to_string(i), std::to_string(i) + std::string(5000, 'f'));
      Pump();
    }
    const uint32_t shown = static_cast<uint32_t>(Texts().size());
    ASSERT_LT(shown, kStored + kFresh);  // stored messages taken past the section
    failures.said.clear();
    ASSERT_NO_FATAL_FAILURE(StopInboxShortOf(reserve));
    const std::vector<uint8_t> after = ReadFile("repository");
    StartServices();
    const uint32_t back = static_cast<uint32_t>(Texts().size());
    const std::string of = " of the inbox's " + std::to_string(kStored + kFresh) + " messages";
    if (after == base) {
      ++unsaved;
      EXPECT_EQ(failures.said, std::vector<std::string>{"repository: " + std::to_string(kFresh) +
                                                        of + ": not enough memory"});
    } else {
      ++saved;
      // One with fewer than the inbox shows loses fewer than no save.
      if (back < shown) {
        EXPECT_LT(kStored + kFresh - back, kFresh) << "this save lost more than no save";
      }
      ASSERT_EQ(failures.said.size(), 1u);
      EXPECT_EQ(failures.said[0].find("repository: " + std::to_string(kStored + kFresh - back) + of),
                0u)
          << failures.said[0];
    }
    StopServices();
  }
  EXPECT_GT(unsaved, 0u);
  EXPECT_GT(saved, 0u);
  StartServices();
}

// A start short of memory puts back the newest stored messages it can and
// leaves the older ones in the file: the stop writes them all in the
// inbox's order, so the run keeps what it keeps after a start with the
// whole heap, and says it in the same words, whether nothing changed,
// everything fits or the quota cuts the oldest.
TEST_F(PushKeepTest, AStartShortOfMemoryKeepsWhatAWholeStartKeeps) {
  struct Case {
    int32_t quota;
    uint32_t fresh;  // messages pushed in the run
  };
  const Case cases[] = {{8000, 0}, {8000, 1}, {2000, 4}};
  constexpr uint32_t kStored = 8;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.quota) + " " + std::to_string(c.fresh));
    ASSERT_NO_FATAL_FAILURE(Afresh());
    UbstoreSetQuota("repository", c.quota);
    for (uint32_t i = 0; i < kStored; ++i) {
      PushSi("stored-" + std::to_string(i), "Stored " + std::to_string(i) + std::string(20, 's'));
      Pump();
    }
    StopServices();
    ASSERT_TRUE(failures.said.empty()) << failures.said[0];
    const std::vector<uint8_t> base = ReadFile("repository");
    const RunOutcome whole = RunFrom(base, nullptr, c.fresh);
    ASSERT_EQ(whole.listed.size(), kStored);
    RunOutcome part{};
    for (uint32_t reserve = 0;
         reserve <= 20000 && (part.listed.empty() || part.listed.size() == kStored); reserve += 64)
      part = RunFrom(base, &reserve, c.fresh);
    ASSERT_FALSE(part.listed.empty());
    ASSERT_LT(part.listed.size(), kStored);
    EXPECT_EQ(part.listed, std::vector<std::string>(whole.listed.begin(),
                                                    whole.listed.begin() + part.listed.size()));
    EXPECT_EQ(part.written, whole.written);
    EXPECT_EQ(part.said, whole.said);
    EXPECT_EQ(part.back, whole.back);
    StartServices();
  }
}

std::vector<std::string>* gUnread = nullptr;
void NoteUnread(const char* path) {
  if (gUnread) gUnread->push_back(path);
}

// A start that memory lets put back only part of the inbox leaves the rest
// in the file, and the run says so as it says any kept file memory could
// not read whole: the user is not left with a shorter inbox and no word.
TEST_F(PushKeepTest, AStartThatListsPartOfTheInboxSaysItsFileUnread) {
  const std::string doc("E\0m\3j", 5);
  const struct {
    const char* kind;
    uint32_t stored;
    bool provisioning;
  } cases[] = {{"SIs", 8, false}, {"provisioning documents", 3, true}};
  std::vector<std::string> unread;
  gUnread = &unread;
  const FileNotReadHook before = PlatformFileOnNotRead(NoteUnread);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    ASSERT_NO_FATAL_FAILURE(Afresh());
    for (uint32_t i = 0; i < c.stored; ++i) {
      if (c.provisioning)
        Push(kConnectivity, doc, ProvHeaders());
      else
        PushSi("stored-" + std::to_string(i), "Stored " + std::to_string(i));
      Pump();
    }
    StopServices();
    const std::vector<uint8_t> base = ReadFile("repository");
    uint32_t partly = 0;
    for (uint32_t reserve = 0; reserve <= 6000; reserve += 64) {
      SCOPED_TRACE(reserve);
      unread.clear();
      const RunOutcome run = RunFrom(base, &reserve, 0);
      if (run.listed.empty() || run.listed.size() == c.stored) continue;
      ++partly;
      EXPECT_EQ(unread, std::vector<std::string>{"repository"});
      EXPECT_EQ(run.back.size(), c.stored);
    }
    EXPECT_GT(partly, 0u);
    StartServices();
  }
  PlatformFileOnNotRead(before);
  gUnread = nullptr;
}

// A connectivity message the inbox lists though its rules did not keep it
// is not held in the cache, which may free it whenever the heap runs short:
// the stop's save holds the messages it writes until it is done, so that
// none is read after the cache freed it, whatever the heap leaves. Those
// the file holds come back whole.
TEST_F(PushKeepTest, AStopShortOfMemoryHoldsTheMessagesItWrites) {
  const std::string doc("E\0m\3j", 5);
  for (uint32_t reserve = 0; reserve <= 3000; reserve += 30) {
    SCOPED_TRACE(reserve);
    ASSERT_NO_FATAL_FAILURE(Afresh());
    std::vector<std::string> urls;
    for (int i = 0; i < 3; ++i) urls.push_back(Push(kConnectivity, doc));
    Pump();
    ASSERT_EQ(NotifyKeptCount(), 3u);
    std::vector<void*> eaten = EatLeavingTheCache(reserve);
    NotifyStopTask();
    Pump();
    for (void* p : eaten) MemFreeRaw(p);
    LcStopTask(starter->task());
    Pump();
    StartServices();
    for (const std::string& url : urls) {
      if (UrlLoad* load = Cached(url)) {
        EXPECT_EQ(Body(load), doc);
      }
    }
  }
}

// --- Memory running short while the inbox holds messages --------------------------------

// Memory runs short in two ways: the cache gives up everything it may, or
// a page's blocks are taken until the heap refuses one (each refusal makes
// the cache give one up first). The heap is given back after.
enum class Short { CacheGivesUp, HeapRefuses };
void RunShort(Short how) {
  if (how == Short::CacheGivesUp) {
    while (CacheFreeOne()) {
    }
    return;
  }
  std::vector<void*> taken;
  for (uint32_t size = 1u << 16; size >= 8; size /= 2)
    while (void* p = MemAlloc(size, Use::Data, Mod::Url)) taken.push_back(p);
  for (void* p : taken) MemFreeRaw(p);
}

// A message the user viewed, or a provisioning document pushed in this run
// (which the rules do not keep), is still in the inbox however short memory
// runs: the user can open it again, its document can still be applied, and
// the stop keeps it in the file without a word, so the next start lists it
// again.
TEST_F(PushKeepTest, AMessageTheCacheCouldFreeStaysInTheInboxAndItsFile) {
  struct Case {
    bool provisioning;  // else an SI the start put back, then viewed
    Short how;
  };
  const Case cases[] = {{false, Short::CacheGivesUp},
                        {false, Short::HeapRefuses},
                        {true, Short::CacheGivesUp},
                        {true, Short::HeapRefuses}};
  const std::string doc = DocOfSize(600);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.provisioning) + " " + std::to_string(static_cast<int>(c.how)));
    ASSERT_NO_FATAL_FAILURE(Afresh());
    std::string url;
    if (c.provisioning) {
      url = Push(kConnectivity, doc, ProvHeaders());
      Pump();
    } else {
      url = PushSi("viewed", "Viewed news");
      PushSi("other", "Other news");
      Pump();
      StopServices();
      StartServices();
      ASSERT_NE(Cached(url), nullptr);
      NotifyMarkMessage(Cached(url), UrlFlag::Viewed);
    }
    PushHomePage(2000);  // a page's objects for the cache to give up too
    RunShort(c.how);
    Pump();
    if (!Cached(url)) {
      ADD_FAILURE() << "freed by the cache";
      continue;
    }
    EXPECT_TRUE(NotifyHoldsMessage(Cached(url)));
    if (c.provisioning) {
      EXPECT_EQ(Body(Cached(url)), doc);
    }
    const uint32_t listed = NotifyKeptCount();
    StopServices();
    EXPECT_TRUE(failures.said.empty()) << failures.said[0];
    bool inFile = false;
    for (const auto& [name, value] : Section("inbox"))
      inFile = inFile || (name[0] == 'm' && value.find(url.substr(5)) != std::string::npos);
    EXPECT_TRUE(inFile);
    StartServices();
    EXPECT_EQ(NotifyKeptCount(), listed);
    ASSERT_NE(Cached(url), nullptr);
    EXPECT_TRUE(NotifyHoldsMessage(Cached(url)));
    if (c.provisioning) {
      EXPECT_EQ(Body(Cached(url)), doc);
    } else {
      EXPECT_TRUE(Cached(url)->flags & UrlFlag::Viewed);
    }
  }
}

// --- An inbox of thousands ---------------------------------------------------------------

// The heap of the shipped emulator (2 MB): thousands of pushes fill it.
class PushSmallHeapTest : public PushKeepTest {
 protected:
  PushSmallHeapTest() : PushKeepTest(2u << 20) {}
};

// Thousands of pushes, far past what the inbox's section holds, never fill
// the heap: the oldest leave as the newer come, the heap takes every push,
// and the stop saves once the newest that fit, as many of 3,000 as of
// 1,200. The stop says how many did not fit.
TEST_F(PushSmallHeapTest, AnInboxOfThousandsKeepsTheNewestThatFitInOneSave) {
  std::vector<size_t> kept;
  for (int n : {1200, 3000}) {
    SCOPED_TRACE(n);
    ASSERT_NO_FATAL_FAILURE(Afresh());
    UbstoreSetQuota("repository", 1 << 22);
    for (int i = 0; i < n; ++i) {
      PushSi("id-" + std::to_string(i), "News " + std::to_string(i));
      Pump();
    }
    const uint32_t taken = NotifyKeptCount();
    NotifyStopTask();
    EXPECT_LT(Pump(), 100) << "the save was made more than once";
    LcStopTask(starter->task());
    Pump();
    StartServices();
    const std::vector<std::string> back = Texts();
    ASSERT_FALSE(back.empty());
    for (size_t i = 1; i < back.size(); ++i)
      EXPECT_GT(std::stoi(back[i - 1].substr(5)), std::stoi(back[i].substr(5))) << i;
    // What the heap could not take is said in a line or two, as a count.
    uint32_t notTaken = 0, lines = 0;
    std::vector<std::string> rest;
    for (const std::string& said : failures.said) {
      if (said.find("pushed message") == std::string::npos) {
        rest.push_back(said);
        continue;
      }
      ++lines;
      notTaken += said[0] == 'a' ? 1 : static_cast<uint32_t>(std::stoul(said));
    }
    EXPECT_EQ(notTaken, 0u);
    EXPECT_EQ(lines, 0u);
    EXPECT_EQ(back.size(), taken);
    EXPECT_EQ(back.front(), "News " + std::to_string(n - 1));
    EXPECT_EQ(rest, std::vector<std::string>{"repository: " + std::to_string(n - back.size()) +
                                             " of the inbox's " + std::to_string(n) +
                                             " messages did not fit its file"});
    kept.push_back(back.size());
  }
  EXPECT_GT(kept[1] * 10, kept[0] * 9);
}

// After a start that missed stored messages (their file could not be read,
// or the heap could not take them all), a burst is bounded as after a
// whole start: the heap takes every push and holds no more than after a
// whole start, and the stop keeps the newest that fit and says the rest in
// numbers that match the file. A burst that fits leaves the missed
// messages in the file, after the new ones.
TEST_F(PushSmallHeapTest, AfterAStartThatMissedMessagesABurstKeepsTheNewestThatFit) {
  enum class Start { Whole, Unread, Short };
  struct Case {
    Start start;
    int burst;
  };
  const Case cases[] = {{Start::Whole, 1500}, {Start::Unread, 1500}, {Start::Short, 1500},
                        {Start::Unread, 20},  {Start::Short, 20}};
  constexpr uint32_t kStored = 8;
  uint32_t wholeFree = 0;  // the heap left after the whole start's burst
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.start)) + " " + std::to_string(c.burst));
    ASSERT_NO_FATAL_FAILURE(Afresh());
    UbstoreSetQuota("repository", 1 << 22);
    for (uint32_t i = 0; i < kStored; ++i) {
      PushSi("stored-" + std::to_string(i), "Stored " + std::to_string(i));
      Pump();
    }
    StopServices();
    const std::vector<uint8_t> base = ReadFile("repository");
    if (c.start == Start::Whole) {
      StartServices();
    } else if (c.start == Start::Unread) {
      std::filesystem::rename("repository", "repository.kept");
      std::filesystem::create_symlink("repository", "repository");
      StartServices();
      std::filesystem::remove("repository");
      std::filesystem::rename("repository.kept", "repository");
    } else {
      // The first cut of the heap that leaves some of them in the file.
      bool missed = false;
      for (uint32_t reserve = 0; reserve <= 20000 && !missed; reserve += 64) {
        WriteFile("repository", base);
        BeginServices();
        for (int i = 0; i < 100 && starter->Count(NotifyMsg::Started) == 0; ++i) Step();
        PumpShortOf(reserve);
        const size_t listed = ListedNames().size();
        missed = listed > 0 && listed < kStored;
        if (!missed) StopServices();
      }
      ASSERT_TRUE(missed);
    }
    ASSERT_EQ(NotifyKeptCount() < kStored, c.start != Start::Whole);
    failures.said.clear();
    for (int i = 0; i < c.burst; ++i) {
      PushSi("id-" + std::to_string(i), "News " + std::to_string(i));
      Pump();
    }
    const uint32_t taken = NotifyKeptCount();
    const uint32_t free = HeapGetStats().freeBytes;
    if (c.start == Start::Whole) wholeFree = free;
    EXPECT_GE(free + 16384, wholeFree) << "the burst held more than after a whole start";
    StopServices();
    StartServices();
    const std::vector<std::string> back = Texts();
    ASSERT_FALSE(back.empty());
    EXPECT_EQ(back.front(), "News " + std::to_string(c.burst - 1));
    const uint32_t total = kStored + static_cast<uint32_t>(c.burst);
    if (back.size() == total) {
      // All of them: the missed ones after the new ones, in their order.
      EXPECT_TRUE(failures.said.empty()) << failures.said[0];
      EXPECT_EQ(back.back(), "Stored 0");
      continue;
    }
    for (size_t i = 0; i < back.size(); ++i)
      if (back[i] != "News " + std::to_string(c.burst - 1 - static_cast<int>(i))) {
        ADD_FAILURE() << i << ": " << back[i];
        break;
      }
    EXPECT_EQ(back.size(), taken);
    EXPECT_EQ(failures.said,
              std::vector<std::string>{"repository: " + std::to_string(total - back.size()) +
                                       " of the inbox's " + std::to_string(total) +
                                       " messages did not fit its file"});
  }
}

// After a start that missed stored messages, a burst past what the section
// holds leaves the inbox as after a whole start: the missed messages, which
// such a burst puts past the section, keep no later push out by the rules
// (it would go with them), and the stored ones of a higher priority stay
// before the burst. Each run is compared with a whole start's.
TEST_F(PushKeepTest, AfterAStartThatMissedMessagesABurstLeavesWhatAWholeStartLeaves) {
  struct Case {
    const char* name;
    std::vector<std::string> stored;  // documents of tests/data/push, or "high" SIs
    std::string after;                // a document pushed after the burst, or none
  };
  const Case cases[] = {
      {"an older SI of a missed id after the burst", {"si_newer"}, "si_older"},
      {"stored SIs of a higher priority", {"high", "high", "high"}, ""},
      {"stored messages of every priority", {"high", "si_medium", "sl_cache"}, ""},
  };
  const std::string padding(900, 'p');
  for (const Case& c : cases) {
    std::vector<std::string> backs[2], saids[2];
    for (int unread = 0; unread < 2; ++unread) {
      SCOPED_TRACE(std::string(c.name) + (unread ? " unread" : " whole"));
      ASSERT_NO_FATAL_FAILURE(Afresh());
      UbstoreSetQuota("repository", 1 << 22);
      for (size_t i = 0; i < c.stored.size(); ++i) {
        if (c.stored[i] == "high")
          Push("application/vnd.wap.sic",
               SiActing("high-" + std::to_string(i), "High " + std::to_string(i), '\x08'));
        else
          PushDoc(c.stored[i]);
        Pump();
      }
      StopServices();
      if (unread) {
        std::filesystem::rename("repository", "repository.kept");
        std::filesystem::create_symlink("repository", "repository");
      }
      StartServices();
      if (unread) {
        std::filesystem::remove("repository");
        std::filesystem::rename("repository.kept", "repository");
      }
      ASSERT_EQ(NotifyKeptCount(), unread ? 0u : c.stored.size());
      // Low-priority SIs, more than the section holds.
      for (int i = 0; i < 75; ++i) {
        Push("application/vnd.wap.sic",
             SiActing("low-" + std::to_string(i), "Low " + std::to_string(i) + padding, '\x06'));
        Pump();
      }
      if (!c.after.empty()) {
        PushDoc(c.after);
        Pump();
      }
      failures.said.clear();
      StopServices();
      saids[unread] = failures.said;
      StartServices();
      for (const std::string& text : Texts()) backs[unread].push_back(text.substr(0, 12));
    }
    SCOPED_TRACE(c.name);
    EXPECT_EQ(backs[1], backs[0]);
    EXPECT_EQ(saids[1], saids[0]);
  }
}

// A flood of provisioning documents, each held until the user opens it,
// never fills the heap: the heap takes every push, the inbox holds the
// newest, whose documents fit what one section holds, and the stop says
// the rest in numbers that match what the next start lists.
TEST_F(PushSmallHeapTest, AFloodOfProvisioningDocumentsKeepsTheNewestThatFit) {
  ASSERT_NO_FATAL_FAILURE(Afresh());
  UbstoreSetQuota("repository", 1 << 22);
  constexpr uint32_t kFlood = 1000;
  const std::string doc = DocOfSize(2048);
  std::string newest;
  for (uint32_t i = 0; i < kFlood; ++i) {
    newest = Push(kConnectivity, doc, ProvHeaders());
    Pump();
  }
  EXPECT_TRUE(failures.said.empty()) << failures.said[0];
  const uint32_t held = NotifyKeptCount();
  ASSERT_NE(Cached(newest), nullptr);
  EXPECT_EQ(Body(Cached(newest)), doc);  // it can still be applied
  StopServices();
  StartServices();
  EXPECT_EQ(NotifyKeptCount(), held);
  EXPECT_NE(Cached(newest), nullptr);
  EXPECT_EQ(failures.said, std::vector<std::string>{"repository: " + std::to_string(kFlood - held) +
                                                    " of the inbox's 1000 messages did not fit its file"});
}

// --- A pushed page past the quota ------------------------------------------------------

// A pushed home page the class file's quota cannot take, even once the
// spare documents are gone, is said with its size; the page stored before
// stays, and one that fits is stored without a word.
TEST_F(PushKeepTest, APushedPageThatDoesNotFitItsQuotaIsSaid) {
  UbstoreSetQuota("repository", 1200);
  struct Case {
    uint32_t size;
    bool fits;
  };
  const Case cases[] = {{100, true}, {2000, false}, {300, true}, {1150, false}};
  std::string current;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    failures.said.clear();
    PushHomePage(c.size);
    std::string now, page;
    for (const auto& [name, value] : Section("homepage")) {
      if (name == "current") now = value;
      if (value.find("<html><body>") != std::string::npos) page = value;
    }
    if (c.fits) {
      EXPECT_TRUE(failures.said.empty());
      EXPECT_NE(page.find(std::string(c.size, 'x') + "</body>"), std::string::npos);
      current = now;
      continue;
    }
    EXPECT_EQ(now, current);
    const uint32_t bytes = PageBytesSaid(" bytes did not fit its quota");
    EXPECT_GT(bytes, c.size + 90);
    EXPECT_LT(bytes, c.size + 400);
  }
}

// A pushed page the one section of its file that holds the store's pages
// cannot carry, within the quota or not, is said as one that did not fit
// its file: one part past what a value holds (64 KiB), two parts that fit
// one by one but not together, a part named past what a name holds (255
// bytes), or a page named so that its index's name is past it. A page that
// fits is stored after it.
TEST_F(PushKeepTest, APushedPagePastWhatItsSectionHoldsIsSaid) {
  struct Case {
    int32_t quota;
    uint32_t page, logo;  // the sizes of the parts; no logo part when 0
    uint32_t logoName;    // the length of the logo's Content-ID
    uint32_t pageName = 0;  // the length of the page's Content-ID; none when 0
  };
  const Case cases[] = {{8000, 70000, 0, 4},
                        {1 << 22, 70000, 0, 4},
                        {1 << 22, 40000, 40000, 4},
                        {8000, 100, 100, 300},
                        {8000, 100, 0, 4, 252}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.quota) + " " + std::to_string(c.page) + " " +
                 std::to_string(c.logo) + " " + std::to_string(c.logoName) + " " +
                 std::to_string(c.pageName));
    UbstoreSetQuota("repository", c.quota);
    failures.said.clear();
    const std::string marker = "big " + std::to_string(c.quota) + " " + std::to_string(c.page) + " ";
    // The logo goes first: a part refused after the page would leave the
    // page's bytes in the stored page of the same name (the time names it).
    std::string body = "Content-Type: multipart/related; boundary=b; type=\"text/html\"\r\n\r\n";
    if (c.logo)
      body += "--b\r\nContent-Type: image/gif\r\nContent-ID: <" + std::string(c.logoName, 'l') +
              ">\r\n\r\n" + std::string(c.logo, 'y') + "\r\n";
    body += "--b\r\nContent-Type: text/html\r\n";
    if (c.pageName) body += "Content-ID: <" + std::string(c.pageName, 'p') + ">\r\n";
    body += "Content-Location: http://example.com/index.html\r\n\r\n"
            "<html><body>" + marker + std::string(c.page, 'x') + "</body></html>\r\n--b--\r\n";
    Push("multipart/related", body, {{"X-Wap-Application-Id", "32768"}});
    Pump();
    EXPECT_FALSE(HomePageHolds(marker));
    const uint32_t bytes = PageBytesSaid(" bytes did not fit its file");
    EXPECT_GT(bytes, std::min(c.page, c.logo));
    EXPECT_LT(bytes, c.page + c.logo + c.logoName + 600);
    failures.said.clear();
    PushHomePage(100);
    EXPECT_TRUE(failures.said.empty());
    EXPECT_TRUE(HomePageHolds(std::string(100, 'x') + "</body>"));
  }
}

// A page refused after its root was written leaves the stored page whole:
// page A, one part named by the time, then within the same second page B,
// its root named so too and a part the file cannot carry (a name past what
// a name holds, a part past what a value holds) or the heap cannot take.
// B is said not kept, and A's text is what the store serves, also after a
// stop and a start; a B that is kept is kept whole.
TEST_F(PushKeepTest, ARefusedPageLeavesTheStoredPageOfItsNameAsItWas) {
  struct Case {
    const char* why;
    uint32_t idLength, partSize, cutFrom, cutTo;  // a heap cut when cutTo > 0
    uint32_t pageSize = 300, step = 40;  // A's root text; the cut's step
  };
  const Case cases[] = {{"a name past what a name holds", 300, 100, 0, 0},
                        {"a part past what a value holds", 4, 70000, 0, 0},
                        {"the heap cut", 4, 20000, 0, 40000},
                        // A's larger root going back needs room the heap lacks.
                        {"the heap cut as A's root goes back", 300, 1, 30000, 33000, 6000, 16}};
  const std::string pageB = "page B";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string pageA = "page A " + std::string(c.pageSize, 'a');
    uint32_t refused = 0;
    for (uint32_t reserve = c.cutFrom; reserve <= c.cutTo; reserve += c.step) {
      SCOPED_TRACE(reserve);
      if (RootText().find(pageA) == std::string::npos) {
        PushPage(pageA, 10);
        Pump();
        ASSERT_NE(RootText().find(pageA), std::string::npos);
      }
      failures.said.clear();
      PushPageB(pageB, std::string(c.idLength, 'q'), c.partSize);
      if (c.cutTo)
        PumpShortOf(reserve);
      else
        Pump();
      const bool kept = failures.said.empty();
      if (kept) {
        ASSERT_GT(c.cutTo, 0u);
        EXPECT_NE(RootText().find(pageB), std::string::npos);
        EXPECT_EQ(Section("homepage").size(), 4u);  // current, the two parts, the index
        continue;
      }
      ++refused;
      EXPECT_EQ(failures.said.size(), 1u);
      EXPECT_NE(RootText().find(pageA), std::string::npos);
      StopServices();
      StartServices();
      EXPECT_NE(RootText().find(pageA), std::string::npos);
      EXPECT_EQ(RootText().find(pageB), std::string::npos);
      EXPECT_EQ(Section("homepage").size(), 3u);  // current, A's part and index
    }
    EXPECT_GT(refused, 0u);
  }
}

// Page A, then at once page B, its root named as A's and refused, whose
// going back the heap cannot take: A's save runs before B begins, so after a
// stop and a start A is kept, or its loss is said; "stored" never goes for a
// page the file lost.
TEST_F(PushKeepTest, APageEndedAsTheNextBeginsIsSavedBeforeIt) {
  uint32_t kept = 0;
  for (uint32_t reserve = 30000; reserve <= 40000; reserve += 128) {
    SCOPED_TRACE(reserve);
    failures.said.clear();
    status->log.clear();
    const std::string pageA = "page A " + std::to_string(reserve) + " " + std::string(6000, 'a');
    PushPage(pageA, 10);
    PushPageB("page B", std::string(300, 'q'), 1);
    PumpShortOf(reserve);
    const std::vector<uint32_t> indicators = Indicators();
    StopServices();
    StartServices();
    const bool aKept = RootText().find(pageA) != std::string::npos;
    kept += aKept ? 1 : 0;
    EXPECT_EQ(failures.said.size(), aKept ? 1u : 2u) << "B said, and A when it is gone";
    if (!aKept) {
      EXPECT_EQ(std::count(indicators.begin(), indicators.end(), 13u), 0) << "A said stored, and gone";
    }
  }
  EXPECT_GT(kept, 0u);
}

// A pushed home page the store takes short of memory is either stored or
// said, whatever the heap leaves once push reception has handed it over.
TEST_F(PushKeepTest, APushedPageStoredShortOfMemoryIsStoredOrSaid) {
  uint32_t said = 0, stored = 0;
  for (uint32_t reserve = 0; reserve <= 8000; reserve += 40) {
    SCOPED_TRACE(reserve);
    failures.said.clear();
    const std::string marker = "page " + std::to_string(reserve) + " ";
    const std::string url = PushPage(marker, 2000);
    // Push reception lets the object go once its parts are with the store.
    for (int steps = 0; Cached(url) && steps < 10000; ++steps) Step();
    ASSERT_EQ(Cached(url), nullptr);
    PumpShortOf(reserve);
    const bool found = HomePageHolds(marker);
    if (found) {
      ++stored;
      EXPECT_TRUE(failures.said.empty());
    } else {
      ++said;
      ASSERT_EQ(failures.said.size(), 1u);
      EXPECT_EQ(failures.said[0], "repository: the pushed page: not enough memory");
    }
  }
  EXPECT_GT(said, 0u);
  EXPECT_GT(stored, 0u);
}

// --- Spare documents ---------------------------------------------------------------------

// A save over the quota drops the inbox's documents one at a time, the
// oldest message's first, and keeps one that still fits.
TEST_F(PushKeepTest, ASaveOverTheQuotaKeepsTheDocumentsThatFit) {
  const std::string older = DocOfSize(1000), newer = DocOfSize(1001);
  const std::string olderUrl = Push(kConnectivity, older, ProvHeaders());
  const std::string newerUrl = Push(kConnectivity, newer, ProvHeaders());
  Pump();
  StopServices();
  StartServices();
  ASSERT_EQ(Documents().size(), 2u);
  PushHomePage(5700);
  ASSERT_EQ(Documents(), std::vector<std::string>{"d0"});  // the newer message's
  StopServices();
  StartServices();
  EXPECT_EQ(Documents(), std::vector<std::string>{"d0"});
  ASSERT_NE(Cached(newerUrl), nullptr);
  EXPECT_EQ(Body(Cached(newerUrl)), newer);
  ASSERT_NE(Cached(olderUrl), nullptr);
  EXPECT_EQ(Body(Cached(olderUrl)), "");
  EXPECT_TRUE(failures.said.empty());
}

// A save of another section that passes the quota and so drops an inbox
// document does not lose it: the stop writes it back once there is room
// again, whether the start put its message back (memory holds it) or could
// not (the class file alone held it), though nothing else of the inbox
// changed.
TEST_F(PushKeepTest, ADocumentOutlivesASaveThatDropsIt) {
  const std::string doc = DocOfSize(1500);
  for (const bool missed : {true, false}) {
    SCOPED_TRACE(missed);
    ASSERT_NO_FATAL_FAILURE(Afresh());
    std::string url;
    if (missed) {
      url = PushThenStartUnread(doc);
      ASSERT_EQ(NotifyKeptCount(), 0u);
    } else {
      url = Push(kConnectivity, doc, ProvHeaders());
      Pump();
      StopServices();
      StartServices();
      ASSERT_EQ(NotifyKeptCount(), 1u);
    }
    ASSERT_EQ(Documents(), std::vector<std::string>{"d0"});
    PushHomePage(6000);
    ASSERT_TRUE(Documents().empty());  // the home page took its room
    PushHomePage(100);
    StopServices();
    StartServices();
    ASSERT_NE(Cached(url), nullptr);
    EXPECT_EQ(Body(Cached(url)), doc);
    EXPECT_TRUE(failures.said.empty());
  }
}

// Saves of another section that still pass the quota once the document is
// dropped are refused, and the file keeps the document: the copy held for
// the stop is taken once, however many such saves there are.
TEST_F(PushKeepTest, ADocumentTheStartMissedIsHeldOnceWhateverTheSavesThatFail) {
  const std::string doc = DocOfSize(1500);
  const std::string url = PushThenStartUnread(doc);
  ASSERT_EQ(NotifyKeptCount(), 0u);
  PushHomePage(7950);  // past the quota even without the document
  ASSERT_EQ(Documents(), std::vector<std::string>{"d0"});
  const uint32_t free = HeapGetStats().freeBytes;
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    PushHomePage(7950);
    ASSERT_EQ(Documents(), std::vector<std::string>{"d0"});
    EXPECT_EQ(HeapGetStats().freeBytes, free);
  }
  PushHomePage(6000);
  ASSERT_TRUE(Documents().empty());
  PushHomePage(100);
  StopServices();
  StartServices();
  ASSERT_NE(Cached(url), nullptr);
  EXPECT_EQ(Body(Cached(url)), doc);
}

// Another section's save served while the stop's own waits for the store
// (the stop asked for the section behind it) drops a document only the
// file holds: it is held for the stop all the same, whose save has room for
// it once the user deleted a message the start put back.
TEST_F(PushKeepTest, ADocumentTheStartMissedOutlivesASaveServedBeforeTheStops) {
  const std::string doc = DocOfSize(1500);
  const std::string url = Push(kConnectivity, doc, ProvHeaders());
  PushSi("read", std::string(1000, 'r'));
  Pump();
  StopServices();
  std::filesystem::copy_file("repository", "repository.base");
  const auto base = static_cast<uint32_t>(std::filesystem::file_size("repository"));
  // A start short of memory that puts back the newer message only.
  bool part = false;
  for (uint32_t reserve = 0; reserve <= 8000 && !part; reserve += 16) {
    std::filesystem::copy_file("repository.base", "repository",
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_NO_FATAL_FAILURE(BeginServices());
    for (int i = 0; i < 100 && starter->Count(NotifyMsg::Started) == 0; ++i) Step();
    PumpShortOf(reserve);
    part = NotifyKeptCount() == 1 && Cached(url) == nullptr;
    if (!part) StopServices();
  }
  ASSERT_TRUE(part);
  std::filesystem::copy_file("repository.base", "repository",
                             std::filesystem::copy_options::overwrite_existing);
  const std::vector<std::string> texts = Texts();
  ASSERT_EQ(texts, std::vector<std::string>{std::string(1000, 'r')});
  NotifyInboxCursor* cursor = nullptr;
  ASSERT_EQ(NotifyOpenInboxCursor(&cursor), kOk);
  uint32_t code = 0, level = 0;
  UrlLoad* read = NotifyNextKept(cursor, &code, &level);
  NotifyCloseInboxCursor(&cursor);
  ASSERT_NE(read, nullptr);
  NotifyRemoveMessage(read);
  // Past the quota with the document, within it once the deleted message
  // leaves the file too.
  ConfigHandle* handle = OpenSection("repository");
  ASSERT_NE(handle, nullptr);
  starter->log.clear();
  NotifyStopTask();
  Pump();  // the stop's open waits behind the handle
  ASSERT_EQ(starter->Count(NotifyMsg::Stopped), 0u);
  const std::string big(8000 - base + 500, 'y');
  ASSERT_EQ(ConfigSetString(handle, "big", big.c_str()), kOk);
  ASSERT_EQ(ConfigSave(handle, nullptr), kOk);
  Pump();
  ASSERT_EQ(starter->Count(NotifyMsg::Stopped), 1u);
  LcStopTask(starter->task());
  Pump();
  StartServices();
  ASSERT_NE(Cached(url), nullptr);
  EXPECT_EQ(Body(Cached(url)), doc);
  EXPECT_TRUE(failures.said.empty());
}

// --- A class file cut short ------------------------------------------------------------

// A class file holding an inbox and a home page, cut at every offset: each
// cut is read whole or said as damaged, its bytes kept aside; an empty file
// is empty.
TEST_F(PushKeepTest, AClassFileCutAnywhereIsWholeOrSaidDamaged) {
  PushSi("kept", "Kept news");
  PushHomePage(300);
  StopServices();
  const std::vector<uint8_t> whole = ReadFile("repository");
  ASSERT_GT(whole.size(), 400u);
  ConfigStop();
  Pump();
  // Where the root's entries begin: the cuts there once read as whole.
  std::vector<uint32_t> starts;
  for (uint32_t at = 0; at + 4 <= whole.size() && whole[at + 1] != 0;)
    starts.push_back(at), at += (5 + (uint32_t{whole[at + 2]} << 8 | whole[at + 3]) + whole[at + 1] + 1) & ~1u;
  ASSERT_GE(starts.size(), 2u);
  for (uint32_t cut = 0; cut <= whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    WriteFile("repository", std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(ConfigStart(starter->task()), kOk);
    Pump();
    const bool read = !Section("inbox").empty();
    const std::string err = ::testing::internal::GetCapturedStderr();
    if (cut == whole.size()) {
      EXPECT_TRUE(read);
      EXPECT_FALSE(Exists("repository.damaged"));
    } else if (cut == 0) {
      EXPECT_EQ(err, "");
      EXPECT_FALSE(Exists("repository.damaged"));
    } else {
      EXPECT_FALSE(read);
      EXPECT_NE(err.find("qor: repository is damaged"), std::string::npos) << err;
      EXPECT_EQ(ReadFile("repository.damaged"),
                std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
    }
    std::filesystem::remove("repository.damaged");
    ConfigStop();
    Pump();
  }
  // A start on a file cut just after an entry begins finds it damaged too,
  // and its save keeps the bytes aside before writing over them.
  for (const uint32_t start : starts)
    for (const uint32_t cut : {start, start + 1}) {
      if (cut == 0) continue;
      SCOPED_TRACE(cut);
      WriteFile("repository", std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
      ::testing::internal::CaptureStderr();
      ASSERT_EQ(ConfigStart(starter->task()), kOk);
      Pump();
      StartServices();
      const std::string err = ::testing::internal::GetCapturedStderr();
      EXPECT_NE(err.find("qor: repository is damaged"), std::string::npos) << err;
      EXPECT_TRUE(Exists("repository.damaged"));
      StopServices();
      EXPECT_EQ(ReadFile("repository.damaged"),
                std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
      std::filesystem::remove("repository.damaged");
      ConfigStop();
      Pump();
    }
  ASSERT_EQ(ConfigStart(starter->task()), kOk);
  Pump();
  StartServices();
}

// --- Locks on pushed objects -----------------------------------------------------------

// A push queued behind a start that fails goes with the task: its object
// leaves the cache unlocked and its text is freed.
TEST_F(PushKeepTest, APushQueuedForAFailedStartIsLetGo) {
  StopServices();
  starter->log.clear();
  TskmanFailNextCreate(Mod::Url);
  ASSERT_EQ(NotifyStartTask(starter->task()), kOk);
  const std::string url = "push:+4917012345.77";
  PushNamed(url, "application/vnd.wap.sic", SiOf("late", "Late news"));
  Pump();
  ASSERT_EQ(starter->Count(NotifyMsg::StartFailed), 1u);
  EXPECT_EQ(TskmanFind(Mod::Notify), nullptr);
  EXPECT_EQ(Cached(url), nullptr);
  StartServices();
}

// Routing one push with the heap cut anywhere: its object ends in the inbox
// or leaves the cache, never locked for nobody.
TEST_F(PushKeepTest, APushRoutedShortOfMemoryIsNeverLeftLocked) {
  uint32_t kept = 0, dropped = 0;
  for (uint32_t reserve = 0; reserve <= 6000; reserve += 8) {
    SCOPED_TRACE(reserve);
    const std::string url = PushSi("cut", "Cut news");
    PumpShortOf(reserve);
    UrlLoad* load = Cached(url);
    if (!load) {
      ++dropped;
      continue;
    }
    ASSERT_TRUE(NotifyHoldsMessage(load)) << "locked in the cache for nobody";
    ++kept;
    NotifyRemoveMessage(load);
  }
  EXPECT_GT(kept, 0u);
  EXPECT_GT(dropped, 0u);
}

// A home page and an SI routed from their arrival with the heap cut
// anywhere: each is kept (the store, the inbox) without a word, or said
// lost exactly once; neither stays locked in the cache.
TEST_F(PushKeepTest, APushLostShortOfMemoryOnItsWayIsSaidOnce) {
  const std::string pageLost = "a pushed page: not enough memory";
  const std::string pageNotStored = "repository: the pushed page: not enough memory";
  uint32_t pagesKept = 0, pagesSaid = 0, messagesKept = 0, messagesSaid = 0;
  // Finely at first: there the page lost leaves the SI only a few bytes.
  for (uint32_t reserve = 0; reserve <= 12000; reserve += reserve < 64 ? 2 : 24) {
    SCOPED_TRACE(reserve);
    ++platform->now;  // a loss in a second of its own is said at once
    failures.said.clear();
    const std::string marker = "page " + std::to_string(reserve) + " ";
    const std::string page = PushPage(marker, 600);
    const std::string si = PushSi("cut", "Cut news " + std::to_string(reserve));
    PumpShortOf(reserve);

    EXPECT_EQ(Cached(page), nullptr) << "the page locked in the cache";
    const bool stored = HomePageHolds(marker);
    const auto count = [this](const std::string& text) {
      uint32_t n = 0;
      for (const std::string& said : failures.said) n += said == text ? 1 : 0;
      return n;
    };
    const uint32_t pageSaid = count(pageLost) + count(pageNotStored);
    EXPECT_EQ(pageSaid, stored ? 0u : 1u);
    (stored ? pagesKept : pagesSaid) += 1;

    UrlLoad* load = Cached(si);
    const bool kept = load && NotifyHoldsMessage(load);
    if (load) {
      ASSERT_TRUE(kept) << "the SI locked in the cache for nobody";
    }
    EXPECT_EQ(count(kMessageLost), kept ? 0u : 1u);
    (kept ? messagesKept : messagesSaid) += 1;
    if (kept) NotifyRemoveMessage(load);
    EXPECT_EQ(failures.said.size(), pageSaid + count(kMessageLost));
  }
  EXPECT_GT(pagesKept, 0u);
  EXPECT_GT(pagesSaid, 0u);
  EXPECT_GT(messagesKept, 0u);
  EXPECT_GT(messagesSaid, 0u);
}

// An SI routed with the heap cut to within a few bytes, so that the
// message is read whole but its record cannot be made: it is kept, or said
// lost exactly once.
TEST_F(PushKeepTest, AnSiWhoseRecordTheHeapCannotTakeIsSaid) {
  ExpectEachCutHeldOrSaidOnce(3000, [this](uint32_t reserve) {
    return PushSi("cut", "Cut news " + std::to_string(reserve));
  });
}

// Pages pushed one after another, the first past the quota and the second
// small, arriving at every point of the first one's store and save: the
// second is stored, or its loss is said on its own (a first page it
// replaced before any save is no loss).
TEST_F(PushKeepTest, APageAfterOneThatDidNotFitIsStoredOrSaid) {
  UbstoreSetQuota("repository", 1200);
  // What the first page alone is said as.
  PushPage("big ", 2000);
  Pump();
  ASSERT_EQ(failures.said.size(), 1u);
  const std::string bigAlone = failures.said[0];
  uint32_t stores = 0;
  for (int steps = 0; steps <= 60; ++steps) {
    SCOPED_TRACE(steps);
    failures.said.clear();
    PushPage("big ", 2000);
    for (int i = 0; i < steps; ++i) Step();
    const std::string marker = "small " + std::to_string(steps) + " ";
    PushPage(marker, 100);
    Pump();
    const bool stored = HomePageHolds(marker);
    for (const std::string& said : failures.said)
      EXPECT_EQ(said.rfind("repository: the pushed page of ", 0), 0u) << said;
    if (stored)
      EXPECT_LE(failures.said.size(), 1u);
    else
      EXPECT_TRUE(std::any_of(failures.said.begin(), failures.said.end(),
                              [&](const std::string& said) { return said != bigAlone; }))
          << "the page that fits is lost without a word";
    stores += stored ? 1 : 0;
  }
  EXPECT_GT(stores, 0u);
}

// A provisioning document routed with the heap cut to within a few bytes:
// it is listed in the inbox without a word, or it leaves the cache and is
// said lost exactly once; never left in the cache, kept for nobody.
TEST_F(PushKeepTest, AProvisioningPushTheInboxCannotListIsSaid) {
  const std::string doc = DocOfSize(300);
  ExpectEachCutHeldOrSaidOnce(
      2000, [&](uint32_t) { return Push(kConnectivity, doc, ProvHeaders()); });
}

// A pushed page whose class file cannot be read when it comes is not
// stored, and is said so; the next one, once the file reads again, is stored.
TEST_F(PushKeepTest, APushedPageWhoseFileCannotBeReadIsSaid) {
  std::filesystem::remove("repository");
  // While the class file is a link to itself, it cannot be read.
  std::filesystem::create_symlink("repository", "repository");
  PushHomePage(100);
  std::filesystem::remove("repository");
  EXPECT_EQ(failures.said, std::vector<std::string>{"repository: the pushed page: its file could not be read"});
  failures.said.clear();
  PushHomePage(120);
  EXPECT_TRUE(failures.said.empty());
  EXPECT_TRUE(HomePageHolds(std::string(120, 'x') + "</body>"));
}

}  // namespace
