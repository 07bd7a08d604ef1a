// Connectivity documents through the real URL task, settings store, popups
// and crypto provider: served by the tests' fetch driver with their security
// headers, answered at the confirm and PIN popups, and read back from
// "//access" afterwards. MACs from tests/data/prov/mac.sh (openssl).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "browser/bentask.h"
#include "browser/cache.h"
#include "content/content_rows.h"
#include "content/handover_rows.h"
#include "host/platform/handset.h"
#include "host/platform/textinput.h"
#include "kernel/config.h"
#include "kernel/heap.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "kernel/sstore.h"
#include "kernel/ubstore.h"
#include "kernel/uistring.h"
#include "services/provisioning/prov.h"
#include "services/service_rows.h"
#include "services/wmlscript/wmls_script_task.h"
#include "tests/services/prov_support.h"
#include "tests/services/wmls_harness.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/failure_record.h"
#include "tests/support/fetch_driver.h"
#include "tests/support/pinned_work_buffer.h"
#include "tests/support/temp_dir.h"
#include "tests/widgets/fake_text_window.h"
#include "tests/widgets/sel_fixture.h"
#include "widgets/input.h"
#include "widgets/popup.h"

namespace {

const HandsetOps* gPreviousOps = nullptr;

Result DeviceId(TskmanTask* task, char* buffer) {
  for (int i = 0; i < 8; ++i) buffer[i] = static_cast<char>('1' + i);
  TskmanPost(task, Msg(71, 0), 0, 8);
  return kOk;
}

std::map<std::string, std::string> Macs() {
  std::map<std::string, std::string> out;
  std::istringstream in(ProvDocument("macs.txt"));
  std::string name, mac;
  while (in >> name >> mac) out[name] = mac;
  return out;
}

class ProvTaskTest : public SelFixture {
 protected:
  using Headers = decltype(FetchBody::headers);
  ProvTaskTest() { realClasses = true; }
  void SetUp() override {
    dir = std::make_unique<TempDir>(true);
    SelFixture::SetUp();
    window.Install();
    handset.getDeviceId = DeviceId;
    gPreviousOps = HandsetInstall(&handset);
    stage.Start([this] { Pump(); });
    session = stage.session;
    requester = stage.requester.get();
  }
  void TearDown() override {
    stage.Stop([this] { Pump(); });
    HandsetInstall(gPreviousOps);
    window.Remove();
    EXPECT_EQ(TskmanFind(Mod::Provisioning), nullptr);
    SelFixture::TearDown();
    dir.reset();
  }

  // Serves the sample document with the headers and loads it, answering each
  // popup with the next of `answers` ("yes", "no", a PIN, "cancel"); what the
  // popups asked is in `asked` ("consent", "pin", "again").
  Result Provision(const Headers& headers, std::vector<std::string> answers,
                   const char* document = "../wbxml/prov.wbxml") {
    Serve(headers, 100, document);
    UrlRequestRec* request = nullptr;
    EXPECT_EQ(Load(&request), kOk);
    requester->log.clear();
    asked.clear();
    page.clear();
    // The load steps on while it waits for an answer: the ring never drains
    // until it ends, so the steps are counted here.
    Result end = 1;
    for (int i = 0; i < 400000 && end == 1; ++i) {
      Step();
      end = End();
      if (TskmanFind(Mod::Popup) && !answers.empty() && PopupShown()) {
        Answer(answers.front());
        answers.erase(answers.begin());
      }
    }
    EXPECT_TRUE(answers.empty()) << "answers left over";
    if (end == kOk) {
      void* chunk = nullptr;
      while (UrlLoadNextChunk(request, &chunk) == kOk) {
        auto* block = static_cast<UtilDataChunk*>(chunk);
        page.append(reinterpret_cast<const char*>(UtilDataChunkData(block) + block->offset),
                    block->remaining);
      }
      typeId = UrlLoadTypeId(request);
    }
    UrlRequestDone(session, request);
    Pump();
    EXPECT_EQ(TskmanFind(Mod::Provisioning), nullptr);
    return end;
  }

  // Serves the sample document under /prov with the headers, in blocks of
  // `blockSize` bytes (0: all in one).
  void Serve(const Headers& headers, uint32_t blockSize, const char* document = "../wbxml/prov.wbxml") {
    FetchBody body;
    body.body = ProvDocument(document);
    body.contentType = "application/vnd.wap.connectivity-wbxml";
    body.headers = headers;
    body.blockSize = blockSize;
    driver.Serve("/prov", body);
  }

  // Starts loading the served document for the requester.
  Result Load(UrlRequestRec** request) {
    return UrlRequest(session, "qortest://gw.example.net/prov", 0, nullptr, request, 0, requester->task(), 0);
  }

  // How the load ended as the requester heard it: 1 while it has not.
  Result End() {
    Result end = 1;
    for (const Received& r : requester->log) {
      if (r.message == UrlMsg::Failed) end = static_cast<Result>(r.arg2);
      if (r.message == UrlMsg::Complete) end = kOk;
    }
    return end;
  }

