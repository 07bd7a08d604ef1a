#include "tests/widgets/sel_fixture.h"

#include "kernel/libc.h"
#include "widgets/pwl_imagemap.h"
#include "widgets/pwl_select.h"

std::vector<UiLogEntry>* gUiLog = nullptr;

namespace {

std::vector<UiLogEntry> gUiEntries;
std::vector<Received>* gBrowserLog = nullptr;

std::u16string Copy(uintptr_t p) {
  const auto* text = reinterpret_cast<const char16_t*>(p);
  return text ? std::u16string(text) : std::u16string();
}

Result UiHandler(void*, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (message == TskMsg::Start) return kOk;
  UiLogEntry e{message, arg1, arg2, {}, {}};
  if (message == PwlEvent::Label || message == PwlEvent::Labels) {
    e.text1 = Copy(arg1);
    if (message == PwlEvent::Labels) e.text2 = Copy(arg2);
  }
  if (gUiLog) gUiLog->push_back(e);
  return kOk;
}

Result BrowserHandler(void*, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (gBrowserLog && message != TskMsg::Start) gBrowserLog->push_back({message, arg1, arg2});
  return kOk;
}

}  // namespace

void SelectRecordData::Add(const std::u16string& value, const std::u16string& text, bool initial,
                           bool chosen, const std::u16string& action) {
  std::u16string s = value + u"\n" + text + (initial ? u"+" : u"-") + (chosen ? u"+" : u"-");
  std::vector<char16_t> b(s.begin(), s.end());
  b.push_back(0);
  b.insert(b.end(), action.begin(), action.end());
  b.push_back(0);
  if (!action.empty()) b.push_back(0);
  buffers.push_back(std::move(b));
}

BenFormSelectRecord* SelectRecordData::Finish(uint32_t flags) {
  labels.clear();
  for (auto& b : buffers) labels.push_back(b.data());
  record.flags = flags;
  record.plainLabels = labels.data();
  record.displayLabels = nullptr;
  record.count = static_cast<uint32_t>(labels.size());
  record.indexName = u"idx";
  record.name = u"val";
  return &record;
}

void SelFixture::SetUp() {
  PwlFixture::SetUp();
  PwlInstallSelectClass();
  PwlInstallImageMapClass();
  gUiEntries.clear();
  gUiLog = &gUiEntries;
  ListInit(&ui.animations);
  ASSERT_EQ(TskmanCreateTask(&uiTask, Mod::Ui, UiHandler, &ui), kOk);
  BenBrowserInit(&browser);
  gBrowserLog = &browserLog;
  ASSERT_EQ(TskmanCreateTask(&browserTask, Mod::Ben, BrowserHandler, &browser), kOk);
  Pump();
}

void SelFixture::TearDown() {
  PwlShutdown();
  TskmanDestroyTask(uiTask);
  BenClearVars(&browser);
  TskmanDestroyTask(browserTask);
  gUiLog = nullptr;
  gBrowserLog = nullptr;
  PwlSetClassHooks(nullptr);
  PwlFixture::TearDown();
}

std::vector<UiLogEntry> SelFixture::UiEvents(uint32_t message) const {
  std::vector<UiLogEntry> out;
  for (const UiLogEntry& e : gUiEntries)
    if (e.message == message) out.push_back(e);
  return out;
}

std::pair<std::u16string, std::u16string> SelFixture::Band() const {
  std::pair<std::u16string, std::u16string> band;
  for (const UiLogEntry& e : gUiEntries) {
    if (e.message == PwlEvent::ClearLabels) band = {};
    if (e.message == PwlEvent::Label) band.first = e.text1;
    if (e.message == PwlEvent::Labels) band = {e.text1, e.text2};
  }
  return band;
}

PwlControl* SelFixture::MakeSelect(BenFormSelectRecord* record, int32_t x, int32_t y,
                                   int32_t right) {
  PwlControl* c = nullptr;
  EXPECT_EQ(PwlCreate(&c, root, 1, 0, 0, PwlType::Select), kOk);
  if (!c) return nullptr;
  EXPECT_EQ(PwlSend(c, nullptr, record, PwlMsgFlag::Bound, PwlMsg::Bind, 0), kOk);
  int32_t words[3] = {x, y, right};
  EXPECT_EQ(PwlSend(c, nullptr, words, right < 0 ? 0x10 : 0, PwlMsg::SetRect, 0), kOk);
  PwlSend(c, nullptr, nullptr, 0, PwlMsg::Enable, 0);
  return c;
}
