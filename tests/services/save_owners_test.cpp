// Every owner of a settings section, every caller of the settings store's
// save, through its real task: once as it keeps what it was given, and once
// each with its class file's quota cut, its class file unwritable and its
// class file unreadable.
// Where the save is not kept the owner says what it lost in its own words;
// where it is kept nothing is said; the section read back agrees with what
// was said.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "browser/bentask.h"
#include "browser/cache.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/ubstore.h"
#include "security/ecapi.h"
#include "services/channels/rep.h"
#include "services/provisioning/prov.h"
#include "services/push/lc.h"
#include "services/push/notify.h"
#include "tests/services/prov_support.h"
#include "tests/support/failure_record.h"
#include "tests/support/pushed_object.h"
#include "tests/support/fetch_driver.h"
#include "tests/support/temp_dir.h"
#include "tests/widgets/sel_fixture.h"
#include "widgets/popup.h"

namespace {

std::string Data(const std::string& path) { return ReadWholeFile(std::string(QOR_TEST_DATA) + "/" + path); }

class SaveOwnersTest : public SelFixture {
 protected:
  SaveOwnersTest() { realClasses = true; }
  void SetUp() override {
    dir = std::make_unique<TempDir>(true);
    SelFixture::SetUp();
    platform->now = 1765000000;
    stage.Start([this] { Pump(); });
    FetchBody channel;
    channel.body = Data("chan/fetch.wbxml");
    channel.contentType = "application/vnd.wap.channelc";
    driver.Serve("/fetch.wbxml", channel);
    for (const char* name : {"/c/a.txt", "/c/b.txt"}) driver.Serve(name, FetchText(name, "text/plain"));
  }
  void TearDown() override {
    stage.Stop([this] { Pump(); });
    for (const UiLogEntry& e : UiEvents(BenMsg::UiShowUrl)) {
      auto* url = reinterpret_cast<char*>(e.arg1);
      MemFree(&url);
    }
    for (const Received& m : browserLog) {
      if (m.message == BenMsg::Binding) {
        auto* b = reinterpret_cast<BenEventBinding*>(m.arg1);
        BenFreeBindings(&b);
      } else if (m.message == BenMsg::Bindings) {
        auto* b = reinterpret_cast<BenEventBinding*>(m.arg1);
        BenFreeBindings(&b);
      }
      if (m.message == BenMsg::Binding || m.message == BenMsg::Unbind) {
        auto* id = reinterpret_cast<char*>(m.arg2);
        MemFree(&id);
      }
    }
    SelFixture::TearDown();
    for (const char* name : {"access", "persistent", "repository"}) UbstoreSetQuota(name, name[0] == 'p' ? 12500 : 8000);
    dir.reset();
  }


 public:
  // Each owner given something to keep, and stopped where it saves at its stop.
  void Inbox() {
    ASSERT_EQ(NotifyStartTask(stage.starter->task()), kOk);
    Pump();
    const std::string url = "push:+4917012345." + std::to_string(++serial);
    ASSERT_NE(CachePushedObject(url, "application/vnd.wap.sic", Data("push/si_high.wbxml")), nullptr);
    TskmanPost(TskmanFind(Mod::Notify), NotifyMsg::Push, reinterpret_cast<uintptr_t>(LibcStrDup(url.c_str())), 0);
    Pump();
    NotifyStopTask();
    Pump();
  }
  void Page() {
    LcStartTask(stage.starter->task());
    Pump();
    uintptr_t cookie = 0;
    ASSERT_EQ(LcPushOpen("push:+4917012345.9", &cookie), kOk);
    const std::string page = Data("push/lc_single.txt");
    LcPushData(reinterpret_cast<const uint8_t*>(page.data()), static_cast<uint32_t>(page.size()), cookie);
    LcPushData(nullptr, 0, cookie);
    Pump();
    LcStopTask(stage.starter->task());
    Pump();
  }
  void Channel() {
    ASSERT_EQ(RepStartFetchTask("qortest://h/fetch.wbxml"), kOk);
    Pump();
  }
  void Document() {
    const std::string url = "push:5551234." + std::to_string(++serial);
    ASSERT_NE(CachePushedObject(url, "application/vnd.wap.connectivity-wbxml", Data("wbxml/prov.wbxml")),
              nullptr);
    ASSERT_EQ(ProvProvisionPushed(url.c_str()), kOk);
    bool answered = false;
    for (int i = 0; i < 200000 && TskmanFind(Mod::Provisioning); ++i) {
      Step();
      void* context = nullptr;
      if (TskmanTask* popup = TskmanFind(Mod::Popup); popup && !answered) {
        TskmanGetContext(&context, popup);
        if (const auto* request = static_cast<PopupRequest*>(context); request && request->window) {
          TskmanPost(popup, PwlEvent::Key, PwlKey::Soft1, 0);  // accepted
          answered = true;
        }
      }
    }
    EXPECT_EQ(answered, asked);
    Pump();
  }
  void Seed() {
    ASSERT_EQ(EcapiStartSeedTask(stage.starter->task()), kOk);
    Pump();
    EcapiStopSeedTask(stage.starter->task());
    Pump();
  }

