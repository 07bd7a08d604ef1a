// The whole emulator offscreen: a connectivity document pushed as a short
// message to the WAP push port is handed to provisioning's entry point (push
// reception does not route it yet), its confirm popup shows on the handset
// screen, Enter accepts it, the PIN goes through the host's text-input
// window, the access settings on disk change, and a second start reads them.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <QWidget>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/hostloop.h"
#include "host/hostmain.h"
#include "host/hostsettings.h"
#include "browser/bentask.h"
#include "browser/bentitle.h"
#include "browser/uiwindow.h"
#include "host/platform/shell.h"
#include "host/platform/sockets.h"
#include "host/sms.h"
#include "kernel/libc.h"
#include "kernel/uistring.h"
#include "host/qt/qthost.h"
#include "host/qt/textinput.h"
#include "kernel/config.h"
#include "kernel/tskman.h"
#include "kernel/uistart.h"
#include "services/push/notify.h"
#include "services/provisioning/prov.h"
#include "tests/services/prov_support.h"
#include "tests/support/golden.h"
#include "tests/support/host_fixture.h"
#include "tests/support/poll_until.h"
#include "tests/support/udp_ports.h"
#include "widgets/popup.h"

namespace {

std::string gAccess;  // "//access" as a reader task last saw it

Result Reader(void*, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (message == ConfigMsg::Opened && arg1 == kOk) {
    auto* h = reinterpret_cast<ConfigHandle*>(arg2);
    gAccess = DumpTree(h);
    ConfigRelease(&h);
  }
  return kOk;
}

bool BrowserUp() {
  HostSettings* s = HostCurrentSettings();
  return s && s->hostState == HostState::BrowserRunning && s->browserUp && TskmanFind(Mod::Notify);
}

// The push PDU: content type connectivity-wbxml with the security parameters
// SEC 1 (user PIN) and the MAC, application id 0, then the document; in the
// bridge's port form, in segments of 130 bytes (header {0, total, number - 1,
// port 2948}, then the message's reference as the datagram's port).
std::vector<std::string> PushDatagrams(const std::string& sender, const std::string& mac,
                                       const std::string& doc) {
  std::string type = std::string("\xB6\x91\x81\x92", 4) + mac + std::string(1, '\0');
  std::string headers = std::string("\x1F", 1) + static_cast<char>(type.size()) + type + "\xAF\x80";
  std::string pdu = std::string("\x01\x06", 2) + static_cast<char>(headers.size()) + headers + doc;
  const size_t total = (pdu.size() + 129) / 130;
  std::vector<std::string> out;
  for (size_t i = 0; i < total; ++i)
    out.push_back(std::string{2, 2, static_cast<char>(sender.size()), 7} + sender +
                  std::string{0, static_cast<char>(total), static_cast<char>(i), 0x0B,
                              static_cast<char>(0x84), 0x42, 0x42} +
                  pdu.substr(i * 130, 130));
  return out;
}

class ProvHostTest : public HostFixture {
 protected:
  using Stage = std::function<bool()>;
  // Runs the host and, once the browser is up, each stage every 10 ms until
  // it answers true; the run ends after the last one.
  Result Run(const std::vector<Stage>& stages) {
    size_t stage = 0;
    int polls = 0;
    QtHostHooks hooks;
    hooks.messageBox = [](const std::string&, const std::string& text) { ADD_FAILURE() << text; };
    hooks.windowsCreated = [&](QWidget* main) {
      auto* poll = new QTimer(main);
      QObject::connect(poll, &QTimer::timeout, main, [&, main, poll] {
        if (++polls < 6000 && !BrowserUp()) return;
        if (polls < 6000 && stage < stages.size()) {
          stage += stages[stage]();
          if (stage < stages.size()) return;
        }
        poll->stop();
        EXPECT_EQ(stage, stages.size()) << "a stage never came true";
        main->close();
      });
      poll->start(10);
    };
    return QtHostRun(hooks);
  }
  void ReadAccess() {
    gAccess = "(not read)";
    TskmanTask* reader = nullptr;
    TskmanCreateTask(&reader, Mod::TestCode, Reader, nullptr);
    ConfigOpen(reader, "//access", false);
  }
  // A run after a document said not applied: it has nothing to say of it,
  // and the access file holds no entry.
  void ExpectNextRunQuietAndAccessEmpty() {
    ::testing::internal::CaptureStderr();
    const Result r = Run({[&] {
                            ReadAccess();
                            return true;
                          },
                          [&] { return gAccess != "(not read)"; }});
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(HostExitStatus(r), 0) << err;
    EXPECT_EQ(err.find("provisioning document"), std::string::npos) << err;
    EXPECT_EQ(gAccess, "");
  }
  // Sends the document that wants the user's PIN, pushed from 5551234.
  void SendPush() {
    const std::string macs = ReadWholeFile(std::string(QOR_PROV_DATA_DIR) + "/macs.txt");
    const size_t at = macs.find("userpin ") + 8;
    const int out = LoopbackUdpSocket(0);
    for (const std::string& datagram :
         PushDatagrams("5551234", macs.substr(at, 40), ProvDocument("../wbxml/prov.wbxml")))
      SendToLoopback(out, smsPort_, datagram);
    ::close(out);
  }
  // Types the PIN into the host's text-input window once it shows (and
  // `ready` says so); false until then.
  static bool EnterPin(const std::function<bool()>& ready = [] { return true; }) {
    TextInputWindow* window = QtTextInputWindow();
    if (!window || !window->isVisible() || !ready()) return false;
    QTest::keyClicks(window->editor(), "1234");
    QTest::keyClick(window->editor(), Qt::Key_Return);
    return true;
  }
};

// Watches the engine for a number of polls while a question waits: what it
// ran besides the expiries of timers (a timer wakes the engine when its time
// comes; a task that posts itself again keeps it from ever sleeping), and
// whether the loop found nothing to run.
struct QuietWatch {
  static inline std::vector<std::pair<uint32_t, uint32_t>>* ran = nullptr;
  std::vector<std::pair<uint32_t, uint32_t>> seen;  // {task id, message}
  int polls = 0;
  bool slept = false;
  static void Observe(const TskmanTask* task, uint32_t message, uintptr_t, uintptr_t) {
    if (ran && message != TskMsg::Timer && ran->size() < 8) ran->push_back({task->id, message});
  }
  int settling = 0;
  // True once the watch is over. It begins once the engine has taken what
  // the question's opening posted (or after a while, when it never does).
  bool Done() {
    if (polls == 0 && TskmanPendingCount() > 0 && ++settling < 20) return false;
    if (polls == 0) {
      ran = &seen;
      TskmanSetObserver(Observe);
    }
    slept = slept || HostLoopQuietPasses() > 0;
    if (++polls < kQuietPolls) return false;
    TskmanSetObserver(nullptr);
    ran = nullptr;
    return true;
  }
  static constexpr int kQuietPolls = 50;
};

// The shipped qor.ini's fonts: the popups draw their texts.
constexpr char kFonts[] =
    "[Fonts]\nBody=Arial\nHeading=Arial\nBodyMono=Lucida console\nHeadingMono=Lucida console\n"
    "Body1=7\nBody2=8\nBody3=9\nBody4=10\nBody5=12\nBody6=14\nBody7=18\n"
    "Heading1=14\nHeading2=12\nHeading3=11\nHeading4=10\nHeading5=9\nHeading6=8\n";

// While the question and the PIN prompt wait for the user the engine has
// nothing to do but what its timers bring: the loop finds no task to run
// and sleeps.
TEST_F(ProvHostTest, APushedDocumentIsConfirmedOnTheScreenAndKept) {
  WriteIniWithDefaultSkin(kFonts);
  int shownFor = 0;
  bool popupMatched = false, pinAsked = false;
  QuietWatch asked, pin;
  // Push reception hands the pushed document to provisioning.
  Result r = Run({[&] {
                    SendPush();
                    return true;
                  },
                  [&] {
                    // The popup is up once drawn for a few passes.
                    if (!PopupShowingMark || ++shownFor < 5 || !asked.Done()) return false;
                    const ShellScreen& screen = ShellGetScreen();
                    popupMatched = GoldenMatches(
                        std::string(QOR_GOLDEN_DIR) + "/prov_confirm.png",
                        GoldenFromRgb565(screen.pixels, static_cast<int>(screen.width),
                                         static_cast<int>(screen.height),
                                         static_cast<int>(screen.pitch)));
                    QTest::keyClick(QtHostDisplayWindow(), Qt::Key_Return);
                    return true;
                  },
                  [&] { return pinAsked = EnterPin([&] { return pin.Done(); }); },
                  [&] {
                    if (TskmanFind(Mod::Provisioning)) return false;
                    ReadAccess();
                    return true;
                  },
                  [&] { return gAccess != "(not read)"; }});
  EXPECT_EQ(r, kUiStartFinished);
  EXPECT_TRUE(popupMatched);
  EXPECT_TRUE(pinAsked);
  using Ran = std::vector<std::pair<uint32_t, uint32_t>>;
  EXPECT_EQ(asked.seen, Ran{});
  EXPECT_TRUE(asked.slept);
  EXPECT_EQ(pin.seen, Ran{});
  EXPECT_TRUE(pin.slept);
  const std::string expected =
      "0/url=5551234\n0/name=5551234\n0/Access=#0\n0/sec=#1\n"
      "0/wap/isp=NAP1\n0/wap/proxy=10.0.0.1\n0/wap/session_mode=#1\n0/wap/coport=#9201\n"
      "0/isp/NAP1/bearer=#0\n0/isp/NAP1/name=Example WAP\n0/isp/NAP1/addr=+441234567890\n"
      "0/isp/NAP1/addrtype=#2\n0/isp/NAP1/calltype=#0\n0/isp/NAP1/user=wapuser\n"
      "0/isp/NAP1/pass=wappass\n"
      "0/service/Example WAP/url=wsp://wap.example.net/\n";
  EXPECT_EQ(gAccess, expected);
  EXPECT_TRUE(std::filesystem::exists("access"));

  // A second start reads the same settings back from its files.
  gAccess.clear();
  r = Run({[&] {
             ReadAccess();
             return true;
           },
           [&] { return gAccess != "(not read)"; }});
  EXPECT_EQ(r, kUiStartFinished);
  EXPECT_EQ(gAccess, expected);
}

// A document loaded as a page (stepped by the URL task) lets the engine
// sleep while its question waits, as a pushed one does.
TEST_F(ProvHostTest, WhileTheQuestionOfADocumentLoadedAsAPageWaitsTheLoopSleeps) {
  WriteIniWithDefaultSkin(std::string(kFonts) + "[Operation]\nURL=file:///test/doc.provc\n");
  std::filesystem::create_directories("romfiles/test");
  std::filesystem::copy_file(std::string(QOR_PROV_DATA_DIR) + "/../wbxml/prov.wbxml",
                             "romfiles/test/doc.provc");
  QuietWatch asked;
  Result r = Run({[&] {
                    if (!PopupShowingMark || !asked.Done()) return false;
                    QTest::keyClick(QtHostDisplayWindow(), Qt::Key_Return);
                    return true;
                  },
                  [&] {
                    if (TskmanFind(Mod::Provisioning) || PopupShowingMark) return false;
                    ReadAccess();
                    return true;
                  },
                  [&] { return gAccess != "(not read)"; }});
  EXPECT_EQ(r, kUiStartFinished);
  EXPECT_EQ(asked.seen, (std::vector<std::pair<uint32_t, uint32_t>>{}));
  EXPECT_TRUE(asked.slept);
  EXPECT_NE(gAccess.find("/wap/proxy=10.0.0.1\n"), std::string::npos) << gAccess;
}

// What the soft-key band shows: its two labels and the title in its box.
struct Band {
  std::u16string left, right, title;
  bool operator==(const Band&) const = default;
};
void PrintTo(const Band& b, std::ostream* out) {
  auto narrow = [](const std::u16string& t) {
    std::string s;
    for (char16_t c : t) s += c < 128 ? std::string(1, static_cast<char>(c)) : "U+" + std::to_string(c);
    return s;
  };
  *out << "{" << narrow(b.left) << "|" << narrow(b.right) << "|" << narrow(b.title) << "}";
}
Band BandShown() {
  UiWindow* ui = UiGetWindow();
  if (!ui) return {u"(no window)", u"", u""};
  return {ui->labels[0] ? ui->labels[0] : u"", ui->labels[1] ? ui->labels[1] : u"", ui->title};
}
// Whether every pixel of the band is white: nothing is drawn there.
bool BandBlank() {
  const ShellScreen& screen = ShellGetScreen();
  for (int32_t y = screen.height - 16; y < screen.height; ++y)
    for (int32_t x = 0; x < screen.width; ++x)
      if (screen.pixels[y * screen.pitch + x] != 0xFFFF) return false;
  return true;
}
// Whether a label is drawn: anything but white beside the title's box, at
// either end of the band, where the two labels stand.
bool LabelsDrawn() {
  const ShellScreen& screen = ShellGetScreen();
  for (int32_t y = screen.height - 16; y < screen.height; ++y)
    for (int32_t x = 0; x < screen.width; ++x)
      if ((x < kBenChromeInset || x >= screen.width - kBenChromeInset) &&
          screen.pixels[y * screen.pitch + x] != 0xFFFF)
        return true;
  return false;
}
// Whether the open text-input window lies over any of the band on the desktop.
bool BandCovered() {
  TextInputWindow* w = QtTextInputWindow();
  QWidget* display = QtHostDisplayWindow();
  if (!w || !display) return false;
  const ShellScreen& screen = ShellGetScreen();
  const QRect band(display->mapToGlobal(QPoint(0, screen.height - 16)), QSize(screen.width, 16));
  return w->frameGeometry().intersects(band);
}
// The engine takes what waits (the host loop does not step it while a test acts).
void Settle() {
  for (int i = 0; i < 100000 && TskmanPendingCount() > 0; ++i) TskmanStep();
}

// The band shows the labels of the keys that act on what is on top, and
// they go with what they belonged to: the provisioning question, covered by
// a script's confirm that Home opened and uncovered when it is answered,
// shows its labels again; once its PIN is accepted nothing is left in the
// band; a script's alert shows its one label alone.
TEST_F(ProvHostTest, TheSoftKeyBandFollowsWhatIsOnTop) {
  WriteIniWithDefaultSkin(std::string(kFonts) +
                          "[Operation]\nURL=file:///test/wta.wmlsc#confirm('Go on?')\n");
  std::filesystem::create_directories("romfiles/test");
  std::filesystem::copy_file(QOR_WMLS_DATA "/wta.wmlsc", "romfiles/test/wta.wmlsc");
  auto question = [] { return TskmanFind(Mod::Popup) && PopupShowingMark; };
  auto scriptAnswer = [] {
    const char16_t* value = BenGetVar(BenGetBrowser(), u"r");
    return std::u16string(value ? value : u"");
  };
  const Band provQuestion{UiGetString(17, 3), UiGetString(17, 4), u""};
  std::vector<Band> seen;
  bool blankAfterPin = false;
  Result r = Run({[&] {
                    // The start's confirm answered first: the push comes to an empty screen.
                    if (!question()) return false;
                    QTest::keyClick(QtHostDisplayWindow(), Qt::Key_F9);
                    return true;
                  },
                  [&] {
                    if (TskmanFind(Mod::Popup) || scriptAnswer().empty()) return false;
                    SendPush();
                    return true;
                  },
                  [&] {
                    if (!question() || !TskmanFind(Mod::Provisioning)) return false;
                    Settle();
                    seen.push_back(BandShown());
                    BenSetVar(BenGetBrowser(), u"r", nullptr);
                    QTest::keyClick(QtHostDisplayWindow(), Qt::Key_Home);  // the confirm over it
                    return true;
                  },
                  [&] {
                    Settle();
                    if (BandShown().left != u"yes") return false;
                    seen.push_back(BandShown());
                    QTest::keyClick(QtHostDisplayWindow(), Qt::Key_F9);
                    return true;
                  },
                  [&] {
                    if (scriptAnswer().empty()) return false;
                    Settle();
                    seen.push_back(BandShown());  // the question again
                    QTest::keyClick(QtHostDisplayWindow(), Qt::Key_F3);
                    return true;
                  },
                  [&] { return EnterPin(); },
                  [&] {
                    if (TskmanFind(Mod::Provisioning) || TskmanFind(Mod::Popup)) return false;
                    Settle();
                    seen.push_back(BandShown());
                    blankAfterPin = BandBlank();
                    TskmanPost(TskmanFind(Mod::Ui), BenMsg::UiNavigate,
                               reinterpret_cast<uintptr_t>(
                                   LibcStrDup("file:///test/wta.wmlsc#alert('Done')")),
                               0);
                    return true;
                  },
                  [&] {
                    if (!question()) return false;
                    Settle();
                    seen.push_back(BandShown());
                    return true;
                  }});
  EXPECT_EQ(r, kUiStartFinished);
  const std::vector<Band> expected = {provQuestion,
                                      {u"yes", u"no", u""},
                                      provQuestion,
                                      {u"", u"", u""},
                                      {UiGetString(13, 14), u"", u""}};
  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(blankAfterPin);
}

// The other questions a user meets let the engine sleep too: a script's
// confirm, alert and prompt, and a call's consent.
class QuestionHostTest : public ProvHostTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(QuestionHostTest, WhileItWaitsTheLoopSleeps) {
  WriteIniWithDefaultSkin(std::string(kFonts) + "[Operation]\nURL=" + GetParam() + "\n");
  std::filesystem::create_directories("romfiles/test");
  std::filesystem::copy_file(QOR_WMLS_DATA "/wta.wmlsc", "romfiles/test/wta.wmlsc");
  QuietWatch asked;
  Result r = Run({[&] {
    TextInputWindow* window = QtTextInputWindow();
    const bool shown = PopupShowingMark || (window && window->isVisible());
    return TskmanFind(Mod::Popup) && shown && asked.Done();
  }});
  EXPECT_EQ(r, kUiStartFinished);
  EXPECT_EQ(asked.seen, (std::vector<std::pair<uint32_t, uint32_t>>{}));
  EXPECT_TRUE(asked.slept);
}

INSTANTIATE_TEST_SUITE_P(Questions, QuestionHostTest,
                         ::testing::Values("file:///test/wta.wmlsc#confirm('Go on?')",
                                           "file:///test/wta.wmlsc#alert('Done')",
                                           "file:///test/wta.wmlsc#prompt('Name?','x')",
                                           "wtai://wp/mc;5551234"));


namespace whole {

std::vector<uint16_t> Screen() {
  const ShellScreen& screen = ShellGetScreen();
  std::vector<uint16_t> out;
  for (int32_t y = 0; y < screen.height; ++y)
    for (int32_t x = 0; x < screen.width; ++x) out.push_back(screen.pixels[y * screen.pitch + x]);
  return out;
}
// True when what is shown equals a whole redraw of the same state.
bool SameAsRedraw(std::string* why) {
  Settle();
  const std::vector<uint16_t> before = Screen();
  TskmanPost(TskmanFind(Mod::Ui), PwlEvent::RedrawPage, 0, 0);
  Settle();
  const std::vector<uint16_t> after = Screen();
  if (before == after) return true;
  size_t diff = 0, first = before.size();
  for (size_t i = 0; i < before.size(); ++i)
    if (before[i] != after[i]) { ++diff; if (first == before.size()) first = i; }
  *why = std::to_string(diff) + " pixels differ, first at " + std::to_string(first) + " of " +
         std::to_string(before.size());
  return false;
}

}  // namespace whole

// A document loaded as a page whose question waits, left for another page:
// the question goes, the provisioning task ends, the engine sleeps, and the
// stop ends cleanly.
TEST_F(ProvHostTest, TheQuestionOfAPageLeftForAnotherPageGoesAndTheLoopSleeps) {
  WriteIniWithDefaultSkin(std::string(kFonts) + "[Operation]\nURL=file:///test/doc.provc\n");
  std::filesystem::create_directories("romfiles/test");
  std::filesystem::copy_file(std::string(QOR_PROV_DATA_DIR) + "/../wbxml/prov.wbxml",
                             "romfiles/test/doc.provc");
  {
    std::ofstream page("romfiles/test/page.wml");
    page << "<?xml version=\"1.0\"?><wml><card id=\"a\"><p>Another page</p></card></wml>";
  }
  QuietWatch after;
  std::string why;
  bool same = false;
  Result r = Run({[&] {
                    if (!PopupShowingMark) return false;
                    Settle();
                    TskmanPost(TskmanFind(Mod::Ui), BenMsg::UiNavigate,
                               reinterpret_cast<uintptr_t>(LibcStrDup("file:///test/page.wml")), 0);
                    return true;
                  },
                  [&] { return !TskmanFind(Mod::Provisioning) && after.Done(); },
                  [&] {
                    same = whole::SameAsRedraw(&why);
                    return true;
                  }});
  EXPECT_EQ(r, kUiStartFinished);
  EXPECT_EQ(after.seen, (std::vector<std::pair<uint32_t, uint32_t>>{}));
  EXPECT_TRUE(after.slept);
  EXPECT_TRUE(same) << why;
}

// The stop while a pushed document's question, or its PIN prompt, waits.
class StopWhileAskedHostTest : public ProvHostTest, public ::testing::WithParamInterface<int> {};
TEST_P(StopWhileAskedHostTest, StopWhileItWaits) {
  WriteIniWithDefaultSkin(kFonts);
  std::vector<Stage> stages = {[&] {
                                 SendPush();
                                 return true;
                               },
                               [&] { return PopupShowingMark && TskmanFind(Mod::Provisioning); }};
  if (GetParam() >= 1)
    stages.push_back([&] {
      Settle();
      QTest::keyClick(QtHostDisplayWindow(), Qt::Key_F3);
      return true;
    });
  if (GetParam() >= 1)
    stages.push_back([&] {
      TextInputWindow* window = QtTextInputWindow();
      return window && window->isVisible();
    });
  // The document left unanswered is not applied, and the stop says so.
  ::testing::internal::CaptureStderr();
  Result r = Run(stages);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r, kUiStartFinished);
  EXPECT_EQ(HostExitStatus(r), 1);
  EXPECT_NE(err.find("qor: could not save access: a provisioning document from 5551234: its "
                     "question was left unanswered at the stop; it was not applied\n"),
            std::string::npos)
      << err;
  ExpectNextRunQuietAndAccessEmpty();
}
INSTANTIATE_TEST_SUITE_P(QuestionAndPin, StopWhileAskedHostTest, ::testing::Values(0, 1));

