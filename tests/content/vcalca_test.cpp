// Business cards and calendars: the text routines the parsers share, the
// "vc" variable source over a parsed tree, and the vCard and vCalendar rows
// through the real URL task and the fetch driver, each filled page checked
// as text; the heap is whole after every load.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "browser/url.h"
#include "content/content_rows.h"
#include "content/vcalca.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "host/platform/handset.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/tskman.h"
#include "kernel/mem.h"
#include "kernel/uistring.h"
#include "markup/template_page.h"
#include "markup/varparse.h"
#include "tests/content/content_harness.h"
#include "tests/support/engine_fixture.h"
#include "tests/content/rows_fixture.h"

namespace {

std::u16string U16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out += c;
      ++i;
    } else if ((c & 0xE0) == 0xC0) {
      out += static_cast<char16_t>(((c & 0x1F) << 6) | (s[i + 1] & 0x3F));
      i += 2;
    } else {
      out += static_cast<char16_t>(((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F));
      i += 3;
    }
  }
  return out;
}

std::string Utf8(const char16_t* w) {
  std::string out;
  for (; w && *w; ++w) {
    const char16_t c = *w;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
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
  Result ParseCard(const std::string& text) {
    const std::u16string w = U16(text);
    return VcardParse(w.data(), static_cast<uint32_t>(w.size()), tree);
  }
  Result ParseCal(const std::string& text) {
    const std::u16string w = U16(text);
    return VcalParse(w.data(), static_cast<uint32_t>(w.size()), tree);
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
    if (ConfigGetRaw(tree, leaf.c_str(), 0, &data, &size, &kind) == kOk) {
      if (kind == ConfigKind::Int) out = "<flag>";
      if (kind == ConfigKind::Folder) out = "<folder>";
      const char16_t* w = nullptr;
      if (kind == ConfigKind::WString && ConfigGetWString(tree, leaf.c_str(), 0, &w) == kOk)
        out = Utf8(w);
    }
    ConfigClose(tree, false);
    return out;
  }
  ConfigHandle* tree = nullptr;
};

// --- Field routines (query fields, flags and addresses are read through the
// links and the card tables below) ---------------------------------------------

TEST_F(VcalcaTest, NamesAreFormattedFromTheirParts) {
  const std::pair<const char*, const char*> rows[] = {
      {"Doe;John;Q;Dr.;Jr.", "Dr. John Q Doe Jr."},
      {"Doe;John", "John Doe"},
      {";;;;", ""},
      {"Solo", "Solo"},
  };
  for (const auto& [in, out] : rows) {
    const std::u16string w = U16(in);
    char16_t* name = VcFormatName(w.c_str(), Mod::WtlVcard);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(Utf8(name), out);
    MemFree(&name);
  }
}

// --- The "vc" source over a parsed tree -------------------------------------------------

class VcSourceTest : public VcalcaTest {
 protected:
  // The template filled from the tree, as UTF-8.
  std::string Fill(const std::string& text) {
    VcClient* client = VcClientNew(tree, Mod::WtlVcard);
    EXPECT_NE(client, nullptr);
    VarParseJob* job = nullptr;
    EXPECT_EQ(VarParseCreate(&job, 0, client), kOk);
    VarParseSetSources(job, kVcSources);
    Queue out{};
    VarParseSetSink(job, &out);
    VarParseFeed(job, UtilDataChunkNew(reinterpret_cast<const uint8_t*>(text.data()),
                                       static_cast<uint32_t>(text.size()), Mod::TestCode));
    VarParseClose(&job);
    VcClientFree(&client);
    std::u16string page(UtilDataChunkQueueBytes(&out) / 2, u'\0');
    UtilDataChunkTake(&out, reinterpret_cast<uint8_t*>(page.data()),
                      static_cast<uint32_t>(page.size() * 2));
    UtilDataChunkFreeQueue(&out);
    return Utf8(page.c_str());
  }
};

TEST_F(VcSourceTest, NamesArePathsIntoTheTreeAndLoopsWalkNumberedFolders) {
  ASSERT_EQ(ParseCard("BEGIN:VCARD\nFN:Ann & <Co>\nADR:;;1 Main;Town\nTEL;PREF:1\nTEL:2\n"
                      "END:VCARD\nBEGIN:VCARD\nN:Roe;Bob\nEND:VCARD\n"),
            kOk);
  const uint32_t heap = HeapGetStats().freeBytes;
  struct Row {
    const char* text;
    const char* page;
  };
  const Row rows[] = {
      {"[$for:vc.vcard$]<[$vc.vcard$]:[$vc.vcard.name$]>[$/for$]", "<1:Ann &amp; &lt;Co&gt;><2:Bob Roe>"},
      {"[$for:vc.vcard$][$vc.vcard.address$]|[$vc.vcard.address.3$][$/for$]", ";;1 Main;Town|1 Main|"},
      {"[$for:vc.vcard$]([$vc.vcard.phone.1.pref$],[$vc.vcard.phone.2.pref$])[$/for$]", "(pref,)(,)"},
      {"[$for:vc.vcard.phone$]x[$/for$]", ""},  // no item 1 outside a card
      {"[$for:vc.vcard$][$for:vc.vcard.phone$][$vc.vcard.phone$]=[$vc.vcard.phone.=$]:[$/for$];[$/for$]",
       "1=1:2=2:;;"},
      {"[$for:vc.nothing$]x[$/for$]", ""},
      {"[$vc.vcard.1.name$]/[$vc.vcard.2.first$]/[$vc.vcard.1.first$]", "Ann &amp; &lt;Co&gt;//first"},
      {"[$vc.vcard.1.aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.x$]", ""},
      {"[$vc.vcard.1.averyveryverylongleafname$]", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(Fill(row.text), row.page);
    EXPECT_EQ(HeapGetStats().freeBytes, heap);
  }
}

// --- The vCard parser ----------------------------------------------------------------

TEST_F(VcalcaTest, TwoCardsFillTheirFolders) {
  ASSERT_EQ(ParseCard(FromFile("two_cards.vcf")), kOk);
  const std::pair<const char*, const char*> rows[] = {
      {"vcard/1/first", "<flag>"},
      {"vcard/1/name", "Dr. John Q Doe Jr."},
      {"vcard/1/phone/1/=", "02 555-1234"},
      {"vcard/1/phone/1/work", "<flag>"},
      {"vcard/1/phone/1/default", "<none>"},  // taken over by the preferred one
      {"vcard/1/phone/2/=", "+1 555 0100"},
      {"vcard/1/phone/2/pref", "<flag>"},
      {"vcard/1/phone/2/default", "<flag>"},
      {"vcard/1/phone/default/=", "+1 555 0100"},
      {"vcard/1/phone/default/home", "<flag>"},
      {"vcard/1/phone/default/work", "<none>"},
      {"vcard/1/phone/3/fax", "<flag>"},
      {"vcard/1/phone/3/default", "<none>"},
      {"vcard/1/phone/work", "02 555-1234"},
      {"vcard/1/phone/home", "+1 555 0100"},
      {"vcard/1/phone/mobile", "+1 555 0111"},
      {"vcard/1/email/=", "jdoe@example.org"},
      {"vcard/1/email/1/default", "<none>"},
      {"vcard/1/email/2/default", "<flag>"},
      {"vcard/1/email/2/pref", "<flag>"},
      {"vcard/1/address/=", ";;12 Main St\r\nSuite 5;Springfield;IL;62701;USA"},
      {"vcard/1/address/3", "12 Main St\r\nSuite 5"},
      {"vcard/1/address/7", "USA"},
      {"vcard/1/org", "Acme <b>Labs</b>"},
      {"vcard/1/title", "Ingénieur"},
      {"vcard/1/photo", "R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7"},
      {"vcard/2/first", "<none>"},
      {"vcard/2/name", "Ann Smith"},  // FN wins over the N after it
      {"vcard/2/phone/default/=", "0700 123"},
      {"vcard/2/phone/default/mobile", "<flag>"},
      {"vcard/2/email/=", "ann@example.net"},
      {"vcard/2/url", "http://example.net/~ann"},
      {"vcard/3/name", "<none>"},
  };
  for (const auto& [path, value] : rows) EXPECT_EQ(At(path), value) << path;
}

TEST_F(VcalcaTest, CardEdgeCases) {
  // A first fax number is no default; properties outside a card are ignored.
  ASSERT_EQ(ParseCard("FN:Outside\nBEGIN:VCARD\nTEL;FAX:1\nTEL:2\nEND:VCARD\n"), kOk);
  EXPECT_EQ(At("vcard/1/phone/default/="), "2");
  EXPECT_EQ(At("vcard/1/phone/1/default"), "<none>");
  EXPECT_EQ(At("vcard/1/name"), "<none>");
  // An END without BEGIN is refused.
  EXPECT_EQ(ParseCard("END:VCARD\n"), kVcardBadStructure);
}

TEST_F(VcalcaTest, AnEleventhCardIsSkipped) {
  std::string text;
  for (int i = 1; i <= 11; ++i) text += "BEGIN:VCARD\nFN:Card " + std::to_string(i) + "\nEND:VCARD\n";
  ASSERT_EQ(ParseCard(text), kOk);
  EXPECT_EQ(At("vcard/10/name"), "Card 10");
  EXPECT_EQ(At("vcard/11/name"), "<none>");
}

TEST_F(VcalcaTest, AnAgentCardInsideIsNotRecordedAndTheOuterResumes) {
  ASSERT_EQ(ParseCard("BEGIN:VCARD\nFN:Boss\nAGENT:\nBEGIN:VCARD\nFN:Secretary\nTEL:9\nEND:VCARD\n"
                      "TEL:1\nEND:VCARD\n"),
            kOk);
  EXPECT_EQ(At("vcard/1/name"), "Boss");
  EXPECT_EQ(At("vcard/1/phone/default/="), "1");
  EXPECT_EQ(At("vcard/2/name"), "<none>");
}

// --- The vCalendar parser ------------------------------------------------------------

TEST_F(VcalcaTest, CalendarEntitiesFillTheirFolders) {
  ASSERT_EQ(ParseCal(FromFile("lunch.vcs")), kOk);
  const std::string april = Utf8(UiGetString(11, 3));
  const std::pair<std::string, std::string> rows[] = {
      {"vcal/1/entity/1/event", "<flag>"},
      {"vcal/1/entity/1/summary", "Lunch with Ann"},  // the case is kept
      {"vcal/1/entity/1/date/start", "27 " + april + " 2004 09:30:00"},
      {"vcal/1/entity/1/dateval/start", "20040427T093000"},
      {"vcal/1/entity/1/location", "Café <Central>"},
      {"vcal/1/entity/1/organizer/=", "ANN SMITH"},
      {"vcal/1/entity/1/organizer/cn", "ANN"},
      {"vcal/1/entity/1/attendee/1/=", "bob@example.com"},
      {"vcal/1/entity/1/attendee/1/status", "CONFIRMED"},
      {"vcal/1/entity/1/attendee/1/rsvp", "<flag>"},
      {"vcal/1/entity/1/description", "Bring the\nslides"},
      {"vcal/1/entity/2/todo", "<flag>"},
      {"vcal/1/entity/2/dateval/due", "20040430"},
      {"vcal/1/entity/2/date/due", "30 " + april + " 2004"},
  };
  for (const auto& [path, value] : rows) EXPECT_EQ(At(path), value) << path;
}

TEST_F(VcalcaTest, ICalendarComponentsAndDurations) {
  ASSERT_EQ(ParseCal(FromFile("ical.ics")), kOk);
  const std::pair<std::string, std::string> rows[] = {
      {"vcal/1/entity/1/dateval/start", "20041224"},
      {"vcal/1/entity/1/duration", "1 d "},
      {"vcal/1/entity/1/durationsec", "86400"},
      {"vcal/1/entity/1/organizer/cn", "JANE ROE"},  // parameters are upper-cased
      {"vcal/1/entity/1/description", "<none>"},  // the alarm's, passed over
      {"vcal/1/entity/2/duration", "1 h 30 m "},
      {"vcal/1/entity/2/durationsec", "5400"},
      {"vcal/1/entity/2/summary",
       "Stand-up meeting with a summary that is long and folded onto a second line"},
  };
  for (const auto& [path, value] : rows) EXPECT_EQ(At(path), value) << path;
}

TEST_F(VcalcaTest, CalendarFailuresAndLimits) {
  struct Row {
    const char* body;
    Result result;
  };
  const Row rows[] = {
      {"BEGIN:VCALENDAR\nBEGIN:VEVENT\nDTSTART:20041327T000000\nEND:VEVENT\nEND:VCALENDAR\n",
       kVcalBadDate},
      {"BEGIN:VCALENDAR\nBEGIN:VEVENT\nDTSTART:2004\nEND:VEVENT\nEND:VCALENDAR\n", kVcalBadDate},
      {"BEGIN:VCALENDAR\nBEGIN:VEVENT\nDURATION:1H\nEND:VEVENT\nEND:VCALENDAR\n", kVcalBadDate},
      {"END:VCALENDAR\n", kVcardBadStructure},
      {"BEGIN:VEVENT\n", kVcardBadStructure},
      {"BEGIN:VCALENDAR\nBEGIN:VEVENT\nDURATION:-PT15M\nEND:VEVENT\nEND:VCALENDAR\n", kOk},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.body);
    EXPECT_EQ(ParseCal(row.body), row.result);
  }
  EXPECT_EQ(At("vcal/1/entity/1/durationsec"), "-900");
}

TEST_F(VcalcaTest, QuotedPrintableAndCharsetValuesAreDecoded) {
  ASSERT_EQ(ParseCal("BEGIN:VCALENDAR\nBEGIN:VEVENT\n"
                     "SUMMARY;ENCODING=QUOTED-PRINTABLE:Lunch=20time\n"
                     "LOCATION;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:Z=FCrich=\n"
                     " Hbf\n"
                     "DTSTART;VALUE=DATE:20040427T093000\n"
                     "TIME:093000\n"
                     "END:VEVENT\nEND:VCALENDAR\n"),
            kOk);
  EXPECT_EQ(At("vcal/1/entity/1/summary"), "Lunch time");
  EXPECT_EQ(At("vcal/1/entity/1/location"), "Zürich Hbf");
  EXPECT_EQ(At("vcal/1/entity/1/dateval/start"), "20040427");
  EXPECT_EQ(At("vcal/1/entity/1/time"), "09:30:00");
}

TEST_F(VcalcaTest, ASixthEventAndAnEleventhAttendeeAreDropped) {
  std::string text = "BEGIN:VCALENDAR\n";
  for (int e = 1; e <= 6; ++e) {
    text += "BEGIN:VEVENT\nSUMMARY:E" + std::to_string(e) + "\n";
    for (int a = 1; a <= 11; ++a) text += "ATTENDEE:p" + std::to_string(a) + "\n";
    text += "END:VEVENT\n";
  }
  text += "END:VCALENDAR\n";
  for (int c = 1; c <= 6; ++c) text += "BEGIN:VCALENDAR\nBEGIN:VEVENT\nSUMMARY:C\nEND:VEVENT\nEND:VCALENDAR\n";
  ASSERT_EQ(ParseCal(text), kOk);
  EXPECT_EQ(At("vcal/1/entity/5/summary"), "E5");
  EXPECT_EQ(At("vcal/1/entity/6/summary"), "<none>");
  EXPECT_EQ(At("vcal/1/entity/1/attendee/10/="), "p10");
  EXPECT_EQ(At("vcal/1/entity/1/attendee/11/="), "<none>");
  EXPECT_EQ(At("vcal/6/entity/1/summary"), "<none>");  // a sixth calendar is not written
  EXPECT_EQ(At("vcal/5/entity/1/summary"), "C");
}

// --- The rows through the URL task -----------------------------------------------------

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
      if (!requester->Count(UrlMsg::Failed)) {
        EXPECT_EQ(UrlLoadTypeId(request), 2u);  // the filled page is a page
      }
    });
    if (failure) *failure = ended.failure;
    EXPECT_TRUE(ended.complete || ended.failure);
    return Utf8(page.c_str());
  }
};

