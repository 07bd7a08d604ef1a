// The emulated telephony: every request posts its one reply text and frees
// exactly the arguments it was given; the calendar stub, the emulated
// phonebook entry, and the handset without its host.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "host/handset_host.h"
#include "host/phone.h"
#include "host/platform/handover.h"
#include "host/shellsvc.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "tests/support/engine_fixture.h"

namespace {

using Args = char16_t* [3];

struct Stub {
  const char* reply;
  int texts;  // how many text arguments the request takes (and frees)
  std::function<Result(TskmanTask*, Args&)> call;
};

const Stub kStubs[] = {
    {"PBSearch Return", 2, [](TskmanTask* t, Args& a) { return PBSearch(t, a[0], a[1]); }},
    {"PBRemove Return", 0, [](TskmanTask* t, Args&) { return PBRemove(t); }},
    {"PubMakeCall Return", 1, [](TskmanTask* t, Args& a) { return PubMakeCall(t, a[0]); }},
    {"PBGetField Return", 1, [](TskmanTask* t, Args& a) { return PBGetField(t, 0, a[0]); }},
    {"PBChange Return", 2, [](TskmanTask* t, Args& a) { return PBChange(t, 0, a[0], a[1]); }},
    {"VCSetup Return", 1, [](TskmanTask* t, Args& a) { return VCSetup(t, a[0]); }},
    {"VCAccept Return", 1, [](TskmanTask* t, Args& a) { return VCAccept(t, a[0]); }},
    {"VCRelease Return", 1, [](TskmanTask* t, Args& a) { return VCRelease(t, a[0]); }},
    {"VCSendDTMF Return", 2, [](TskmanTask* t, Args& a) { return VCSendDTMF(t, a[0], a[1]); }},
    {"VCList Return", 0, [](TskmanTask* t, Args&) { return VCList(t); }},
    {"CLDialled Return", 0, [](TskmanTask* t, Args&) { return CLDialled(t); }},
    {"CLMissed Return", 0, [](TskmanTask* t, Args&) { return CLMissed(t); }},
    {"CLReceived Return", 0, [](TskmanTask* t, Args&) { return CLReceived(t); }},
    {"CLGetField Return", 2, [](TskmanTask* t, Args& a) { return CLGetField(t, a[0], a[1]); }},
    {"NTList Return", 0, [](TskmanTask* t, Args&) { return NTList(t); }},
    {"NTRemove Return", 1, [](TskmanTask* t, Args& a) { return NTRemove(t, a[0]); }},
    {"NTGetField Return", 2, [](TskmanTask* t, Args& a) { return NTGetField(t, a[0], a[1]); }},
    {"NTMarkRead Return", 1, [](TskmanTask* t, Args& a) { return NTMarkRead(t, a[0]); }},
    {"VCCallStatus Return", 2,
     [](TskmanTask* t, Args& a) { return VCCallStatus(t, a[0], a[1]); }},
    {"PBWrite Return", 0,
     [](TskmanTask* t, Args&) {
       // The record with two of its four texts.
       auto* entry = static_cast<PhonebookRecord*>(
           MemAllocZero(sizeof(PhonebookRecord), Use::Data, Mod::WmlsExec));
       entry->number = LibcWStrDup(u"0123");
       entry->email = LibcWStrDup(u"a@b");
       return PBWrite(t, 0, entry);
     }},
};

// The host's answers stand behind the engine's calls, as HostMain installs them.
class PhoneTest : public EngineFixture, public ::testing::WithParamInterface<Stub> {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    HostHandsetInstall();
  }
  void TearDown() override {
    HandsetInstall(nullptr);
    EngineFixture::TearDown();
  }
};

