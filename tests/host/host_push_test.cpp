// The real host, offscreen, with a UDP peer on loopback: a WAP push sent to
// the SMS datagram bridge reaches push reception through the cache, and a
// message handed to the SMS service leaves as a datagram to the peer.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTimer>
#include <QWidget>
#include <string>
#include <vector>

#include "browser/cache.h"
#include "browser/url.h"
#include "host/hostmain.h"
#include "host/hostsettings.h"
#include "host/qt/qthost.h"
#include "host/smsbridge.h"
#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/uistart.h"
#include "net/netbuf.h"
#include "services/notify.h"
#include "services/smsmsg.h"
#include "tests/support/host_fixture.h"

namespace {

// What push reception was told, read from the cache as the message arrived.
struct Pushed {
  std::string url, body, applicationId, contentType;
  bool cached = false;
};
std::vector<Pushed> gPushed;

void WatchPushes(const TskmanTask* task, uint32_t message, uintptr_t arg1, uintptr_t) {
  if (task->id != Mod::Notify || message != NotifyMsg::Push) return;
  Pushed p;
  p.url = reinterpret_cast<const char*>(arg1);
  UrlParsed parsed;
  if (UrlParse(&parsed, p.url.c_str(), 0) == kOk) {
    if (UrlLoad* load = CacheFindByName(&parsed)) {
      p.cached = (load->events & UrlEvent::Complete) && (load->flags & UrlFlag::Kept);
      for (QueueNode* n = load->output.head; n; n = n->next) {
        const UtilDataChunk* c = UtilDataChunkOf(n);
        p.body.append(reinterpret_cast<const char*>(UtilDataChunkData(c)) + c->offset, c->remaining);
      }
      const char* value = nullptr;
      if (UrlGetHeader(load, "X-Wap-Application-Id", &value) == kOk) p.applicationId = value;
      if (UrlGetHeader(load, "Content-Type", &value) == kOk) p.contentType = value;
    }
    UrlFreeParsed(&parsed);
  }
  gPushed.push_back(p);
}

// The sender of a text message, as WTAI's text sending will be.
std::vector<uint32_t> gAnswers;
std::u16string gReference;
Result Sender(void*, uint32_t message, uintptr_t arg1, uintptr_t) {
  if (message == SmsServiceMsg::Sent || message == SmsServiceMsg::NotSent) {
    auto* text = reinterpret_cast<char16_t*>(arg1);
    if (text) gReference = text;
    MemFree(&text);
  }
  if (message != TskMsg::Start) gAnswers.push_back(message);
  return kOk;
}

int Udp(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (port && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  timeval wait{0, 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  return fd;
}

using HostPushTest = HostFixture;

TEST_F(HostPushTest, APushDatagramReachesPushReceptionAndASentMessageLeavesAsADatagram) {
  WriteIni("[Memory]\nSize=256\n[Display]\nPhoneSize=small\n");
  gPushed.clear();
  gAnswers.clear();
  gReference.clear();
  const int peer = Udp(smsPeerPort_);
  ASSERT_GE(peer, 0);
  std::string sent;
  bool engineUp = false;
  int polls = 0;
  TskmanTask* sender = nullptr;

  // An SI push to port 2948 in the bridge's port form: header {0}, the port,
  // then the WSP push PDU (content type 0x2E, application id 0).
  const std::string pdu = std::string("\x05\x06\x03\xAE\xAF\x80", 6) + "si body";
  const std::string address = "+491701234567";
  std::string datagram = std::string{2, 2, static_cast<char>(address.size()), 3} + address;
  datagram += std::string("\x00\x0B\x84", 3) + pdu;

  QtHostHooks hooks;
  hooks.messageBox = [](const std::string&, const std::string&) {};
  hooks.windowsCreated = [&](QWidget* main) {
    auto* poll = new QTimer(main);
    QObject::connect(poll, &QTimer::timeout, main, [&, main, poll] {
      ++polls;
      if (!engineUp) {
        HostSettings* s = HostCurrentSettings();
        if ((!s || s->hostState != HostState::BrowserRunning || !TskmanFind(Mod::Notify) ||
             !TskmanFind(Mod::Sms)) &&
            polls < 500)
          return;
        engineUp = polls < 500;
        if (!engineUp) {
          poll->stop();
          main->close();
          return;
        }
        TskmanSetObserver(WatchPushes);
        const int out = Udp(0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(smsPort_);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(out, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        ::close(out);

        TskmanCreateTask(&sender, Mod::TestCode, Sender, nullptr);
        auto* message = static_cast<SmsMessage*>(MemAllocZero(sizeof(SmsMessage), Use::Data, Mod::TestCode));
        LibcStrCopy(message->sender, "+4930123");
        message->data = NetBufAlloc(5);
        NetBufWrite(message->data, "hello", 0, 5);
        auto* request = static_cast<SmsSendRequestRec*>(
            MemAllocZero(sizeof(SmsSendRequestRec), Use::Data, Mod::TestCode));
        request->reference = LibcWStrDup(u"42");
        request->message = message;
        TskmanPost(TskmanFind(Mod::Sms), SmsServiceMsg::Send, reinterpret_cast<uintptr_t>(sender),
                   reinterpret_cast<uintptr_t>(request));
        return;
      }
      char buffer[512];
      const ssize_t n = ::recv(peer, buffer, sizeof buffer, 0);
      if (n > 0) sent.assign(buffer, static_cast<size_t>(n));
      const bool done = !gPushed.empty() && !sent.empty() &&
                        gAnswers.size() >= 2;
      if (!done && polls < 800) return;
      poll->stop();
      TskmanSetObserver(nullptr);
      if (sender) TskmanDestroyTask(sender);
      sender = nullptr;
      main->close();
    });
    poll->start(10);
  };
  EXPECT_EQ(QtHostRun(hooks), kUiStartFinished);
  TskmanSetObserver(nullptr);
  ::close(peer);

  ASSERT_TRUE(engineUp);
  ASSERT_EQ(gPushed.size(), 1u);
  EXPECT_EQ(gPushed[0].url.rfind("push:+491701234567.", 0), 0u) << gPushed[0].url;
  EXPECT_TRUE(gPushed[0].cached);
  EXPECT_EQ(gPushed[0].body, "si body");
  EXPECT_EQ(gPushed[0].applicationId, "0");
  EXPECT_EQ(gPushed[0].contentType, "application/vnd.wap.sic");

  EXPECT_EQ(sent, std::string("\x02\x00\x09\x00", 4) + "+4930123" + std::string(1, '\0') + "hello");
  EXPECT_EQ(gAnswers, (std::vector<uint32_t>{SmsServiceMsg::Sent, SmsServiceMsg::RequestOver}));
  EXPECT_EQ(gReference, u"42");
}

}  // namespace