TEST_F(VcalcaRowsTest, TheCardPageShowsEveryCardInEveryDelivery) {
  const std::string file = FromFile("two_cards.vcf");
  const std::string whole = Fetch("text/x-vcard", file, 0);
  EXPECT_NE(whole.find("<b>Dr. John Q Doe Jr.</b>"), std::string::npos) << whole;
  EXPECT_NE(whole.find("<b>Ann Smith</b>"), std::string::npos);
  EXPECT_LT(whole.find("Dr. John"), whole.find("Ann Smith"));
  EXPECT_NE(whole.find("Phone: +1 555 0100<br/>"), std::string::npos);
  EXPECT_NE(whole.find("E-mail: jdoe@example.org<br/>"), std::string::npos);
  // Markup in a field is shown, not obeyed.
  EXPECT_NE(whole.find("Acme &lt;b&gt;Labs&lt;/b&gt;"), std::string::npos);
  EXPECT_NE(whole.find("Ingénieur"), std::string::npos);
  EXPECT_NE(whole.find("addrbook://add?name=Ann Smith&amp;number=0700 123"), std::string::npos);
  EXPECT_EQ(whole.find("[$"), std::string::npos);
  for (uint32_t block : {1u, 7u}) EXPECT_EQ(Fetch("text/vcard", file, block), whole) << block;
}