  // Lets the load go and waits out the popup's watch, so that whatever the
  // load held is freed.
  void LetGo(UrlRequestRec* request) {
    UrlRequestDone(session, request);
    Pump();
    Tick(static_cast<int>(kPopupWatchMs / kTskmanTickMs) + 1);
    Pump();
  }

  // A popup is up and waits for the user (its window or text entry is open).
  bool PopupShown() {
    void* context = nullptr;
    TskmanGetContext(&context, TskmanFind(Mod::Popup));
    auto* popup = static_cast<PopupRequest*>(context);
    return popup && (popup->kind == PopupKind::Confirm ? popup->window != nullptr
                                                       : TiwOpenSession() != nullptr);
  }

  // Answers a popup once it shows, and not again until it has gone: the
  // caller goes on stepping.
  void AnswerOnce(std::vector<std::string>& answers, bool& replied) {
    if (!TskmanFind(Mod::Popup)) {
      replied = false;
      return;
    }
    if (replied || answers.empty() || !PopupShown()) return;
    Reply(answers.front());
    answers.erase(answers.begin());
    replied = true;
  }

  // The popup's build finds the heap spent: it goes without being shown.
  void Unbuilt() {
    asked.push_back("unbuilt");
    std::vector<void*> eaten = EatHeap(0);
    for (int j = 0; j < 20000 && TskmanFind(Mod::Popup); ++j) Step();
    for (void* p : eaten) MemFree(&p);
  }

  // Answers the popup and steps until it has gone.
  void Answer(const std::string& answer) {
    Reply(answer);
    for (int j = 0; j < 20000 && TskmanFind(Mod::Popup); ++j) Step();
  }

  void Reply(const std::string& answer) {
    if (answer == "close") {
      // Taken away under the load, as the browser gives up its question.
      asked.push_back("closed");
      PopupClose();
      Tick(static_cast<int>(kPopupWatchMs / kTskmanTickMs));
      return;
    }
    void* context = nullptr;
    TskmanGetContext(&context, TskmanFind(Mod::Popup));
    auto* popup = static_cast<PopupRequest*>(context);
    if (popup->kind == PopupKind::Confirm) {
      consentText = static_cast<PopupConfirmBody*>(popup->body)->text;
      asked.push_back("consent");
      TskmanPost(TskmanFind(Mod::Popup), PwlEvent::Key,
                 answer == "yes" ? PwlKey::Soft1 : PwlKey::Soft2, 0);
      return;
    }
    const std::u16string prompt = static_cast<PopupTextBody*>(popup->body)->prompt;
    asked.push_back(prompt == UiGetString(17, 0) ? "pin" : prompt == UiGetString(17, 1) ? "again" : "?");
    auto* input = static_cast<InputSession*>(TiwOpenSession());
    ASSERT_NE(input, nullptr);
    if (answer == "cancel") {
      InputSessionCancel(input);
    } else {
      const std::u16string pin(answer.begin(), answer.end());
      ASSERT_EQ(InputSessionSubmitText(input, pin.c_str()), kOk);
    }
    InputSessionClose(input);
  }

  // The "//access" section as the store has it.
  std::string Access() { return stage.Read("//access", [this] { Pump(); }); }

  // Places the document in the cache as push delivery leaves it (`pushed`),
  // under push:5551234.<n> (`name`) with the headers. The cached object
  // stays until `pushed` is let go.
  void PlacePushed(const std::vector<std::pair<const char*, std::string>>& headers,
                   const char* document, std::string* name) {
    *name = "push:5551234." + std::to_string(++serial);
    UrlParsed url{};
    ASSERT_EQ(UrlParse(&url, name->c_str(), 0), kOk);
    pushed = UrlLoadCreate(&url);
    UrlFreeParsed(&url);
    const std::string doc = ProvDocument(document);
    ASSERT_EQ(UtilDataChunkAppend(&pushed->output, reinterpret_cast<const uint8_t*>(doc.data()),
                                  static_cast<uint32_t>(doc.size()), Mod::Url),
              kOk);
    for (const auto& [name, value] : headers) ASSERT_EQ(UrlAddHeader(pushed, name, value.c_str()), kOk);
    pushed->endOfData = 1;
    pushed->closed = 1;
    pushed->events |= UrlEvent::Complete;
    UrlLoadSetFlags(pushed, UrlFlag::Kept);
    CacheAdd(pushed);
  }
  // Places it, hands it to the entry point, and answers each popup with the
  // next of `answers` until the document is applied or let go.
  void ProvisionPushed(const std::vector<std::pair<const char*, std::string>>& headers,
                       std::vector<std::string> answers,
                       const char* document = "../wbxml/prov.wbxml") {
    std::string name;
    ASSERT_NO_FATAL_FAILURE(PlacePushed(headers, document, &name));
    EXPECT_EQ(ProvProvisionPushed("push:5551234.0"), ProvCode::Refused);
    ASSERT_EQ(ProvProvisionPushed(name.c_str()), kOk);
    asked.clear();
    for (int i = 0; i < 200000 && TskmanFind(Mod::Provisioning); ++i) {
      Step();
      if (!answers.empty() && answers.front() == "unbuilt" && TskmanFind(Mod::Popup) &&
          !PopupShown()) {
        Unbuilt();
        answers.erase(answers.begin());
      }
      if (TskmanFind(Mod::Popup) && !answers.empty() && PopupShown()) {
        Answer(answers.front());
        answers.erase(answers.begin());
      }
    }
    EXPECT_TRUE(answers.empty());
  }
  UrlLoad* pushed = nullptr;
  int serial = 0;

