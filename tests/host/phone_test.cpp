// The emulated telephony: a request posts its one reply text and frees
// exactly the arguments it was given.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "host/handset_host.h"
#include "host/phone.h"
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


}  // namespace