// The bridge's socket as the host opens it, never found readable by a poll:
// what waits in it is taken only by the stop's drain, which comes once the
// browser phase has ended.
struct DrainOnlySockets {
  const PlatformSocketOps posix = PlatformSockets();
  PlatformSocketOps ops = posix;
  int opened = -1;
  DrainOnlySockets() {
    ops.ctx = this;
    ops.open = [](void* ctx, bool stream, int* family) {
      auto* self = static_cast<DrainOnlySockets*>(ctx);
      return self->opened = self->posix.open(self->posix.ctx, stream, family);
    };
    ops.poll = [](void* ctx, SocketPollEntry* entries, uint32_t count) {
      auto* self = static_cast<DrainOnlySockets*>(ctx);
      self->posix.poll(self->posix.ctx, entries, count);
      for (uint32_t i = 0; i < count; ++i)
        if (entries[i].fd == self->opened) entries[i].readable = false;
    };
    PlatformSocketsInstall(&ops);
  }
  ~DrainOnlySockets() { PlatformSocketsInstall(nullptr); }
  // The bytes that wait in the socket.
  uint32_t Waiting() const {
    uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof memory;
    ::getsockopt(opened, SOL_SOCKET, SO_MEMINFO, memory, &length);
    return memory[SK_MEMINFO_RMEM_ALLOC];
  }
};