TEST_P(PhoneTest, PostsItsReplyAndFreesExactlyItsArguments) {
  Recorder wtai(Mod::WmlsExec);
  Pump();
  const uint32_t start = HeapGetStats().freeBytes;
  const Stub& stub = GetParam();
  Args args{};
  for (int i = 0; i < stub.texts; ++i) args[i] = LibcWStrDup(u"argument");
  EXPECT_EQ(stub.call(wtai.task(), args), kOk);
  Pump();
  ASSERT_EQ(wtai.Messages(), std::vector<uint32_t>{0x2000});
  const Received& reply = wtai.log.back();
  EXPECT_EQ(reply.arg1, 0u);
  auto* text = reinterpret_cast<char16_t*>(reply.arg2);
  ASSERT_NE(text, nullptr);
  const std::string expected(stub.reply);
  EXPECT_EQ(std::u16string(text), std::u16string(expected.begin(), expected.end()));
  MemFree(&text);  // the receiver's to free
  EXPECT_EQ(HeapGetStats().freeBytes, start);
  EXPECT_EQ(HeapValidate(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(EachRequest, PhoneTest, ::testing::ValuesIn(kStubs),
                         [](const ::testing::TestParamInfo<Stub>& info) {
                           std::string name = info.param.reply;
                           return name.substr(0, name.find(' '));
                         });

class TelephonyTest : public PhoneTest {};

TEST_F(TelephonyTest, TheCalendarStubFreesTheEntryAndAnswers) {
  Recorder vcal(Mod::WtlVcal);
  Pump();
  const uint32_t start = HeapGetStats().freeBytes;
  auto** entry = static_cast<void**>(
      MemAllocZero(kLibcPtrArraySlots * sizeof(void*), Use::Data, Mod::WtlVcal));
  entry[0] = LibcStrDup("summary");
  entry[5] = LibcStrDup("location");
  EXPECT_EQ(ShellCalendarAddStub(vcal.task(), entry), kOk);
  Pump();
  EXPECT_EQ(vcal.log.back(), (Received{kCalendarReplyMessage, 0, 0}));
  EXPECT_EQ(HeapGetStats().freeBytes, start);
}

TEST_F(TelephonyTest, ThePhonebookEntryHasSixFieldsEachClosedBySemicolon) {
  char* entry = ShellFakePhonebookEntry(42);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(HeapRequestedSizeOf(entry), kShellPhonebookEntrySize);
  const std::string text(entry);
  EXPECT_EQ(text.rfind("42;\xC0\xAF\xC0\xFA\xB8\xED;", 0), 0u);
  EXPECT_EQ(std::count(text.begin(), text.end(), ';'), 6);
  EXPECT_EQ(text.back(), ';');
  MemFree(&entry);
}

// The host takes whatever the handset is handed over.
TEST_F(TelephonyTest, TheHostTakesEveryHandover) {
  const uint8_t body[] = {1, 2};
  EXPECT_EQ(ShellStoreContentStub("a", "b", "c", "d", "e", "f"), kOk);
  EXPECT_EQ(ShellStubSaveUsat("usat"), kOk);
  EXPECT_EQ(ShellStubSaveMedia(body, 2, "image", 0), kOk);
  EXPECT_EQ(ShellStubLaunchMap(body, 2, 7, 0), kOk);
  EXPECT_EQ(ShellStubInfoHook("info", "back"), kOk);
}

// Without the host nothing answers: every request is refused and what it was
// given stays the caller's.
TEST(HandsetWithoutHost, RequestsAreRefusedAndTakeNothing) {
  HandsetInstall(nullptr);
  HandoverInstall(nullptr);
  char16_t a[] = u"123", b[] = u"456";
  const std::function<Result()> requests[] = {
      [&] { return PBWrite(nullptr, 0, nullptr); },
      [&] { return PBSearch(nullptr, a, b); },
      [&] { return PBRemove(nullptr); },
      [&] { return PBGetField(nullptr, 0, b); },
      [&] { return PBChange(nullptr, 0, a, b); },
      [&] { return PubMakeCall(nullptr, a); },
      [&] { return VCSetup(nullptr, a); },
      [&] { return VCAccept(nullptr, a); },
      [&] { return VCRelease(nullptr, a); },
      [&] { return VCSendDTMF(nullptr, a, b); },
      [&] { return VCCallStatus(nullptr, a, b); },
      [&] { return VCList(nullptr); },
      [&] { return CLDialled(nullptr); },
      [&] { return CLMissed(nullptr); },
      [&] { return CLReceived(nullptr); },
      [&] { return CLGetField(nullptr, a, b); },
      [&] { return NTList(nullptr); },
      [&] { return NTRemove(nullptr, a); },
      [&] { return NTGetField(nullptr, a, b); },
      [&] { return NTMarkRead(nullptr, a); },
      [&] { return ShellCalendarAddStub(nullptr, nullptr); },
      [&] { return ShellGetDeviceId(nullptr, nullptr); },
      [&] { return ShellStartConfirmThread(0, 0, nullptr); },
      [&] { return ShellStoreContentStub("a", "b", "c", "d", "e", "f"); },
      [&] { return ShellStubSaveUsat("usat"); },
      [&] { return ShellStubSaveMedia(nullptr, 0, "image", 0); },
      [&] { return ShellStubLaunchMap(nullptr, 0, 0, 0); },
      [&] { return ShellStubInfoHook("info", "back"); },
  };
  for (size_t i = 0; i < std::size(requests); ++i) EXPECT_EQ(requests[i](), kHandsetNone) << i;
  EXPECT_EQ(ShellSaveMovieFile(nullptr, 0), 0);
  EXPECT_EQ(ShellRcellAvailable(), 0);
  EXPECT_EQ(ShellRcellNonRcellSession(), 0);
  EXPECT_EQ(ShellIsRcellNam(), 0);
  ShellPlaySystemSound(0, nullptr, 0);
  EXPECT_EQ(std::u16string(a), u"123");
  EXPECT_EQ(std::u16string(b), u"456");
}

}  // namespace