  std::unique_ptr<TempDir> dir;
  FakeTextWindow window;
  HandsetOps handset{};
  FetchDriver driver;
  ServiceStage stage;
  Recorder* requester = nullptr;
  UrlSession* session = nullptr;
  std::vector<std::string> asked;
  std::u16string consentText;
  std::string page;
  uint32_t typeId = 0;
};

const char kEntry[] =
    "0/url=push.example.net\n0/name=push.example.net\n0/Access=#0\n"
    "0/wap/isp=NAP1\n0/wap/proxy=10.0.0.1\n0/wap/session_mode=#1\n0/wap/coport=#9201\n"
    "0/isp/NAP1/bearer=#0\n0/isp/NAP1/name=Example WAP\n0/isp/NAP1/addr=+441234567890\n"
    "0/isp/NAP1/addrtype=#2\n0/isp/NAP1/calltype=#0\n0/isp/NAP1/user=wapuser\n"
    "0/isp/NAP1/pass=wappass\n"
    "0/service/Example WAP/url=wsp://wap.example.net/\n";

// What is said of a popup memory could not show: its text.
std::string NotShown(const std::u16string& text) {
  std::string utf8(text.size() * 3, '\0');
  uint32_t size = static_cast<uint32_t>(utf8.size());
  LngUtf8Encode(text.data(), static_cast<uint32_t>(text.size()),
                reinterpret_cast<uint8_t*>(utf8.data()), &size);
  utf8.resize(size);
  return "a popup could not be shown for want of memory and went unanswered: \"" + utf8 + "\"";
}

// The consent question as a push from the sender asks it.
std::u16string Consent(const std::u16string& sender) {
  std::u16string text = UiGetString(17, 2);
  const std::u16string mark = u"$(HXPProv)";
  return text.replace(text.find(mark), mark.size(), sender);
}

const std::pair<std::string, std::string> kInitiator{"X-Wap-Initiator-URI",
                                                     "http://push.example.net/ppg"};

TEST_F(ProvTaskTest, AnAcceptedDocumentIsCommittedAndTheUpdatedPageShown) {
  EXPECT_EQ(Provision({kInitiator}, {"yes"}), kOk);
  EXPECT_EQ(asked, std::vector<std::string>{"consent"});
  EXPECT_NE(consentText.find(u"push.example.net"), std::u16string::npos);
  EXPECT_EQ(consentText.find(u"$(HXPProv)"), std::u16string::npos);
  EXPECT_EQ(Access(), kEntry);
  EXPECT_EQ(typeId, UrlType::Html);
  EXPECT_NE(page.find("Settings updated"), std::string::npos);
}

// Each security method with the MAC (or PIN) its keys give, and the ways a
// document is refused: nothing is written then.
TEST_F(ProvTaskTest, SecurityMethods) {
  const auto macs = Macs();
  const struct {
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::string> answers;
    Result end;
    std::vector<std::string> asked;
    const char* access;  // a fragment the entry holds, or "" for none written
  } cases[] = {
      {{{"sec", "0"}, {"mac", macs.at("netwpin")}}, {"yes"}, kOk, {"consent"}, "0/Access=#3\n"},
      {{{"sec", "0"}, {"mac", macs.at("userpin")}}, {"yes"}, ProvCode::AuthFailed, {"consent"}, ""},
      {{{"sec", "1"}, {"mac", macs.at("userpin")}}, {"yes", "1234"}, kOk, {"consent", "pin"}, "0/sec=#1\n"},
      {{{"sec", "1"}, {"mac", macs.at("userpin")}}, {"yes", "1111", "12", "1234"}, kOk,
       {"consent", "pin", "again", "again"}, "0/Access=#0\n"},
      {{{"sec", "1"}, {"mac", macs.at("userpin")}}, {"yes", "1111", "123", "4321"},
       ProvCode::AuthFailed, {"consent", "pin", "again", "again"}, ""},
      {{{"sec", "1"}, {"mac", macs.at("userpin")}}, {"yes", "cancel"}, ProvCode::Cancelled,
       {"consent", "pin"}, ""},
      {{{"sec", "2"}, {"mac", macs.at("usernetwpin")}}, {"yes", "1234"}, kOk, {"consent", "pin"},
       "0/Access=#3\n"},
      {{{"sec", "3"}}, {"yes", macs.at("userpinmac")}, kOk, {"consent", "pin"}, "0/sec=#1\n"},
      {{{"sec", "3"}}, {"yes", "12340000", "1234", "1234567"}, ProvCode::AuthFailed,
       {"consent", "pin", "again", "again"}, ""},
      // A PIN longer than any fixed key buffer: its whole length makes the key.
      {{{"sec", "1"}, {"mac", macs.at("longpin")}},
       {"yes", "12345678901234567890123456789012345678901234567890123456789012345678901234567890"},
       kOk, {"consent", "pin"}, "0/sec=#1\n"},
      {{{"sec", "1"}}, {}, ProvCode::Refused, {}, ""},  // no MAC
      {{{"sec", "7"}, {"mac", macs.at("userpin")}}, {}, ProvCode::Refused, {}, ""},
      {{}, {"no"}, ProvCode::Cancelled, {"consent"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.headers) + " " + testing::PrintToString(c.answers));
    auto headers = c.headers;
    headers.push_back(kInitiator);
    EXPECT_EQ(Provision(headers, c.answers), c.end);
    EXPECT_EQ(asked, c.asked);
    const std::string access = Access();
    if (*c.access)
      EXPECT_NE(access.find(c.access), std::string::npos) << access;
    else
      EXPECT_EQ(access, "");
    std::filesystem::remove("access");
    if (std::filesystem::exists("access")) ADD_FAILURE();
  }
}

// An entry provisioned with security takes no unsecured document; a
// malformed document changes nothing.
TEST_F(ProvTaskTest, RefusalsLeaveTheSettingsAlone) {
  ASSERT_EQ(Provision({kInitiator, {"sec", "3"}}, {"yes", Macs().at("userpinmac")}), kOk);
  EXPECT_TRUE(std::filesystem::exists("access"));
  const std::string before = Access();
  const uint32_t heap = HeapGetStats().freeBytes;
  EXPECT_EQ(Provision({kInitiator}, {}), ProvCode::Refused);
  EXPECT_EQ(Provision({{"X-Wap-Initiator-URI", "http://other.example.net/"}}, {"yes"},
                      "deep.wbxml"),
            ProvCode::Cancelled);
  EXPECT_EQ(Access(), before);
  EXPECT_EQ(HeapGetStats().freeBytes, heap);
}

// The settings store refusing what the document asks of it while parsing
// (a push proxy's folder named by an address longer than any key): its own
// code ends the load, not the user's cancelling.
TEST_F(ProvTaskTest, AStoreErrorWhileParsingIsPassedOn) {
  const Result end = Provision({kInitiator}, {"yes"}, "longppg.wbxml");
  EXPECT_NE(end, ProvCode::Cancelled);
  EXPECT_EQ(end, kStoreBadArg);
  EXPECT_EQ(asked, std::vector<std::string>{"consent"});
  EXPECT_EQ(Access(), "");
}

// The download row frees the item it holds when the next download starts;
// provisioning then holds nothing rather than the freed buffer.
TEST_F(ProvTaskTest, ADownloadFreedByTheRowIsNoLongerHeld) {
  ContentRowsInstall();
  NdwnSetProvisioningHook(&kProvDownloadRow);
  ProvSetHeldItemRelease(NdwnHeldItemFree);
  const auto download = [this](const std::string& bytes) {
    FetchBody body;
    body.body = bytes;
    body.contentType = "application/ndwn";
    driver.Serve("/item", body);
    UrlRequestRec* request = nullptr;
    ASSERT_EQ(UrlRequest(session, "qortest://h/item", 0, nullptr, &request, 0, requester->task(), 0),
              kOk);
    Pump();
    UrlRequestDone(session, request);
    Pump();
  };
  download(std::string("\x16") + std::string(40, 'x'));
  EXPECT_EQ(ProvHeldItemKind(), 5u);
  download("");  // starts, frees the one held, and holds nothing itself
  EXPECT_EQ(NdwnHeldItem(nullptr), nullptr);
  EXPECT_EQ(ProvHeldItemKind(), 0u);
  EXPECT_EQ(ProvHeldItemCheck(1), 0x80550009u);
  download(std::string("\x11") + std::string(40, 'y'));
  EXPECT_EQ(ProvHeldItemKind(), 1u);
  ProvHeldItemFree();
  EXPECT_EQ(NdwnHeldItem(nullptr), nullptr);
  EXPECT_EQ(ProvHeldItemKind(), 0u);
  NdwnSetProvisioningHook(nullptr);
  ProvSetHeldItemRelease(nullptr);
  ContentRowsRemove();
}

// A popup that goes without an answer, because the host's text window
// cannot open or because it is closed under the load, refuses the document.
TEST_F(ProvTaskTest, APopupGoneWithoutAnAnswerRefusesTheDocument) {
  const auto macs = Macs();
  const struct {
    bool failOpen;
    std::vector<std::string> answers, asked;
  } cases[] = {
      {true, {"yes"}, {"consent"}},
      {false, {"close"}, {"closed"}},
      {false, {"yes", "close"}, {"consent", "closed"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.answers));
    window.failOpen = c.failOpen;
    EXPECT_EQ(Provision({kInitiator, {"sec", "1"}, {"mac", macs.at("userpin")}}, c.answers),
              ProvCode::Cancelled);
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(Access(), "");
  }
}

// The load let go while the consent popup shows: the popup closes, the task
// goes, nothing is written.
TEST_F(ProvTaskTest, ALoadClosedAtThePromptTakesItsPopupAlong) {
  Serve({}, 0);
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(Load(&request), kOk);
  for (int i = 0; i < 100000 && !(TskmanFind(Mod::Popup) && PopupShown()); ++i) Step();
  ASSERT_NE(TskmanFind(Mod::Popup), nullptr);
  UrlRequestDone(session, request);
  Pump();
  EXPECT_EQ(TskmanFind(Mod::Popup), nullptr);
  EXPECT_EQ(TskmanFind(Mod::Provisioning), nullptr);
  EXPECT_EQ(Access(), "");
}

// Another module's question already shows when the document's consent
// opens over it, and the load is let go: whichever popup its close takes,
// the one left is answered later, and that answer finds no task gone in its
// place.
TEST_F(ProvTaskTest, ALoadLetGoWhileItsConsentCoversAnotherPopupLeavesNothingToAGoneTask) {
  Recorder other(Mod::TestHarness);
  Pump();
  ASSERT_EQ(PopupConfirm(u"Other?", nullptr, nullptr, other.task()), kOk);
  Pump();
  TskmanTask* first = TskmanFind(Mod::Popup);
  ASSERT_NE(first, nullptr);
  const auto consent = [first]() -> PopupRequest* {
    for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t))
      if (t->id == Mod::Popup && t != first) return static_cast<PopupRequest*>(t->context);
    return nullptr;
  };
  Serve({}, 0);
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(Load(&request), kOk);
  for (int i = 0; i < 100000 && !(consent() && consent()->window); ++i) Step();
  ASSERT_NE(consent(), nullptr);
  LetGo(request);
  EXPECT_EQ(TskmanFind(Mod::Provisioning), nullptr);
  // The user answers what still shows.
  for (int i = 0; i < 4 && TskmanFind(Mod::Popup); ++i) {
    TskmanPost(TskmanFind(Mod::Popup), PwlEvent::PopupCommand, PopupCmd::Accept, 0);
    Pump();
  }
  EXPECT_EQ(TskmanFind(Mod::Popup), nullptr);
  EXPECT_EQ(Access(), "");
}