// The settings store held by a task of the test from the moment a pushed
// document's run starts (before the run asks for "//access") until the
// bridge is told to stop, which comes once the browser phase has ended.
struct RunHold {
  bool armed = false;
  TskmanTask* task = nullptr;
  ConfigHandle* handle = nullptr;
  bool released = false;
};
RunHold gRunHold;

Result RunHolder(void*, uint32_t message, uintptr_t, uintptr_t arg2) {
  if (message != ConfigMsg::Opened) return kOk;
  gRunHold.handle = reinterpret_cast<ConfigHandle*>(arg2);
  if (gRunHold.released) ConfigRelease(&gRunHold.handle);
  return kOk;
}

void ObserveRun(const TskmanTask* task, uint32_t message, uintptr_t, uintptr_t) {
  if (!gRunHold.armed) return;
  if (task->id == Mod::Provisioning && message == TskMsg::Start && !gRunHold.task) {
    TskmanCreateTask(&gRunHold.task, Mod::TestCode, RunHolder, nullptr);
    ConfigOpen(gRunHold.task, "//access", false);
  } else if (task->id == Mod::SmsBridge && message == SmsMsg::BridgeStop) {
    gRunHold.armed = false;
    gRunHold.released = true;
    if (gRunHold.handle) ConfigRelease(&gRunHold.handle);
  }
}