 protected:
  std::unique_ptr<TempDir> dir;
  FetchDriver driver;
  ServiceStage stage;
  int serial = 0;
  bool asked = true;  // a provisioning document's question is put
};

struct Owner {
  const char* file;  // the source file whose task saves
  void (SaveOwnersTest::*keep)();
  const char* className;
  const char* words;  // what each of its lines names, after "<class>: "
  const char* section;
  const char* kept;  // what the section read back holds once kept
};

const Owner kOwners[] = {
    {"services/push/notify_task.cpp", &SaveOwnersTest::Inbox, "repository", "the inbox's 1 message",
     "inbox", "=<"},
    {"services/push/lc_task.cpp", &SaveOwnersTest::Page, "repository", "the pushed page", "homepage",
     "current=cid:msg"},
    {"services/channels/replib.cpp", &SaveOwnersTest::Channel, "repository", "channel Weather: ",
     "repository", "Channel/0/chanid=weather\n"},
    {"services/provisioning/prov_task.cpp", &SaveOwnersTest::Document, "access",
     "a provisioning document from 5551234: ", "//access", "0/url=5551234\n"},
    {"security/ecapi.cpp", &SaveOwnersTest::Seed, "persistent", "the random seed: ", "security",
     "randseed="},
};

// The engine's source files that save a settings section.
std::set<std::string> Savers() {
  std::set<std::string> out;
  const std::filesystem::path root(QOR_SOURCE_DIR);
  for (const char* folder : {"host", "kernel", "graphics", "widgets", "markup", "browser", "layout", "net",
                             "security", "content", "services", "player"})
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
      if (entry.path().extension() != ".cpp") continue;
      const std::string relative = std::filesystem::relative(entry.path(), root).string();
      std::ifstream in(entry.path());
      const std::string text((std::istreambuf_iterator<char>(in)), {});
      if (relative != "kernel/config.cpp" && text.find("ConfigSave(") != std::string::npos)
        out.insert(relative);
    }
  return out;
}

enum class Trouble { None, QuotaCut, Unwritable, Unreadable };

TEST_F(SaveOwnersTest, EveryOwnerSaysWhatItsSaveDidNotKeepAndNothingElse) {
  std::set<std::string> listed;
  for (const Owner& o : kOwners) listed.insert(o.file);
  ASSERT_EQ(Savers(), listed) << "an owner that saves a section is missing here";
  for (const Owner& o : kOwners)
    for (const Trouble trouble :
         {Trouble::None, Trouble::QuotaCut, Trouble::Unwritable, Trouble::Unreadable}) {
      SCOPED_TRACE(std::string(o.file) + " trouble " + std::to_string(static_cast<int>(trouble)));
      std::filesystem::remove_all(o.className);
      if (trouble == Trouble::QuotaCut) UbstoreSetQuota(o.className, 0);
      if (trouble == Trouble::Unwritable) std::filesystem::create_directory(o.className);
      // A link to itself: the open before the save cannot read it, and a
      // pushed provisioning document is never asked.
      if (trouble == Trouble::Unreadable) std::filesystem::create_symlink(o.className, o.className);
      asked = trouble != Trouble::Unreadable;
      FailureRecord failures;
      (this->*o.keep)();
      const std::string prefix = std::string(o.className) + ": ";
      bool ownWords = false;
      for (const std::string& line : failures.said) {
        // A file that cannot be written is also said by its writer, with
        // the system's error number.
        const bool writer = trouble == Trouble::Unwritable && line.rfind(prefix, 0) == 0 &&
                            line.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
        const bool own = line.rfind(prefix, 0) == 0 && line.find(o.words) != std::string::npos;
        ownWords = ownWords || own;
        EXPECT_TRUE(writer || own) << line;
      }
      EXPECT_EQ(ownWords, trouble != Trouble::None) << testing::PrintToString(failures.said);
      if (trouble == Trouble::Unreadable) std::filesystem::remove(o.className);
      UbstoreSetQuota(o.className, o.className[0] == 'p' ? 12500 : 8000);
      const std::string section = stage.Read(o.section, [this] { Pump(); });
      EXPECT_EQ(section.find(o.kept) != std::string::npos, trouble == Trouble::None) << section;
    }
}

}  // namespace