// A script's dialog shows when a document's question (its consent, or the
// PIN asked after it) opens over it, and the load is let go: the question
// goes with the load, and the script's dialog is on top again, its window
// the active one over the page's, the band its labels, and its answer the
// script's.
class ProvOverScriptTest : public ProvTaskTest {
 protected:
  void SetUp() override {
    ProvTaskTest::SetUp();
    if (HasFatalFailure()) return;
    driver.Serve("/wta.wmlsc", WmlsUnitBody("wta"));
    scriptOwner = std::make_unique<Recorder>(Mod::Performance);
    Pump();
    ASSERT_EQ(UrlSessionCreate(&scriptSession, scriptOwner->task()), kOk);
    ASSERT_EQ(WmlsScriptTaskCreate(&script, scriptOwner->task(), &browser, scriptSession), kOk);
    Pump();
  }
  void TearDown() override {
    WmlsScriptTaskDestroy(&script);
    if (scriptSession) UrlSessionDestroy(scriptSession);
    Pump();
    scriptOwner.reset();
    BenClearVars(&browser);
    ProvTaskTest::TearDown();
  }
  // The question the provisioning task has open; null when none.
  static PopupRequest* Question() {
    TskmanTask* popup = PopupFindFor(TskmanRefOf(TskmanFind(Mod::Provisioning)));
    return popup ? static_cast<PopupRequest*>(popup->context) : nullptr;
  }
  PwlWindow* Active() const {
    PwlWindow* active = nullptr;
    PwlGetActiveWindow(&active);
    return active;
  }