// A pushed document that reaches provisioning once the browser phase has
// ended (its datagrams wait in the socket until the stop's drain), or that
// waits for the settings store when the stop comes, can no longer be asked:
// the stop says so with its sender, as of a question left open, and ends
// with status 1; nothing is applied, and the next start asks nothing.
TEST_F(ProvHostTest, APushTheStopCameBeforeAskingIsSaid) {
  const struct {
    const char* name;
    bool drainOnly;  // else: the store held while the run would ask for it
  } cases[] = {{"taken by the stop's drain", true}, {"waiting for the settings store", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove("access");
    std::filesystem::remove("repository");
    WriteIniWithDefaultSkin(kFonts);
    std::unique_ptr<DrainOnlySockets> sockets;
    if (c.drainOnly) sockets = std::make_unique<DrainOnlySockets>();
    gRunHold = RunHold{};
    std::vector<Stage> stages;
    if (c.drainOnly) {
      stages.push_back([&] {
        const uint32_t before = sockets->Waiting();
        SendPush();  // its two datagrams, with no pause; loopback queues each as it is sent
        EXPECT_TRUE(PollUntil([&] { return sockets->Waiting() > before; }));
        return true;
      });
    } else {
      stages.push_back([&] {
        gRunHold.armed = true;
        TskmanSetObserver(ObserveRun);
        SendPush();
        return true;
      });
      stages.push_back([&] { return gRunHold.handle && TskmanFind(Mod::Provisioning); });
    }
    ::testing::internal::CaptureStderr();
    Result r = Run(stages);
    std::string err = ::testing::internal::GetCapturedStderr();
    TskmanSetObserver(nullptr);
    if (gRunHold.task) {
      EXPECT_TRUE(gRunHold.released);
    }
    EXPECT_EQ(r, kUiStartFinished);
    EXPECT_EQ(HostExitStatus(r), 1) << err;
    EXPECT_NE(err.find("qor: could not save access: a provisioning document from 5551234: the "
                       "emulator stopped before it was asked; it was not applied\n"),
              std::string::npos)
        << err;
    EXPECT_FALSE(std::filesystem::exists("access"));
    sockets.reset();
    ExpectNextRunQuietAndAccessEmpty();
  }
}

// Soft keys and frames through a question covered by a script's prompt,
// alert or confirm that Home opens, each answered, then the question
// answered by its key. While the prompt's text-input window is open no
// handset key reaches what is under it: the band shows the window's title
// and no label, in view below the window, and the question's come back when
// it closes.
class CoveredQuestionHostTest : public ProvHostTest, public ::testing::WithParamInterface<const char*> {};
TEST_P(CoveredQuestionHostTest, ComesBackWithItsLabelsAndEveryFrameIsAWholeRedraw) {
  WriteIniWithDefaultSkin(std::string(kFonts) + "[Operation]\nURL=file:///test/wta.wmlsc#" +
                          GetParam() + "\n");
  std::filesystem::create_directories("romfiles/test");
  std::filesystem::copy_file(QOR_WMLS_DATA "/wta.wmlsc", "romfiles/test/wta.wmlsc");
  const bool prompt = std::string(GetParam()).rfind("prompt", 0) == 0;
  const bool alert = std::string(GetParam()).rfind("alert", 0) == 0;
  auto anyPopup = [] { return TskmanFind(Mod::Popup) != nullptr; };
  auto textUp = [] {
    TextInputWindow* w = QtTextInputWindow();
    return w && w->isVisible();
  };
  auto answerTop = [&] {
    if (prompt) {
      if (!textUp()) return false;
      QTest::keyClick(QtTextInputWindow()->editor(), Qt::Key_Return);
    } else {
      QTest::keyClick(QtHostDisplayWindow(), alert ? Qt::Key_F3 : Qt::Key_F9);
    }
    return true;
  };
  const Band provQuestion{UiGetString(17, 3), UiGetString(17, 4), u""};
  const std::u16string typing = UiGetString(13, 2);
  bool bandInView = false;
  std::vector<Band> seen;
  std::vector<bool> drawn;
  auto see = [&] {
    seen.push_back(BandShown());
    drawn.push_back(LabelsDrawn());
  };
  std::vector<std::string> frames;
  auto frame = [&](const char* step) {
    std::string why;
    if (!whole::SameAsRedraw(&why)) frames.push_back(std::string(step) + ": " + why);
  };
  int waits = 0;
  Result r = Run({[&] { return anyPopup() && (PopupShowingMark || textUp()) && ++waits > 5 && answerTop(); },
                  [&] {
                    if (anyPopup()) return false;
                    Settle();
                    frame("start answered");
                    SendPush();
                    return true;
                  },
                  [&] {
                    if (!PopupShowingMark || !TskmanFind(Mod::Provisioning)) return false;
                    Settle();
                    frame("question");
                    see();
                    QTest::keyClick(QtHostDisplayWindow(), Qt::Key_Home);
                    waits = 0;
                    return true;
                  },
                  [&] {
                    Settle();
                    if (!(prompt ? textUp() && BandShown().title == typing
                                 : BandShown() != provQuestion) ||
                        ++waits < 5)
                      return false;
                    frame("covered");
                    see();
                    if (prompt) bandInView = !BandCovered();
                    return answerTop();
                  },
                  [&] {
                    Settle();
                    if (prompt ? textUp() : false) return false;
                    if (++waits < 10) return false;
                    frame("uncovered");
                    see();
                    QTest::keyClick(QtHostDisplayWindow(), Qt::Key_F3);
                    return true;
                  },
                  [&] { return textUp(); },
                  [&] {
                    QTest::keyClick(QtTextInputWindow()->editor(), Qt::Key_Escape);
                    return true;
                  },
                  [&] {
                    if (TskmanFind(Mod::Provisioning) || TskmanFind(Mod::Popup) || textUp()) return false;
                    Settle();
                    frame("pin cancelled");
                    see();
                    return true;
                  }});
  EXPECT_EQ(r, kUiStartFinished);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], provQuestion);
  EXPECT_EQ(seen[2], provQuestion);
  EXPECT_EQ(seen[3], (Band{u"", u"", u""}));
  if (prompt) {
    EXPECT_EQ(seen[1].title, typing);
    EXPECT_TRUE(bandInView) << "the prompt's window hides the band and the title in it";
  }
  EXPECT_EQ(drawn, (std::vector<bool>{true, !prompt, true, false}));
  EXPECT_EQ(frames, std::vector<std::string>{});
}
INSTANTIATE_TEST_SUITE_P(ScriptPopups, CoveredQuestionHostTest,
                         ::testing::Values("confirm('Go on?')", "alert('Done')",
                                           "prompt('Name?','x')"));