TEST_F(VcalcaRowsTest, TheCalendarPageShowsItsEntities) {
  const std::string page = Fetch("text/x-vcalendar", FromFile("lunch.vcs"), 5);
  EXPECT_NE(page.find("<b>Lunch with Ann</b>"), std::string::npos) << page;
  EXPECT_NE(page.find("Where: Café &lt;Central&gt;"), std::string::npos);
  EXPECT_NE(page.find("Bring the\nslides"), std::string::npos);
  EXPECT_NE(page.find("<b>File report</b>"), std::string::npos);
  EXPECT_NE(page.find("dtstart=20040427T093000&amp;dtend=20040427T103000"), std::string::npos);
  const std::string april = Utf8(UiGetString(11, 3));
  EXPECT_NE(page.find("Starts: 27 " + april + " 2004 09:30:00<br/>"), std::string::npos);
  const std::string ical = Fetch("text/x-vcalendar", FromFile("ical.ics"), 0);
  EXPECT_NE(ical.find("<b>Christmas Eve</b>"), std::string::npos) << ical;
  EXPECT_NE(ical.find("dtstart=20041224&amp;"), std::string::npos);
  EXPECT_EQ(ical.find("Alarm text"), std::string::npos);
}

TEST_F(VcalcaRowsTest, BrokenBodiesFailCleanlyAndEmptyOnesShowAnEmptyPage) {
  Result failure = 0;
  Fetch("text/x-vcard", "END:VCARD\r\n", 0, &failure);
  EXPECT_EQ(failure, kVcardBadStructure);
  Fetch("text/x-vcalendar", "BEGIN:VCALENDAR\nBEGIN:VEVENT\nDTEND:2004\n", 3, &failure);
  EXPECT_EQ(failure, kVcalBadDate);
  const std::string empty = Fetch("text/x-vcard", "", 0, &failure);
  EXPECT_EQ(failure, 0u);
  EXPECT_NE(empty.find("Business card"), std::string::npos);
  EXPECT_EQ(empty.find("addrbook:"), std::string::npos);
}