  std::unique_ptr<Recorder> scriptOwner;
  UrlSession* scriptSession = nullptr;
  WmlsScriptTask* script = nullptr;
};

TEST_F(ProvOverScriptTest, ALoadLetGoAtItsQuestionLeavesTheScriptsDialogOnTop) {
  const auto macs = Macs();
  const struct {
    const char* name;
    Headers headers;
    bool pin;  // the consent is accepted and the PIN entry shows when let go
  } cases[] = {
      {"consent", {}, false},
      {"pin", {{"sec", "1"}, {"mac", macs.at("userpin")}}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BenClearVars(&browser);
    scriptOwner->log.clear();
    WmlsPostRun(script, "qortest://h/wta.wmlsc#confirm('Sure?')");
    Pump();
    TskmanTask* dialog = TskmanFind(Mod::Popup);
    ASSERT_NE(dialog, nullptr);
    const TskmanRef scriptPopup = TskmanRefOf(dialog);
    auto* own = static_cast<PopupRequest*>(dialog->context);
    ASSERT_NE(own->window, nullptr);
    const auto labels = Band();
    ASSERT_NE(labels, (std::pair<std::u16string, std::u16string>{}));

    Serve(c.headers, 0);
    UrlRequestRec* request = nullptr;
    ASSERT_EQ(Load(&request), kOk);
    for (int i = 0; i < 100000 && !(Question() && Question()->window); ++i) Step();
    ASSERT_NE(Question(), nullptr);
    ASSERT_EQ(Active(), Question()->window) << "the consent is not on top";
    if (c.pin) {
      TskmanPost(Question()->popupTask, PwlEvent::PopupCommand, PopupCmd::Accept, 0);
      for (int i = 0; i < 100000 && !(Question() && Question()->kind == PopupKind::Text &&
                                      TiwOpenSession());
           ++i)
        Step();
      ASSERT_NE(Question(), nullptr);
      ASSERT_NE(TiwOpenSession(), nullptr) << "the PIN entry does not show";
    }
    LetGo(request);
    EXPECT_EQ(TskmanFind(Mod::Provisioning), nullptr);
    EXPECT_EQ(TiwOpenSession(), nullptr) << "the PIN entry stayed";
    ASSERT_TRUE(TskmanRefAlive(scriptPopup)) << "the script's dialog was closed";
    EXPECT_EQ(TskmanFind(Mod::Popup), scriptPopup.task) << "another popup stands";
    EXPECT_EQ(Active(), own->window) << "the script's dialog is not the active window";
    EXPECT_EQ(own->window->hidden, 0u);
    EXPECT_EQ(own->saved, root);
    EXPECT_EQ(root->hidden, 1u);
    EXPECT_EQ(Band(), labels) << "the band is not the script's dialog's";
    EXPECT_EQ(PopupShowingMark, 1u);
    EXPECT_EQ(scriptOwner->Count(WmlsMsg::End), 0u) << "the script went on";
    // The user answers the script's dialog, and the script has the answer.
    TskmanPost(scriptPopup.task, PwlEvent::PopupCommand, PopupCmd::Accept, 0);
    Pump();
    EXPECT_EQ(TskmanFind(Mod::Popup), nullptr);
    EXPECT_EQ(scriptOwner->Count(WmlsMsg::End), 1u);
    const char16_t* r = BenGetVar(&browser, u"r");
    EXPECT_EQ(std::u16string(r ? r : u"(unset)"), u"true");
    EXPECT_EQ(Active(), root);
    EXPECT_EQ(Access(), "");
    // Whatever a failure left is cleared for the next case.
    while (TskmanFind(Mod::Popup)) {
      PopupClose();
      Pump();
    }
    Tick(static_cast<int>(kPopupWatchMs / kTskmanTickMs) + 1);
    Pump();
  }
}

// A pushed document: placed in the cache as push delivery leaves it, handed
// to the entry point, applied with the sender as its initiator.
TEST_F(ProvTaskTest, APushedDocumentIsAppliedThroughTheEntryPoint) {
  ProvisionPushed({{"sec", "1"}, {"mac", Macs().at("userpin")}}, {"yes", "1234"});
  EXPECT_EQ(asked, (std::vector<std::string>{"consent", "pin"}));
  EXPECT_NE(consentText.find(u"5551234"), std::u16string::npos);
  const std::string access = Access();
  EXPECT_NE(access.find("0/url=5551234\n"), std::string::npos) << access;
  EXPECT_NE(access.find("0/sec=#1\n"), std::string::npos);
  const auto shown = UiEvents(BenMsg::UiNavigate);
  ASSERT_EQ(shown.size(), 1u);
  auto* address = reinterpret_cast<char*>(shown[0].arg1);
  EXPECT_STREQ(address, "file://prov/updated.html");
  MemFree(&address);
  UrlLoadClearFlags(pushed, UrlFlag::Kept);
}

// A document the user accepted that is not applied is said on standard
// error with its sender, whatever stopped it: the settings store's answer
// to its save (the "access" quota cut), as for a page; for a pushed one,
// which has no page to show its failure, anything after the consent, and a
// question memory could not show (which the popup says too). What the user
// let go is not said, and nothing is written.
TEST_F(ProvTaskTest, ADocumentAcceptedButNotAppliedIsSaidWithItsSender) {
  const auto macs = Macs();
  const std::pair<const char*, std::string> sec{"sec", "1"}, mac{"mac", macs.at("userpin")};
  const std::string notApplied = "access: a provisioning document from ";
  const std::string kUnshown =
      "its question could not be shown: not enough memory; it was not applied";
  const struct {
    bool pushed;
    int32_t quota;  // of "access"
    const char* document;  // secured by the user's PIN 1234 when it is the sample one
    std::vector<std::string> answers;
    std::vector<std::string> said;
  } cases[] = {
      {true, 10, "../wbxml/prov.wbxml", {"yes", "1234"},
       {notApplied + "5551234: did not fit its quota; it was not applied"}},
      {false, 10, "../wbxml/prov.wbxml", {"yes", "1234"},
       {notApplied + "push.example.net: did not fit its quota; it was not applied"}},
      {true, 8000, "noap.wbxml", {"yes"},
       {notApplied + "5551234: it names an access point it does not define; it was not applied"}},
      {true, 8000, "../wbxml/prov.wbxml", {"yes", "1111", "12", "4321"},
       {notApplied + "5551234: its PIN or MAC did not match; it was not applied"}},
      {true, 8000, "../wbxml/prov.wbxml", {"yes", "cancel"}, {}},
      {true, 8000, "../wbxml/prov.wbxml", {"no"}, {}},
      // A question memory could not show was never put to the user.
      {true, 8000, "../wbxml/prov.wbxml", {"unbuilt"},
       {NotShown(Consent(u"5551234")), notApplied + "5551234: " + kUnshown}},
      {true, 8000, "../wbxml/prov.wbxml", {"yes", "unbuilt"},
       {NotShown(UiGetString(17, 0)), notApplied + "5551234: " + kUnshown}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pushed ? "pushed " : "page ") + c.document + " " +
                 testing::PrintToString(c.answers));
    const bool secured = std::string(c.document) == "../wbxml/prov.wbxml";
    std::vector<std::pair<const char*, std::string>> headers;
    if (secured) headers = {sec, mac};
    UbstoreSetQuota("access", c.quota);
    ++platform->now;  // a refusal in a second of its own is said at once
    FailureRecord failures;
    if (c.pushed) {
      ProvisionPushed(headers, c.answers, c.document);
      UrlLoadClearFlags(pushed, UrlFlag::Kept);
    } else {
      EXPECT_EQ(Provision({kInitiator, sec, mac}, c.answers, c.document), kUbstoreOverQuota);
    }
    EXPECT_EQ(failures.said, c.said);
    EXPECT_EQ(Access(), "");
    EXPECT_TRUE(UiEvents(BenMsg::UiNavigate).empty());
  }
  UbstoreSetQuota("access", 8000);
}

}  // namespace