// The question pushed over the start's confirm and accepted: its PIN's
// window comes up over the confirm, whose labels stay out of the band until
// the PIN is entered and the confirm's keys act again.
TEST_F(ProvHostTest, ThePinOverAScriptsConfirmLeavesTheBandToTheConfirm) {
  WriteIniWithDefaultSkin(std::string(kFonts) +
                          "[Operation]\nURL=file:///test/wta.wmlsc#confirm('Go on?')\n");
  std::filesystem::create_directories("romfiles/test");
  std::filesystem::copy_file(QOR_WMLS_DATA "/wta.wmlsc", "romfiles/test/wta.wmlsc");
  auto popups = [] {
    size_t n = 0;
    for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t)) n += t->id == Mod::Popup;
    return n;
  };
  auto textUp = [] {
    TextInputWindow* w = QtTextInputWindow();
    return w && w->isVisible();
  };
  const Band confirm{u"yes", u"no", u""};
  const std::u16string typing = UiGetString(13, 2);
  std::vector<std::string> frames;
  auto frame = [&](const char* step) {
    std::string why;
    if (!whole::SameAsRedraw(&why)) frames.push_back(std::string(step) + ": " + why);
  };
  Band whilePin{}, after{};
  bool drawnWhilePin = true, drawnAfter = false;
  int waits = 0;
  Result r = Run({[&] {
                    if (!PopupShowingMark || ++waits < 5) return false;
                    SendPush();
                    return true;
                  },
                  [&] {
                    if (popups() != 2 || !TskmanFind(Mod::Provisioning)) return false;
                    Settle();
                    frame("question");
                    QTest::keyClick(QtHostDisplayWindow(), Qt::Key_F3);
                    return true;
                  },
                  [&] {
                    Settle();
                    if (!textUp() || BandShown().title != typing) return false;
                    frame("pin");
                    whilePin = BandShown();
                    drawnWhilePin = LabelsDrawn();
                    return EnterPin();
                  },
                  [&] {
                    if (textUp() || TskmanFind(Mod::Provisioning) || popups() != 1) return false;
                    Settle();
                    frame("pin entered");
                    after = BandShown();
                    drawnAfter = LabelsDrawn();
                    return true;
                  }});
  EXPECT_EQ(r, kUiStartFinished);
  EXPECT_EQ(whilePin.title, typing);
  EXPECT_FALSE(drawnWhilePin);
  EXPECT_EQ(after, confirm);
  EXPECT_TRUE(drawnAfter);
  EXPECT_EQ(frames, std::vector<std::string>{});
}

}  // namespace