TEST_F(VcalcaRowsTest, Utf16BodiesWithAByteOrderMarkAreRead) {
  const std::u16string text = u"\uFEFFBEGIN:VCARD\r\nFN:Zoë\r\nEND:VCARD\r\n";
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c >> 8);
    bytes += static_cast<char>(c & 0xFF);
  }
  EXPECT_NE(Fetch("text/x-vcard", bytes, 3).find("<b>Zoë</b>"), std::string::npos);
}

}  // namespace

// --- The addrbook: and calendar: schemes ------------------------------------------------

namespace {

struct Stored {
  std::vector<std::string> phonebook;  // "name|number|email|address"
  std::vector<std::string> calendar;   // texts, then each time as type:seconds, then duration
};
Stored* gStored = nullptr;

Result RecordPhonebook(TskmanTask* task, uintptr_t, PhonebookRecord* e) {
  gStored->phonebook.push_back(Utf8(e->name) + "|" + Utf8(e->number) + "|" + Utf8(e->email) +
                               "|" + Utf8(e->address));
  MemFree(&e->name);
  MemFree(&e->number);
  MemFree(&e->email);
  MemFree(&e->address);
  MemFree(&e);
  TskmanPost(task, 0x2000, 0, 0);
  return kOk;
}

Result RecordCalendar(TskmanTask* task, void** slots) {
  auto* e = reinterpret_cast<VcCalendarEntry*>(slots);
  std::string out;
  for (char16_t* t : e->texts) out += Utf8(t) + "|";
  for (int i = 0; i < 4; ++i)
    out += std::to_string(e->types[i]) + ":" + std::to_string(e->times[i]) + "|";
  out += std::to_string(e->duration);
  gStored->calendar.push_back(out);
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
  Stored stored;
  HandsetOps ops{};
  const HandsetOps* old = nullptr;
};

TEST_F(VcalcaSchemeTest, AddrbookLinksReachThePhonebookWithExactlyTheirFields) {
  struct Row {
    const char* url;
    Result result;
    const char* entry;  // null: none made
  };
  const Row rows[] = {
      {"addrbook://add?name=Ann&number=123", kOk, "Ann|123||"},
      {"addrbook://ADD?NAME=Caf%C3%A9+Bar&email=a%40b.c&address=1+Main", kOk, "Café Bar||a@b.c|1 Main"},
      {"addrbook://add?number=1", kVcardBadInput, nullptr},
      {"addrbook://add?name=A&name=B", kVcardBadInput, nullptr},
      {"addrbook://add?name=A&fax=1", kVcardBadInput, nullptr},
      {"addrbook://add?name=a=b", kVcardBadInput, nullptr},
      {"addrbook://other?name=A", kVcardBadInput, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.url);
    stored.phonebook.clear();
    EXPECT_EQ(Load(row.url), row.result);
    if (row.entry) {
      ASSERT_EQ(stored.phonebook.size(), 1u);
      EXPECT_EQ(stored.phonebook[0], row.entry);
    } else {
      EXPECT_TRUE(stored.phonebook.empty());
    }
  }
}

TEST_F(VcalcaSchemeTest, CalendarLinksReachTheCalendarWithExactlyTheirFields) {
  struct Row {
    const char* url;
    Result result;
    const char* entry;
  };
  const Row rows[] = {
      {"calendar://add?summary=Lunch&dtstart=20040427T120000&duration=3600", kOk,
       "|Lunch|||||||2:1083067200|0:0|0:0|0:0|3600"},
      {"calendar://ADD?location=Caf%C3%A9&due=20040430&Contact=Bob", kOk,
       "Café|||||||Bob|0:0|0:0|1:1083283200|0:0|-1"},
      {"calendar://add?dtstart=2004", kVcalBadInput, nullptr},
      {"calendar://add?dtstart=20041327", kVcalBadInput, nullptr},
      {"calendar://add?summary=a&summary=b", kVcalBadInput, nullptr},
      {"calendar://add?when=now", kVcalBadInput, nullptr},
      {"calendar://add?duration=1h", kVcalBadInput, nullptr},
      {"calendar://add?dtstart=20500101", kVcalBadInput, nullptr},  // past the converter's range
      // The page's links name every field; an empty one is not given.
      {"calendar://add?summary=Trip&location=&dtstart=&dtend=&duration=", kOk,
       "|Trip|||||||0:0|0:0|0:0|0:0|-1"},
      {"calendar://list?summary=a", kVcalBadInput, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.url);
    stored.calendar.clear();
    EXPECT_EQ(Load(row.url), row.result);
    if (row.entry) {
      ASSERT_EQ(stored.calendar.size(), 1u);
      EXPECT_EQ(stored.calendar[0], row.entry);
    } else {
      EXPECT_TRUE(stored.calendar.empty());
    }
  }
}

TEST_F(VcalcaSchemeTest, WithoutAHandsetTheLinkFailsAndNothingIsLeft) {
  HandsetInstall(nullptr);
  EXPECT_EQ(Load("addrbook://add?name=Ann&number=1"), kHandsetNone);
  EXPECT_EQ(Load("calendar://add?summary=Lunch"), kHandsetNone);
  EXPECT_TRUE(stored.phonebook.empty());
}

TEST(VcalcaAnswers, EachAnswerHasItsText) {
  EXPECT_EQ(VcAddrbookAnswerText(0, nullptr), 30u);
  EXPECT_EQ(VcAddrbookAnswerText(1, u"-100"), 31u);
  EXPECT_EQ(VcAddrbookAnswerText(1, u"-101"), 32u);
  EXPECT_EQ(VcAddrbookAnswerText(1, u"-102"), 33u);
  EXPECT_EQ(VcAddrbookAnswerText(1, u"-103"), 34u);
  EXPECT_EQ(VcAddrbookAnswerText(1, u"-104"), 35u);
  EXPECT_EQ(VcAddrbookAnswerText(1, u"7"), 34u);
  EXPECT_EQ(VcAddrbookAnswerText(1, nullptr), 34u);
  EXPECT_EQ(VcCalendarAnswerText(0), 40u);
  EXPECT_EQ(VcCalendarAnswerText(0x8000), 37u);
  EXPECT_EQ(VcCalendarAnswerText(0x8001), 38u);
  EXPECT_EQ(VcCalendarAnswerText(5), 39u);
}