namespace {

// The load let go after any number of steps of a secured document (consent,
// PIN, commit): the task, the popup and every record go with it, and the
// settings store is free for the next open.
// Let go in the few steps between the PIN's entry and the popup taking it,
// the entered text goes with the popup.
TEST_F(ProvTaskTest, ALoadLetGoAtAnyStepLeavesNothingBehind) {
  Serve({kInitiator, {"sec", "1"}, {"mac", Macs().at("userpin")}}, 100);
  Access();
  int total = 0;
  for (int steps = 0; steps < 100000; steps += 1 + steps / 64) {
    SCOPED_TRACE(steps);
    const uint32_t heapBefore = HeapGetStats().freeBytes;
    UrlRequestRec* request = nullptr;
    ASSERT_EQ(Load(&request), kOk);
    requester->log.clear();
    std::vector<std::string> answers = {"yes", "1234"};
    bool replied = false;
    bool ended = false;
    for (int i = 0; i < steps && !ended; ++i) {
      Step();
      ended = End() != 1;
      AnswerOnce(answers, replied);
    }
    LetGo(request);
    requester->log.clear();
    EXPECT_EQ(TskmanFind(Mod::Provisioning), nullptr);
    EXPECT_EQ(TskmanFind(Mod::Popup), nullptr);
    // Whatever was written is read back: the store answers the next open.
    Access();
    EXPECT_EQ(HeapGetStats().freeBytes, heapBefore) << "after " << steps << " steps";
    ++total;
    if (ended) break;
  }
  EXPECT_GT(total, 10);
}

}  // namespace