namespace {

// A script's dialog (the call in the parameter) that Home opens over the
// provisioning question: the stages up to both showing, the start's own
// dialog answered first.
class DialogOverQuestionHostTest : public ProvHostTest,
                                   public ::testing::WithParamInterface<const char*> {
 protected:
  static size_t Popups() {
    size_t n = 0;
    for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t)) n += t->id == Mod::Popup;
    return n;
  }
  std::vector<Stage> UpToCovered() {
    WriteIniWithDefaultSkin(std::string(kFonts) + "[Operation]\nURL=file:///test/wta.wmlsc#" +
                            GetParam() + "\n");
    std::filesystem::create_directories("romfiles/test");
    std::filesystem::copy_file(QOR_WMLS_DATA "/wta.wmlsc", "romfiles/test/wta.wmlsc");
    const std::string call = GetParam();
    const bool prompt = call.rfind("prompt", 0) == 0, alert = call.rfind("alert", 0) == 0;
    auto textUp = [] {
      TextInputWindow* w = QtTextInputWindow();
      return w && w->isVisible();
    };
    return {[=, this] {
              if (!Popups() || !(PopupShowingMark || textUp()) || ++waits_ <= 5) return false;
              if (prompt)
                QTest::keyClick(QtTextInputWindow()->editor(), Qt::Key_Return);
              else
                QTest::keyClick(QtHostDisplayWindow(), alert ? Qt::Key_F3 : Qt::Key_F9);
              return true;
            },
            [this] {
              if (Popups()) return false;
              Settle();
              SendPush();
              return true;
            },
            [this] {
              if (!PopupShowingMark || !TskmanFind(Mod::Provisioning)) return false;
              Settle();
              QTest::keyClick(QtHostDisplayWindow(), Qt::Key_Home);
              waits_ = 0;
              return true;
            },
            [this] {
              Settle();
              return Popups() == 2 && ++waits_ >= 5;
            }};
  }
  int waits_ = 0;
};

