// Business cards and calendars: the parsers' trees, the vCard and vCalendar
// rows through the real URL task, and the addrbook: and calendar: links.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "browser/url.h"
#include "content/content_rows.h"
#include "content/vcalca.h"
#include "kernel/config.h"
#include "host/platform/handset.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/tskman.h"
#include "kernel/mem.h"
#include "kernel/uistring.h"
#include "tests/content/content_harness.h"
#include "tests/support/engine_fixture.h"
#include "tests/content/rows_fixture.h"

namespace {

// UTF-8 to UTF-16 and back, for texts of the basic plane.
std::u16string U16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    const int more = c < 0x80 ? 0 : c < 0xE0 ? 1 : 2;
    char16_t u = more == 0 ? c : more == 1 ? c & 0x1F : c & 0x0F;
    for (int k = 0; k < more; ++k) u = static_cast<char16_t>(u << 6 | (s[++i] & 0x3F));
    out += u;
  }
  return out;
}

std::string Utf8(const char16_t* w) {
  std::string out;
  for (; w && *w; ++w) {
    const char16_t c = *w;
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    if (c >= 0x800) out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(c < 0x800 ? 0xC0 | c >> 6 : 0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

std::string FromFile(const std::string& name) {
  const std::vector<uint8_t> bytes = ReadDataFile("vcalca/" + name);
  return std::string(bytes.begin(), bytes.end());
}

class VcalcaTest : public EngineFixture {
 protected:
  VcalcaTest() : EngineFixture(4u << 20) {}
  void SetUp() override {
    EngineFixture::SetUp();
    ASSERT_EQ(ConfigCreate(&tree), kOk);
  }
  void TearDown() override {
    ConfigFreeHandle(&tree);
    EngineFixture::TearDown();
  }
  Result Parse(bool calendar, const std::string& text) {
    const std::u16string w = U16(text);
    return (calendar ? VcalParse : VcardParse)(w.data(), static_cast<uint32_t>(w.size()), tree);
  }
  // The tree's text at the path, "<flag>" for a flag, "<none>" when absent.
  std::string At(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = path.substr(0, slash), leaf = path.substr(slash + 1);
    if (ConfigOpenPath(tree, folder.c_str(), 0, false) != kOk) return "<none>";
    std::string out = "<none>";
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    ConfigKind kind{};
    const char16_t* w = nullptr;
    if (ConfigGetRaw(tree, leaf.c_str(), 0, &data, &size, &kind) == kOk)
      out = kind == ConfigKind::Int ? "<flag>"
            : ConfigGetWString(tree, leaf.c_str(), 0, &w) == kOk ? Utf8(w) : "<other>";
    ConfigClose(tree, false);
    return out;
  }
  ConfigHandle* tree = nullptr;
};

// Each body's tree, by path: "<flag>" a flag, "<none>" absent.
TEST_F(VcalcaTest, BodiesFillTheirTrees) {
  const std::string april = Utf8(UiGetString(11, 3));
  struct Case {
    bool calendar;
    std::string body;
    Result result;
    std::vector<std::pair<std::string, std::string>> rows;
  };
  const Case cases[] = {
      {false, FromFile("two_cards.vcf"), kOk,
       {{"vcard/1/first", "<flag>"},
        {"vcard/1/name", "Dr. John Q Doe Jr."},
        {"vcard/1/phone/1/default", "<none>"},  // taken over by the preferred one
        {"vcard/1/phone/default/=", "+1 555 0100"},
        {"vcard/1/address/3", "12 Main St\r\nSuite 5"},
        {"vcard/1/title", "Ingénieur"},
        {"vcard/2/name", "Ann Smith"},  // FN wins over the N after it
        {"vcard/3/name", "<none>"}}},
      // An agent's card inside is not recorded and the outer one resumes.
      {false, "BEGIN:VCARD\nFN:Boss\nAGENT:\nBEGIN:VCARD\nFN:Sec\nTEL:9\nEND:VCARD\nTEL:1\nEND:VCARD\n",
       kOk, {{"vcard/1/phone/default/=", "1"}, {"vcard/2/name", "<none>"}}},
      {false, "END:VCARD\n", kVcardBadStructure, {}},
      {true, FromFile("lunch.vcs"), kOk,
       {{"vcal/1/entity/1/event", "<flag>"},
        {"vcal/1/entity/1/summary", "Lunch with Ann"},
        {"vcal/1/entity/1/date/start", "27 " + april + " 2004 09:30:00"},
        {"vcal/1/entity/1/location", "Café <Central>"},
        {"vcal/1/entity/1/organizer/cn", "ANN"},
        {"vcal/1/entity/2/date/due", "30 " + april + " 2004"}}},
      {true, FromFile("ical.ics"), kOk,
       {{"vcal/1/entity/1/dateval/start", "20041224"},
        {"vcal/1/entity/1/durationsec", "86400"},
        {"vcal/1/entity/1/description", "<none>"},     // the alarm's, passed over
        {"vcal/1/entity/2/summary",
         "Stand-up meeting with a summary that is long and folded onto a second line"}}},
      // A quoted-printable soft break also joins a next line that starts with a blank.
      {true,
       "BEGIN:VCALENDAR\nBEGIN:VEVENT\nSUMMARY;ENCODING=QUOTED-PRINTABLE:Lunch=20time\n"
       "LOCATION;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:Z=FCrich=\n Hbf\n"
       "DTSTART;VALUE=DATE:20040427T093000\nTIME:093000\nDURATION:-PT15M\nEND:VEVENT\nEND:VCALENDAR\n",
       kOk,
       {{"vcal/1/entity/1/summary", "Lunch time"},
        {"vcal/1/entity/1/location", "Zürich Hbf"},
        {"vcal/1/entity/1/time", "09:30:00"},
        {"vcal/1/entity/1/durationsec", "-900"}}},
      {true, "BEGIN:VCALENDAR\nBEGIN:VEVENT\nDTSTART:20041327T000000\nEND:VEVENT\nEND:VCALENDAR\n",
       kVcalBadDate, {}},
      // Components of real files the page does not show are passed over;
      // escapes are resolved in values with parameters too; an e-mail
      // without parameters is an Internet address.
      {true,
       "BEGIN:VCALENDAR\nBEGIN:VJOURNAL\nSUMMARY:Diary\nEND:VJOURNAL\nBEGIN:VEVENT\n"
       "SUMMARY;LANGUAGE=en:Lunch\\, Ann\nBEGIN:VALARM\nDESCRIPTION:Ring\nEND:VALARM\nEND:VEVENT\n"
       "END:VCALENDAR\n",
       kOk,
       {{"vcal/1/entity/1/summary", "Lunch, Ann"}, {"vcal/1/entity/1/description", "<none>"}}},
      {false, "BEGIN:VCARD\nEMAIL:ann@example.net\nEMAIL;HOME:x@example.net\nEND:VCARD\n", kOk,
       {{"vcard/1/email/=", "ann@example.net"}, {"vcard/1/email/2/=", "<none>"}}},
      // Any other component breaks the structure, a nested calendar too.
      {true, "BEGIN:VCALENDAR\nBEGIN:VCALENDAR\nEND:VCALENDAR\nEND:VCALENDAR\n", kVcardBadStructure, {}},
      {true, "BEGIN:VCALENDAR\nBEGIN:VEVENT\nBEGIN:VCALENDAR\nEND:VCALENDAR\nEND:VEVENT\nEND:VCALENDAR\n",
       kVcardBadStructure, {}},
      {true, "BEGIN:VCALENDAR\nBEGIN:VNOTE\nEND:VNOTE\nEND:VCALENDAR\n", kVcardBadStructure, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 60));
    ConfigFreeHandle(&tree);
    ASSERT_EQ(ConfigCreate(&tree), kOk);
    EXPECT_EQ(Parse(c.calendar, c.body), c.result);
    for (const auto& [path, value] : c.rows) EXPECT_EQ(At(path), value) << path;
  }
}

class VcalcaRowsTest : public RowsFixture {
 protected:
  // The filled page (UTF-16 output as UTF-8), or the failure.
  std::string Fetch(const std::string& type, const std::string& bytes, uint32_t block,
                    Result* failure = nullptr) {
    std::u16string page;
    const Ended ended = Serve(type, bytes, block, true, 0, [&](UrlRequestRec* request) {
      const std::string& raw = requester->received[request];
      page.resize(raw.size() / 2);
      memcpy(page.data(), raw.data(), page.size() * 2);
    });
    if (failure) *failure = ended.failure;
    EXPECT_TRUE(ended.complete || ended.failure);
    return Utf8(page.c_str());
  }
};

TEST_F(VcalcaRowsTest, PagesShowEveryEntryInEveryDelivery) {
  const std::string file = FromFile("two_cards.vcf");
  const std::string whole = Fetch("text/x-vcard", file, 0);
  EXPECT_NE(whole.find("<b>Dr. John Q Doe Jr.</b>"), std::string::npos) << whole;
  EXPECT_LT(whole.find("Dr. John"), whole.find("Ann Smith"));
  // Markup in a field is shown, not obeyed.
  EXPECT_NE(whole.find("Acme &lt;b&gt;Labs&lt;/b&gt;"), std::string::npos);
  EXPECT_NE(whole.find("addrbook://add?name=Ann%20Smith&amp;number=0700%20123&amp;"),
            std::string::npos);
  EXPECT_EQ(whole.find("[$"), std::string::npos);
  for (uint32_t block : {1u, 7u}) EXPECT_EQ(Fetch("text/vcard", file, block), whole) << block;
  // The calendar page keeps its template's links.
  const std::string page = Fetch("text/x-vcalendar", FromFile("lunch.vcs"), 5);
  EXPECT_NE(page.find("Where: Café &lt;Central&gt;"), std::string::npos);
  EXPECT_NE(page.find("dtstart=20040427T093000&amp;dtend=20040427T103000"), std::string::npos);
  const std::string april = Utf8(UiGetString(11, 3));
  EXPECT_NE(page.find("Starts: 27 " + april + " 2004 09:30:00<br/>"), std::string::npos);
  const std::string ical = Fetch("text/x-vcalendar", FromFile("ical.ics"), 0);
  EXPECT_NE(ical.find("<b>Christmas Eve</b>"), std::string::npos) << ical;
  EXPECT_EQ(ical.find("Alarm text"), std::string::npos);
}

TEST_F(VcalcaRowsTest, BrokenBodiesFailCleanlyEmptyOnesShowAnEmptyPage) {
  const std::u16string text = u"\uFEFFBEGIN:VCARD\r\nFN:Zoë\r\nEND:VCARD\r\n";
  std::string utf16;  // big-endian with a byte order mark
  for (char16_t c : text) utf16 += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
  EXPECT_NE(Fetch("text/x-vcard", utf16, 3).find("<b>Zoë</b>"), std::string::npos);
  // Without a mark or a charset parameter, UTF-16 shows by its zero bytes.
  std::string le = utf16.substr(2), be = utf16.substr(2);
  for (size_t i = 0; i + 1 < le.size(); i += 2) std::swap(le[i], le[i + 1]);
  EXPECT_NE(Fetch("text/x-vcard", be, 0).find("<b>Zoë</b>"), std::string::npos);
  std::string calendar;
  for (char c : std::string("BEGIN:VCALENDAR\nBEGIN:VTODO\nSUMMARY:Tea\nEND:VTODO\n")) calendar += {c, '\0'};
  const std::string todo = Fetch("text/x-vcalendar", calendar, 5);
  EXPECT_NE(todo.find("<b>Tea</b>"), std::string::npos) << todo;
  EXPECT_NE(Fetch("text/x-vcard", le, 1).find("<b>Zoë</b>"), std::string::npos);
  Result failure = 0;
  Fetch("text/x-vcard", "END:VCARD\r\n", 0, &failure);
  EXPECT_EQ(failure, kVcardBadStructure);
  // A body past the row's room is refused as one the row has no memory for.
  const std::string huge = "BEGIN:VCARD\r\nNOTE:" + std::string(1u << 20, 'x') + "\r\nEND:VCARD\r\n";
  Fetch("text/x-vcard", huge, 0, &failure);
  EXPECT_EQ(failure, kVcardNoMemory);
  Fetch("text/x-vcalendar", "BEGIN:VCALENDAR\r\nX:" + std::string(1u << 20, 'x'), 0, &failure);
  EXPECT_EQ(failure, kVcalNoMemory);
  const std::string empty = Fetch("text/x-vcard", "", 0, &failure);
  EXPECT_EQ(failure, 0u);
  EXPECT_NE(empty.find("Business card"), std::string::npos);
  EXPECT_EQ(empty.find("addrbook:"), std::string::npos);
}

// The "vc" source answering every value later, from a task of its own: the
// row holds the load until its page is whole.
TskmanTask* gLateTask = nullptr;
namespace LateMsg {
constexpr uint32_t Single = 0x7100, Step = 0x7101, Done = 0x7102;
}

Result LateHandler(void*, uint32_t message, uintptr_t cell, uintptr_t value) {
  if (message == LateMsg::Single) VarParseValueReady(nullptr, reinterpret_cast<void*>(value));
  if (message == LateMsg::Step)
    VarParseValueReady(reinterpret_cast<void*>(cell), reinterpret_cast<void*>(value));
  if (message == LateMsg::Done) VarParseSourceDone(reinterpret_cast<void*>(cell));
  return kOk;
}

void* Later(uint32_t* pending, uint32_t message, void* cell, void* value) {
  *pending = 1;
  TskmanPost(gLateTask, message, reinterpret_cast<uintptr_t>(cell), reinterpret_cast<uintptr_t>(value));
  return nullptr;
}

void* LateOpen(const char* name, void** holder, VarParseJob* job, uint32_t* charset,
               uint32_t* pending) {
  void* value = kVcSourceRow.open(name, holder, job, charset, pending);
  if (!holder) return Later(pending, LateMsg::Single, nullptr, value);
  return value ? Later(pending, LateMsg::Step, *holder, value) : nullptr;
}
void* LateNext(void* loop, uint32_t* pending) {
  void* value = kVcSourceRow.next(loop, pending);
  return Later(pending, value ? LateMsg::Step : LateMsg::Done, loop, value);
}
void* LateProperty(void* loop, const char* name, uint32_t* pending) {
  return Later(pending, LateMsg::Step, loop, kVcSourceRow.getProperty(loop, name, pending));
}
const VarParseSource kLateSources[] = {
    {"vc", LateOpen, LateNext, kVcSourceRow.close, LateProperty},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

TEST_F(VcalcaRowsTest, PagesWaitForSourcesThatAnswerLater) {
  const std::string file = FromFile("two_cards.vcf");
  const std::string whole = Fetch("text/x-vcard", file, 0);
  ASSERT_EQ(TskmanCreateTask(&gLateTask, Mod::TestCode, LateHandler, nullptr), kOk);
  const VarParseSource* old = VarParseInstallSources(kLateSources);
  EXPECT_EQ(Fetch("text/x-vcard", file, 0), whole);
  VarParseInstallSources(old);
  TskmanDestroyTask(gLateTask);
  Pump();
}

}  // namespace

namespace {

// What the handset stored: "pb:name|number|email|address" or
// "cal:texts|type:seconds of each time|duration".
std::vector<std::string>* gStored = nullptr;

Result RecordPhonebook(TskmanTask* task, uintptr_t, PhonebookRecord* e) {
  gStored->push_back("pb:" + Utf8(e->name) + "|" + Utf8(e->number) + "|" + Utf8(e->email) + "|" +
                     Utf8(e->address));
  for (char16_t** field : {&e->name, &e->number, &e->email, &e->address}) MemFree(field);
  MemFree(&e);
  TskmanPost(task, 0x2000, 0, 0);
  return kOk;
}

Result RecordCalendar(TskmanTask* task, void** slots) {
  auto* e = reinterpret_cast<VcCalendarEntry*>(slots);
  std::string out = "cal:";
  for (char16_t* t : e->texts) out += Utf8(t) + "|";
  for (int i = 0; i < 4; ++i)
    out += std::to_string(e->types[i]) + ":" + std::to_string(e->times[i]) + "|";
  gStored->push_back(out + std::to_string(e->duration));
  LibcFreePtrArray(&slots);
  TskmanPost(task, 0x0C00, 0x8000, 0);
  return kOk;
}

}  // namespace

class VcalcaSchemeTest : public VcalcaRowsTest {
 protected:
  void SetUp() override {
    VcalcaRowsTest::SetUp();
    gStored = &stored;
    ops.pbWrite = RecordPhonebook;
    ops.calendarAddStub = RecordCalendar;
    old = HandsetInstall(&ops);
  }
  void TearDown() override {
    HandsetInstall(old);
    gStored = nullptr;
    VcalcaRowsTest::TearDown();
  }
  Result Load(const std::string& url) {
    const Result failed = RowsFixture::Load(url, 0, [&](UrlRequestRec* request) {
      if (!requester->Count(UrlMsg::Failed)) {
        EXPECT_EQ(UrlLoadStatus(request), kUrlStatusKeptOut);
      }
    }).failure;
    EXPECT_EQ(TskmanFind(Mod::WtlVcard), nullptr);  // the answer ended the task
    EXPECT_EQ(TskmanFind(Mod::WtlVcal), nullptr);
    return failed;
  }
  std::vector<std::string> stored;
  HandsetOps ops{};
  const HandsetOps* old = nullptr;
};

// Links reach the phonebook or the calendar with exactly their fields.
TEST_F(VcalcaSchemeTest, LinksReachTheHandsetWithExactlyTheirFields) {
  struct Row {
    const char* url;
    Result result;
    const char* entry;  // null: none made
  };
  const Row rows[] = {
      {"addrbook://add?name=Ann&number=123", kOk, "pb:Ann|123||"},
      {"addrbook://ADD?NAME=Caf%C3%A9+Bar&email=a%40b.c&address=1+Main", kOk, "pb:Café Bar||a@b.c|1 Main"},
      {"addrbook://add?number=1", kVcardBadInput, nullptr},
      {"addrbook://add?name=A&fax=1", kVcardBadInput, nullptr},
      // A name names the field it begins; an empty name none. An empty name
      // value is a name: the phonebook judges it.
      {"addrbook://add?NA=Ann&nUm=1&e=x&ADDR=", kOk, "pb:Ann|1|x|"},
      {"addrbook://add?name=&number=1", kOk, "pb:|1||"},
      {"addrbook://add?name=A&=1", kVcardBadInput, nullptr},
      {"addrbook://add?name=A&names=1", kVcardBadInput, nullptr},
      {"calendar://add?summary=Lunch&dtstart=20040427T120000&duration=3600", kOk,
       "cal:|Lunch|||||||2:1083067200|0:0|0:0|0:0|3600"},
      {"calendar://ADD?location=Caf%C3%A9&due=20040430&Contact=Bob", kOk,
       "cal:Café|||||||Bob|0:0|0:0|1:1083283200|0:0|-1"},
      {"calendar://add?dtstart=2004", kVcalBadInput, nullptr},
      {"calendar://add?duration=1h", kVcalBadInput, nullptr},
      // Times are 64-bit: dates past 2038 and before 1901 keep their seconds.
      {"calendar://add?dtstart=20500101&dtend=20380119T031408&due=18991231T235959", kOk,
       "cal:||||||||1:2524608000|2:2147483648|2:-2208988801|0:0|-1"},
      {"calendar://add?SUM=Trip&loc=&dtst=20040427&du=20040430&dur=60", kOk,
       "cal:|Trip|||||||1:1083024000|0:0|1:1083283200|0:0|60"},
      // A time shorter than a date fails, an empty one too.
      {"calendar://add?summary=Trip&dtstart=", kVcalBadInput, nullptr},
      {"calendar://add?summary=Trip&dtend=2004042", kVcalBadInput, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.url);
    stored.clear();
    EXPECT_EQ(Load(row.url), row.result);
    EXPECT_EQ(stored, row.entry ? std::vector<std::string>{row.entry} : std::vector<std::string>{});
  }
}

// The pages' links carry every field to the handset exactly as the body gave
// it, whatever characters it holds; an empty field is left out of the link.
TEST_F(VcalcaSchemeTest, PageLinksDeliverExactlyTheBodysFields) {
  struct Case {
    const char* type;
    const char* scheme;
    std::string body;
    std::string entry;
  };
  const Case cases[] = {
      {"text/x-vcard", "addrbook:",
       "BEGIN:VCARD\r\nFN:Ann & Bob = \"#1\" 100% +café <i>\r\nTEL;PREF;VOICE:+44 20 7946 0000\r\n"
       "EMAIL;INTERNET:a+b@example.org\r\nADR:;;#5 Rue = Ñ;Paris;;75001;FR\r\nEND:VCARD\r\n",
       "pb:Ann & Bob = \"#1\" 100% +café <i>|+44 20 7946 0000|a+b@example.org|;;#5 Rue = Ñ;Paris;;75001;FR"},
      {"text/x-vcalendar", "calendar:",
       "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nSUMMARY;ENCODING=QUOTED-PRINTABLE:Tea & cake =3D 50% +tip #2 =C3=A9t=C3=A9\r\n"
       "DTSTART:20500101T120000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
       "cal:|Tea & cake = 50% +tip #2 été|||||||2:2524651200|0:0|0:0|0:0|-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const std::string page = Fetch(c.type, c.body, 0);
    const size_t from = page.find(std::string("href=\"") + c.scheme);
    ASSERT_NE(from, std::string::npos) << page;
    std::string url = page.substr(from + 6, page.find('"', from + 6) - from - 6);
    for (size_t at; (at = url.find("&amp;")) != std::string::npos;) url.replace(at, 5, "&");
    stored.clear();
    EXPECT_EQ(Load(url), kOk) << url;
    EXPECT_EQ(stored, std::vector<std::string>{c.entry}) << url;
  }
}

TEST_F(VcalcaSchemeTest, WithoutAHandsetTheLinkFailsAndNothingIsLeft) {
  HandsetInstall(nullptr);
  EXPECT_EQ(Load("addrbook://add?name=Ann&number=1"), kHandsetNone);
  EXPECT_EQ(Load("calendar://add?summary=Lunch"), kHandsetNone);
  EXPECT_TRUE(stored.empty());
}