namespace {

// The load let go just after the PIN popup has answered, its answer not yet
// taken: the entered text is freed with the context, not lost.
TEST_F(ProvTaskTest, ALoadLetGoWithThePinAnswerOnItsWayLosesNothing) {
  Serve({kInitiator, {"sec", "1"}, {"mac", Macs().at("userpin")}}, 0);
  Access();
  const uint32_t heapBefore = HeapGetStats().freeBytes;
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(Load(&request), kOk);
  std::vector<std::string> answers = {"yes", "1234"};
  bool replied = false;
  for (int i = 0; i < 100000 && !answers.empty(); ++i) {
    Step();
    AnswerOnce(answers, replied);
  }
  ASSERT_TRUE(answers.empty());
  // The popup takes the text and answers, and is gone; the answer waits.
  for (int i = 0; i < 100000 && TskmanFind(Mod::Popup); ++i) Step();
  ASSERT_EQ(TskmanFind(Mod::Popup), nullptr);
  LetGo(request);
  EXPECT_EQ(TskmanFind(Mod::Provisioning), nullptr);
  EXPECT_NE(Access(), "(not opened)");
  EXPECT_EQ(HeapGetStats().freeBytes, heapBefore);
}

// A pushed document with the heap running out at any point is applied, or
// its question put (a question the popups cannot show refuses it, as the
// user would), or it is said once with its sender: a push has no page to
// show its failure.
TEST_F(ProvTaskTest, APushedDocumentShortOfMemoryIsAppliedAskedOrSaid) {
  const std::vector<std::pair<const char*, std::string>> headers = {{"sec", "1"},
                                                                    {"mac", Macs().at("userpin")}};
  const PinnedWorkBuffer pinned;
  uint32_t applied = 0, said = 0;
  for (uint32_t spare = 0; spare < (32u << 10); spare += 32) {
    SCOPED_TRACE(spare);
    std::string name;
    ASSERT_NO_FATAL_FAILURE(PlacePushed(headers, "../wbxml/prov.wbxml", &name));
    ++platform->now;  // a refusal in a second of its own is said at once
    FailureRecord failures;
    // Straight from the heap, which evicts nothing: the cache keeps the
    // push, as the inbox that hands it on does.
    void* filler = HeapBlockAlloc(HeapGetStats().largestFree - 64 - spare);
    if (!filler) {  // the heap has no more to give
      UrlLoadClearFlags(pushed, UrlFlag::Kept);
      break;
    }
    EXPECT_NE(ProvProvisionPushed(name.c_str()), ProvCode::Refused);
    std::vector<std::string> answers = {"yes", "1234"};
    bool popup = false;
    for (int i = 0; i < 400000 && TskmanFind(Mod::Provisioning); ++i) {
      Step();
      popup = popup || TskmanFind(Mod::Popup);
      if (TskmanFind(Mod::Popup) && !answers.empty() && PopupShown()) {
        Answer(answers.front());
        answers.erase(answers.begin());
      }
    }
    MemFree(&filler);
    Pump();
    Tick(static_cast<int>(kPopupWatchMs / kTskmanTickMs) + 1);
    Pump();
    UrlLoadClearFlags(pushed, UrlFlag::Kept);
    if (Access().find("0/url=5551234\n") != std::string::npos) {
      ++applied;
      EXPECT_TRUE(failures.said.empty());
      std::remove("access");
    } else if (!popup || !failures.said.empty()) {
      ++said;
      // Once with its sender; a question memory could not show is said by
      // the popups too.
      uint32_t document = 0;
      for (const std::string& line : failures.said)
        if (line.rfind("access: a provisioning document from ", 0) == 0)
          ++document;
        else
          EXPECT_EQ(line.rfind("a popup could not be shown for want of memory", 0), 0u) << line;
      EXPECT_EQ(document, 1u) << (popup ? "asked" : "not asked");
    }
  }
  EXPECT_GT(applied, 0u);
  EXPECT_GT(said, 0u);
}

// A flood of pushed documents the heap cannot take is said a line a second,
// as pushes lost for want of memory are: the first of a second with its
// sender, those after it counted into the next second's line, the rest at
// the browser's end.
TEST_F(ProvTaskTest, DocumentsRefusedShortOfMemoryAreSaidALineASecond) {
  const std::string one =
      "access: a provisioning document from an unknown sender: not enough memory; it was not "
      "applied";
  auto counted = [](int n) {
    return "access: " + std::to_string(n) +
           " provisioning documents: not enough memory; they were not applied";
  };
  const struct {
    int seconds;  // the clock goes on by these first
    int refused;
    std::vector<std::string> said;
  } steps[] = {
      {1, 3, {one}},
      {0, 2, {}},
      {1, 1, {counted(5)}},
      {0, 2, {}},
      {5, 0, {}},
  };
  FailureRecord failures;
  for (const auto& step : steps) {
    SCOPED_TRACE(testing::Message() << "+" << step.seconds << "s, " << step.refused);
    platform->now += step.seconds;
    failures.said.clear();
    for (int i = 0; i < step.refused; ++i) {
      std::string name;
      ASSERT_NO_FATAL_FAILURE(PlacePushed({}, "../wbxml/prov.wbxml", &name));
      std::vector<void*> eaten = EatHeap(0);
      EXPECT_EQ(ProvProvisionPushed(name.c_str()), ProvCode::NoMemory);
      for (void* p : eaten) MemFree(&p);
      UrlLoadClearFlags(pushed, UrlFlag::Kept);
    }
    EXPECT_EQ(failures.said, step.said);
  }
  failures.said.clear();
  ProvEndUnanswered();
  ProvBeginAsking();
  EXPECT_EQ(failures.said, std::vector<std::string>{counted(2)});
}

// A document applied with the heap running out at any point: it is applied
// or ends with a code, and either way nothing of it stays and the settings
// store is free for the next open.
TEST_F(ProvTaskTest, RunningOutOfMemoryAnywhereLeavesNothingBehind) {
  Serve({kInitiator, {"sec", "1"}, {"mac", Macs().at("userpin")}}, 100);
  Access();
  const PinnedWorkBuffer pinned;
  bool applied = false;
  uint32_t failed = 0;
  for (uint32_t spare = 0; spare < (64u << 10) && !applied; spare += 16) {
    SCOPED_TRACE(spare);
    const uint32_t heapBefore = HeapGetStats().freeBytes;
    void* filler = MemAlloc(HeapGetStats().largestFree - 64 - spare, Use::Data, Mod::TestCode);
    if (!filler) continue;
    UrlRequestRec* request = nullptr;
    if (Load(&request) == kOk) {
      requester->log.clear();
      std::vector<std::string> answers = {"yes", "1234"};
      bool replied = false;
      Result end = 1;
      for (int i = 0; i < 400000 && end == 1; ++i) {
        Step();
        end = End();
        AnswerOnce(answers, replied);
      }
      if (end == kOk) applied = true;
      if (end != kOk && end != 1) ++failed;
      UrlRequestDone(session, request);
    }
    MemFree(&filler);
    Pump();
    Tick(static_cast<int>(kPopupWatchMs / kTskmanTickMs) + 1);
    Pump();
    requester->log.clear();
    EXPECT_EQ(TskmanFind(Mod::Provisioning), nullptr);
    EXPECT_EQ(TskmanFind(Mod::Popup), nullptr);
    EXPECT_NE(Access(), "(not opened)");
    EXPECT_EQ(HeapGetStats().freeBytes, heapBefore);
  }
  EXPECT_TRUE(applied);
  EXPECT_GT(failed, 0u);
}

}  // namespace