// The back key cancels what the user sees, the dialog, and the question
// comes back with its labels, still waiting for its answer.
using BackOverQuestionHostTest = DialogOverQuestionHostTest;
TEST_P(BackOverQuestionHostTest, CancelsTheDialogOnTopNotTheQuestionItCovers) {
  const Band provQuestion{UiGetString(17, 3), UiGetString(17, 4), u""};
  std::vector<std::string> frames;
  auto frame = [&](const char* step) {
    std::string why;
    if (!whole::SameAsRedraw(&why)) frames.push_back(std::string(step) + ": " + why);
  };
  Band after{};
  size_t left = 0;
  bool provAlive = false;
  int waits = 0;
  std::vector<Stage> stages = UpToCovered();
  stages.push_back([&] {
    frame("covered");
    QTest::keyClick(QtHostDisplayWindow(), Qt::Key_Backspace);
    return true;
  });
  stages.push_back([&] {
    Settle();
    if (++waits < 10) return false;
    frame("back");
    after = BandShown();
    left = Popups();
    provAlive = TskmanFind(Mod::Provisioning) != nullptr;
    return true;
  });
  EXPECT_EQ(Run(stages), kUiStartFinished);
  EXPECT_EQ(left, 1u);
  EXPECT_TRUE(provAlive);
  EXPECT_EQ(after, provQuestion);
  EXPECT_EQ(frames, std::vector<std::string>{});
}
INSTANTIATE_TEST_SUITE_P(ScriptPopups, BackOverQuestionHostTest,
                         ::testing::Values("confirm('Go on?')", "alert('Done')"));

// The window closes with both showing: both go, with the script and the
// document, and the engine stops cleanly.
using StopWithDialogOverQuestionHostTest = DialogOverQuestionHostTest;
TEST_P(StopWithDialogOverQuestionHostTest, BothGoWithTheWindow) {
  EXPECT_EQ(Run(UpToCovered()), kUiStartFinished);
}
INSTANTIATE_TEST_SUITE_P(ScriptPopups, StopWithDialogOverQuestionHostTest,
                         ::testing::Values("confirm('Go on?')", "alert('Done')",
                                           "prompt('Name?','x')"));

}  // namespace
