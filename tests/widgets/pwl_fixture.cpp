#include "tests/widgets/pwl_fixture.h"

#include "tests/support/font_startup.h"
#include "kernel/list.h"
#include "widgets/pwl_text.h"

TestClassLog gTestLog;

namespace {

[[maybe_unused]] const bool gFontsStarted = FontStartOutsideLeakCheck();

Result TestProc(PwlControl* control, PwlControl*, void* data, uint32_t flags, uint32_t message,
                uintptr_t argument) {
  gTestLog.calls.push_back({control, message, flags, argument});
  return gTestLog.answer ? gTestLog.answer(control, message, argument, data) : kOk;
}

const PwlControlClass kTestClass{nullptr, TestProc, nullptr, sizeof(PwlCheckHead)};

}  // namespace

std::vector<uint32_t> TestClassLog::Messages(const PwlControl* c) const {
  std::vector<uint32_t> out;
  for (const ControlCall& call : calls)
    if (call.control == c) out.push_back(call.message);
  return out;
}

size_t TestClassLog::Count(uint32_t message) const {
  size_t n = 0;
  for (const ControlCall& call : calls) n += call.message == message;
  return n;
}

void InstallTestClasses() {
  for (uint32_t t = PwlType::ImageMap; t <= PwlType::TextArea; ++t)
    PwlSetControlClass(t, &kTestClass);
}

void RemoveTestClasses() {
  for (uint32_t t = PwlType::ImageMap; t <= PwlType::TextArea; ++t) PwlSetControlClass(t, nullptr);
}

FontSettings PwlTestFontSettings() {
  FontSettings s;
  FontDefaultSettings(&s);
  return s;
}

void PwlFixture::SetUp() {
  EngineFixture::SetUp();
  platform->MakeScreen(160, 240);
  gTestLog = {};
  if (!realClasses) InstallTestClasses();
  ASSERT_EQ(PwlInit(), kOk);
  context = PwlGetContext();
  ASSERT_NE(context, nullptr);
  root = context->root;
  owner = std::make_unique<Recorder>(kOwnerId);
  PwlSetWindowLink(root, owner->task());
  Pump();
  if (withFonts) {
    const FontSettings settings = PwlTestFontSettings();
    ASSERT_EQ(FontInit(&settings), kOk);
    ASSERT_EQ(PwlOpenBodyFont(&font), kOk);
  }
}

void PwlFixture::TearDown() {
  // The controls hold fonts: they go before the font layer does.
  PwlShutdown();
  if (withFonts) {
    PwlReleaseFont(font);
    FontTerm();
  }
  owner.reset();
  RemoveTestClasses();
  gTestLog = {};
  EngineFixture::TearDown();
}

PwlControl* PwlFixture::Make(uint32_t type, uintptr_t group, PglRect rect, PwlWindow* in,
                             uint32_t row) {
  PwlControl* c = nullptr;
  EXPECT_EQ(PwlCreate(&c, in ? in : root, group, 0, row, type), kOk);
  if (c) {
    c->rect = rect;
    c->flags |= PwlCtl::Enabled;
  }
  return c;
}

void PwlFixture::Key(uint32_t subCode, uintptr_t argument) {
  TskmanPost(context->task, PwlEvent::Key, subCode, argument);
  Pump();
}

std::vector<Received> PwlFixture::OwnerEvents(uint32_t message) const {
  std::vector<Received> out;
  for (const Received& r : owner->log)
    if (r.message == message) out.push_back(r);
  return out;
}
