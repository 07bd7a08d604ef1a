// Pushes end to end: the real host offscreen receives SI, SL and
// local-content pushes as short messages to application port 2948 from a
// loopback peer; they land in the inbox and the local store, the inbox
// comes back after a restart, and many pushes leave the heap as it was.
#include <gtest/gtest.h>

#include <QTimer>
#include <QWidget>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "browser/cache.h"
#include "browser/url.h"
#include "host/hostmain.h"
#include "host/hostsettings.h"
#include "host/platform/sockets.h"
#include "host/qt/qthost.h"
#include "kernel/config.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "net/netsock.h"
#include "services/push/inbox.h"
#include "services/push/lc.h"
#include "services/push/notify.h"
#include "services/push/notify_store.h"
#include "tests/support/host_fixture.h"
#include "tests/support/poll_until.h"
#include "tests/support/udp_ports.h"

namespace {

std::string Data(const std::string& name) {
  std::ifstream in(std::string(QOR_TEST_DATA) + "/push/" + name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// A short message to port 2948 in the bridge's port form, carrying a WSP
// push PDU: transaction id, type 6, the headers' length, the headers.
std::string Datagram(const std::string& headers, const std::string& body) {
  const std::string address = "+491701234567";
  std::string d = std::string{2, 2, static_cast<char>(address.size()), 3} + address;
  d += std::string("\x00\x0B\x84", 3);
  d += std::string{1, 6, static_cast<char>(headers.size())} + headers + body;
  return d;
}
const std::string kSiHeaders("\xAE\xAF\x80", 3);  // sic, application id 0
const std::string kSlHeaders("\xB0\xAF\x80", 3);  // slc, application id 0
// multipart/related as text, application id 32768 as a long integer.
const std::string kLcHeaders = std::string("multipart/related") + std::string("\0\xAF\x02\x80\x00", 5);

// The settings store held by a task of the test from the start of the
// stop's drain of the socket until push reception's stop: push reception,
// whose routing passes wait for the store, is mid-burst when its stop comes.
struct StoreHold {
  bool armed = false;
  bool releaseAsked = false;
  TskmanTask* task = nullptr;
  ConfigHandle* handle = nullptr;
  void Release() {
    releaseAsked = true;
    if (handle) ConfigRelease(&handle);
  }
};
StoreHold gHold;

Result Holder(void*, uint32_t message, uintptr_t, uintptr_t arg2) {
  if (message != ConfigMsg::Opened) return kOk;
  gHold.handle = reinterpret_cast<ConfigHandle*>(arg2);
  if (gHold.releaseAsked) gHold.Release();
  return kOk;
}

// Pushes announced to push reception, seen as the engine takes them.
int gAnnounced = 0;
void Observe(const TskmanTask* task, uint32_t message, uintptr_t, uintptr_t) {
  if (task->id == Mod::Notify && message == NotifyMsg::Push) ++gAnnounced;
  if (!gHold.armed) return;
  if (task->id == Mod::SmsBridge && message == NetMsg::Cancelled) {
    ConfigOpen(gHold.task, kNotifyStoreSection, true);
  } else if (task->id == Mod::Notify && message == NotifyMsg::Stop) {
    gHold.armed = false;
    gHold.Release();
  }
}

bool Up() {
  HostSettings* s = HostCurrentSettings();
  return s && s->hostState == HostState::BrowserRunning && s->browserUp && TskmanFind(Mod::Notify) &&
         TskmanFind(Mod::LocalContent) && TskmanFind(Mod::Sms);
}

std::vector<std::string> Texts() {
  std::vector<std::string> out;
  NotifyInbox* inbox = NotifyInboxOpen("text", "all", 3);
  for (int more = inbox ? 1 : 0; more; more = NotifyInboxNext(inbox)) {
    std::string s;
    for (const char16_t* t = NotifyInboxProperty(inbox, 0); t && *t; ++t) s += static_cast<char>(*t);
    out.push_back(s);
  }
  NotifyInboxClose(&inbox);
  return out;
}

// Cached pushed objects: what the inbox holds once routing is over.
uint32_t PushesCached() {
  void* cursor = nullptr;
  UrlLoad* load = nullptr;
  uint32_t n = 0;
  while (CacheFindNextFresh(&cursor, &load)) n += LibcStrNCmp(load->name, "push:", 5) == 0;
  return n;
}

// The bridge takes the datagrams at its own pace (a few a second), so the
// run keeps to a few hundred; the engine-level tests push a thousand.
constexpr int kPushes = 1000;

class PushHostTest : public HostFixture {
 protected:
  using Stage = std::function<bool()>;
  // Runs the host; once it is up, each stage every 10 ms until it answers
  // true; the last one closes the window.
  Result Run(const std::vector<Stage>& stages) {
    gAnnounced = 0;
    TskmanSetObserver(Observe);
    size_t stage = 0;
    int polls = 0;
    QtHostHooks hooks;
    hooks.messageBox = [](const std::string&, const std::string& text) { ADD_FAILURE() << text; };
    hooks.windowsCreated = [&](QWidget* main) {
      auto* poll = new QTimer(main);
      QObject::connect(poll, &QTimer::timeout, main, [&, main, poll] {
        if (++polls > 15000) {
          ADD_FAILURE() << "stage " << stage << " never came true";
          poll->stop();
          main->close();
          return;
        }
        if (!Up()) return;
        if (stage < stages.size() && stages[stage]()) ++stage;
        if (stage < stages.size()) return;
        poll->stop();
        main->close();
      });
      poll->start(10);
    };
    const Result r = QtHostRun(hooks);
    TskmanSetObserver(nullptr);
    EXPECT_EQ(stage, stages.size());
    return r;
  }
  void Send(const std::string& datagram) {
    const int out = LoopbackUdpSocket(0);
    SendToLoopback(out, smsPort_, datagram);
    ::close(out);
  }
  // Reads a part of the local store as the cid: scheme does.
  LcRequest request{};
};

TEST_F(PushHostTest, PushesLandInTheInboxAndTheStoreAndOutliveARestart) {
  WriteIniWithDefaultSkin();
  std::string page;
  Run({[&] {
         Send(Datagram(kSiHeaders, Data("si_high.wbxml")));
         Send(Datagram(kSlHeaders, Data("sl_high.wbxml")));
         // A page that fits one short message.
         Send(Datagram(kLcHeaders, Data("lc_single.txt")));
         return true;
       },
       [&] {
         if (NotifyKeptCount() < 2 || PushesCached() != 2) return false;
         request = LcRequest{};
         request.name = LibcStrDup("current");
         TskmanPost(TskmanFind(Mod::LocalContent), LcMsg::Read, reinterpret_cast<uintptr_t>(&request), 0);
         return true;
       },
       [&] {
         if (!request.done) return false;
         if (!request.entry) {
           // Not stored yet: ask again.
           request.done = 0;
           TskmanPost(TskmanFind(Mod::LocalContent), LcMsg::Read, reinterpret_cast<uintptr_t>(&request), 0);
           return false;
         }
         page.assign(reinterpret_cast<char*>(request.entry->data), request.entry->dataUsed);
         LcEntryFree(&request.entry);
         MemFree(&request.name);
         return true;
       }});
  EXPECT_EQ(page, "<html><body>Single</body></html>\r\n");

  std::vector<std::string> texts;
  uint32_t before = 0, after = 0;
  int sent = 0;
  Run({[&] {
         texts = Texts();
         // The restored SI goes (its id), then the heap is measured with one
         // message kept.
         Send(Datagram(kSiHeaders, Data("si_delete.wbxml")));
         return true;
       },
       [&] {
         if (NotifyKeptCount() != 1 || PushesCached() != 1) return false;
         before = HeapGetStats().freeBytes;
         return true;
       },
       [&] {
         // Fifty at a time, each batch taken in before the next.
         if (sent > 0 && (gAnnounced < sent + 1 || NotifyKeptCount() != 2 || PushesCached() != 2))
           return false;
         if (sent == kPushes) return true;
         for (int i = 0; i < 50; ++i, ++sent)
           Send(Datagram(kSiHeaders, Data(sent % 2 ? "si_older.wbxml" : "si_newer.wbxml")));
         return false;
       },
       [&] {
         Send(Datagram(kSiHeaders, Data("si_delete.wbxml")));
         return true;
       },
       [&] {
         if (NotifyKeptCount() != 1 || PushesCached() != 1) return false;
         after = HeapGetStats().freeBytes;
         return true;
       }});
  EXPECT_EQ(texts, (std::vector<std::string>{"wsp://www.example.com/app.wmlc", "High news"}));
  EXPECT_EQ(sent, kPushes);
  EXPECT_EQ(after, before);
}

// Datagrams the machine dropped at the socket bound to the loopback port,
// as /proc/net/udp counts them.
uint64_t DroppedAt(uint16_t port) {
  std::ifstream table("/proc/net/udp");
  std::string line;
  std::getline(table, line);
  char local[16];
  std::snprintf(local, sizeof local, ":%04X", port);
  uint64_t dropped = 0;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, address, field;
    fields >> slot >> address;
    if (address.size() < 5 || address.compare(address.size() - 5, 5, local) != 0) continue;
    while (fields >> field) {}
    dropped += std::stoull(field);  // the last column
  }
  return dropped;
}

// A burst that waits in the socket all reaches push reception: the engine
// takes each datagram once it has done what the one before set going, so
// the pushes wait in the socket, not in the engine's memory (which holds
// fewer). The burst is sent in one go while the engine does not step, so
// it all waits before the first is taken, however fast the machine.
TEST_F(PushHostTest, ABurstWaitingInTheSocketAllReachesPushReception) {
  WriteIniWithDefaultSkin();
  constexpr int kBurst = 150;
  const std::string si = Data("si_high.wbxml");
  const size_t id = si.find("news-42");
  ASSERT_NE(id, std::string::npos);
  uint64_t dropped = 0;
  Run({[&] {
         const int out = LoopbackUdpSocket(0);
         for (int i = 0; i < kBurst; ++i) {
           char seven[16];
           std::snprintf(seven, sizeof seven, "b%06d", i);
           SendToLoopback(out, smsPort_, Datagram(kSiHeaders, std::string(si).replace(id, 7, seven)));
         }
         ::close(out);
         dropped = DroppedAt(smsPort_);
         return true;
       },
       [&] { return dropped > 0 || gAnnounced >= kBurst; }});
  if (dropped > 0) GTEST_SKIP() << "this machine's socket buffer holds fewer than " << kBurst;
  EXPECT_EQ(gAnnounced, kBurst);
}

// The bridge's socket, as the host's sockets open it, and the bytes that
// wait in it.
struct WatchedSockets {
  const PlatformSocketOps posix = PlatformSockets();
  PlatformSocketOps ops = posix;
  int opened = -1;
  WatchedSockets() {
    ops.ctx = this;
    ops.open = [](void* ctx, bool stream, int* family) {
      auto* self = static_cast<WatchedSockets*>(ctx);
      self->opened = self->posix.open(self->posix.ctx, stream, family);
      return self->opened;
    };
    PlatformSocketsInstall(&ops);
  }
  ~WatchedSockets() { PlatformSocketsInstall(nullptr); }
  uint32_t Waiting() const {
    uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof memory;
    ::getsockopt(opened, SOL_SOCKET, SO_MEMINFO, memory, &length);
    return memory[SK_MEMINFO_RMEM_ALLOC];
  }
};

// Pushes that wait in the socket when the stop comes: each is taken, routed
// and kept, or said as one the inbox could not keep (the newest are kept
// when they pass its quota); none is lost without a word. They are sent
// while the engine does not step, seen waiting in the socket, and the window
// is closed before the engine steps again; the next run counts the inbox.
struct WaitingRow {
  int waiting;
  bool passesQuota;
  const char* ini;
  bool midBurst;  // push reception's routing held up until its stop comes
};

TEST_F(PushHostTest, PushesWaitingInTheSocketWhenTheStopComesAreKept) {
  const WaitingRow rows[] = {
      {30, false, "", false},  // within the inbox's quota
      {30, false, "", true},
      // More than the inbox's quota, in a heap that holds them all.
      {240, true, "[Memory]\nSize=2048\n", false},
      {240, true, "[Memory]\nSize=2048\n", true},
  };
  const std::string si = Data("si_high.wbxml");
  const size_t id = si.find("news-42");
  ASSERT_NE(id, std::string::npos);
  for (const WaitingRow& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.waiting << (row.midBurst ? " mid-burst" : ""));
    std::remove("repository");
    WriteIniWithDefaultSkin(row.ini);
    WatchedSockets sockets;
    bool allWaiting = false;
    ::testing::internal::CaptureStderr();
    const Result r = Run({[&] {
      const int out = LoopbackUdpSocket(0);
      const auto send = [&](int i) {
        char seven[16];
        std::snprintf(seven, sizeof seven, "s%06d", i);
        SendToLoopback(out, smsPort_, Datagram(kSiHeaders, std::string(si).replace(id, 7, seven)));
      };
      // Each datagram takes the same room in the socket: once the first one
      // is seen there, the room of all of them tells that all have come.
      send(0);
      uint32_t one = 0;
      PollUntil([&] { return (one = sockets.Waiting()) > 0; });
      for (int i = 1; i < row.waiting; ++i) send(i);
      allWaiting = PollUntil([&] { return sockets.Waiting() >= one * row.waiting; });
      ::close(out);
      if (row.midBurst) {
        gHold = StoreHold{};
        gHold.armed = TskmanCreateTask(&gHold.task, Mod::TestCode, Holder, nullptr) == kOk;
      }
      return true;  // the window closes now
    }});
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(allWaiting);
    if (row.midBurst) {
      EXPECT_TRUE(gHold.releaseAsked);
    }
    EXPECT_EQ(said.find("stopped before"), std::string::npos) << said;
    // "<lost> of the inbox's <all> messages did not fit its quota"
    uint32_t lost = 0, all = 0;
    if (const size_t at = said.find(" of the inbox's "); at != std::string::npos) {
      const size_t from = said.rfind(' ', at - 1) + 1;
      lost = static_cast<uint32_t>(std::stoul(said.substr(from, at - from)));
      all = static_cast<uint32_t>(std::stoul(said.substr(at + 16)));
    }
    EXPECT_EQ(HostExitStatus(r), row.passesQuota ? 1 : 0) << said;
    uint32_t kept = 0;
    Run({[&] {
      kept = NotifyKeptCount();
      return true;
    }});
    EXPECT_EQ(kept + lost, static_cast<uint32_t>(row.waiting)) << said;
    if (row.passesQuota) {
      EXPECT_EQ(all, static_cast<uint32_t>(row.waiting)) << said;
    }
  }
}

}  // namespace
