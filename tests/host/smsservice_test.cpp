// The SMS service's sending side without the bridge: cancels, a stop with
// requests waiting, requesters that are gone. The whole host run sends
// through the real bridge.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/sms.h"
#include "host/smsbridge.h"
#include "host/smsservice.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "net/netbuf.h"
#include "services/smsmsg.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/failure_record.h"

namespace {

// What a requester was told: the message, the reference text, the code.
struct Answer {
  uint32_t message;
  std::u16string reference;
  uint32_t code;
  bool operator==(const Answer&) const = default;
};

class Requester {
 public:
  explicit Requester(uint32_t id)
      : recorder_(id, [this](Recorder&, const Received& r) {
          if (r.message == SmsServiceMsg::Sent || r.message == SmsServiceMsg::NotSent) {
            auto* text = reinterpret_cast<char16_t*>(r.arg1);
            answers.push_back({r.message, text ? std::u16string(text) : u"", static_cast<uint32_t>(r.arg2)});
            MemFree(&text);
          } else if (r.message == SmsServiceMsg::RequestOver) {
            answers.push_back({r.message, u"", 0});
          }
          return kOk;
        }) {}
  TskmanTask* task() const { return recorder_.task(); }
  void Destroy() { recorder_.Destroy(); }
  std::vector<Answer> answers;

 private:
  Recorder recorder_;
};

class SmsServiceTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    first = std::make_unique<Requester>(Mod::TestCode);
    second = std::make_unique<Requester>(Mod::TestHarness);
    Pump();
    heapAtStart = HeapGetStats().freeBytes;
    ASSERT_EQ(SmsServiceStart(), kOk);
    Pump();
  }
  void TearDown() override {
    SmsServiceStop();
    Pump();
    EXPECT_EQ(TskmanFind(Mod::Sms), nullptr);
    EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
    first.reset();
    second.reset();
    EngineFixture::TearDown();
  }

  // A send request as the Sms routines make it: the service owns it.
  static SmsSendRequestRec* Request(char16_t const* ref, uint32_t value, bool withMessage = true) {
    auto* rec = static_cast<SmsSendRequestRec*>(
        MemAllocZero(sizeof(SmsSendRequestRec), Use::Context, Mod::Sms));
    rec->reference = LibcWStrDup(ref);
    rec->value = value;
    if (withMessage) {
      rec->message = static_cast<SmsMessage*>(MemAllocZero(sizeof(SmsMessage), Use::String, Mod::WtlWtai2));
      LibcStrCopy(rec->message->sender, "+4911");
      rec->message->data = NetBufAlloc(1);
    }
    return rec;
  }
  void Send(Requester& who, SmsSendRequestRec* rec) {
    TskmanPost(TskmanFind(Mod::Sms), SmsServiceMsg::Send, reinterpret_cast<uintptr_t>(who.task()),
               reinterpret_cast<uintptr_t>(rec));
  }
  void Cancel(Requester& who, uint32_t value) {
    TskmanPost(TskmanFind(Mod::Sms), SmsServiceMsg::Cancel, reinterpret_cast<uintptr_t>(who.task()),
               value);
  }

  std::unique_ptr<Requester> first, second;
  uint32_t heapAtStart = 0;
};

constexpr Result kNoBridge = ResultError(Mod::SmsBridge, Err::NotFound);

// Without the bridge, or without a message, the requester hears why it was
// not sent; a request that is no request at all is passed by.
TEST_F(SmsServiceTest, WithoutTheBridgeOrAMessageTheRequesterHearsWhyItWasNotSent) {
  Send(*first, Request(u"1", 0));
  Send(*second, Request(u"2", 0, false));
  Send(*second, nullptr);
  Pump();
  EXPECT_EQ(first->answers, (std::vector<Answer>{{SmsServiceMsg::NotSent, u"1", kNoBridge},
                                                 {SmsServiceMsg::RequestOver, u"", 0}}));
  EXPECT_EQ(second->answers,
            (std::vector<Answer>{{SmsServiceMsg::NotSent, u"2", kSmsRequestNoMessage},
                                 {SmsServiceMsg::RequestOver, u"", 0}}));
}

TEST_F(SmsServiceTest, ACancelEndsTheRequestsItNamesWithoutAnAnswer) {
  Send(*first, Request(u"a", 7));   // goes to the bridge at once
  Send(*second, Request(u"b", 7));  // waits
  Send(*second, Request(u"c", 8));  // waits, another value
  Cancel(*second, 7);
  Cancel(*first, 7);  // the one under way: its outcome is not told
  Pump();
  EXPECT_EQ(first->answers, (std::vector<Answer>{{SmsServiceMsg::RequestOver, u"", 0}}));
  EXPECT_EQ(second->answers, (std::vector<Answer>{{SmsServiceMsg::RequestOver, u"", 0},
                                                  {SmsServiceMsg::NotSent, u"c", kNoBridge},
                                                  {SmsServiceMsg::RequestOver, u"", 0}}));
  Cancel(*first, 7);  // nothing left to cancel
  Pump();
  EXPECT_EQ(first->answers.size(), 1u);
}

TEST_F(SmsServiceTest, AStopAnswersEveryRequestStillOpenAndFreesIt) {
  Send(*first, Request(u"a", 0));
  Send(*second, Request(u"b", 0));
  SmsServiceStop();
  Pump();
  EXPECT_EQ(TskmanFind(Mod::Sms), nullptr);
  EXPECT_EQ(first->answers, (std::vector<Answer>{{SmsServiceMsg::NotSent, u"a", kSmsServiceStopped},
                                                 {SmsServiceMsg::RequestOver, u"", 0}}));
  EXPECT_EQ(second->answers,
            (std::vector<Answer>{{SmsServiceMsg::NotSent, u"b", kSmsServiceStopped},
                                 {SmsServiceMsg::RequestOver, u"", 0}}));
}

// Requests and messages posted after the stop, before the service has taken
// it: each request is answered as a stop answers it, each message freed
// (the heap check of the teardown) and said.
TEST_F(SmsServiceTest, WhatIsQueuedBehindTheStopIsAnsweredAndFreed) {
  FailureRecord record;
  Send(*first, Request(u"a", 0));
  SmsServiceStop();
  Send(*second, Request(u"late", 0));
  const std::string datagram = std::string{2, 0, 2, 0} + "55" + "a text";
  NetBufChain* chain = NetBufAlloc(static_cast<uint32_t>(datagram.size()));
  NetBufWrite(chain, datagram.data(), 0, static_cast<uint32_t>(datagram.size()));
  SmsReceived* received = SmsBridgeDecode(chain);
  NetBufRelease(&chain);
  ASSERT_NE(received, nullptr);
  SmsDeliver(received);
  Pump();
  EXPECT_EQ(TskmanFind(Mod::Sms), nullptr);
  EXPECT_EQ(first->answers, (std::vector<Answer>{{SmsServiceMsg::NotSent, u"a", kSmsServiceStopped},
                                                 {SmsServiceMsg::RequestOver, u"", 0}}));
  EXPECT_EQ(second->answers,
            (std::vector<Answer>{{SmsServiceMsg::NotSent, u"late", kSmsServiceStopped},
                                 {SmsServiceMsg::RequestOver, u"", 0}}));
  EXPECT_EQ(record.said, std::vector<std::string>{
                             "a received message: the emulator stopped before it was taken"});
}

TEST_F(SmsServiceTest, ARequesterThatIsGoneIsToldNothingAndItsRequestFreed) {
  auto gone = std::make_unique<Requester>(Mod::WtlWtai2);
  Send(*gone, Request(u"a", 0));
  gone->Destroy();
  Pump();
  EXPECT_TRUE(gone->answers.empty());
}

}  // namespace

namespace {

using SmsSendResultTest = EngineFixture;

// With no SMS service to take it, a send's outcome goes nowhere rather than
// to every task.
TEST_F(SmsSendResultTest, AnOutcomeWithoutTheServiceIsNotBroadcast) {
  Recorder bystander(Mod::TestCode);
  Pump();
  NetBufChain* data = NetBufAlloc(1);
  SmsOutgoing m{};
  m.type = SmsType::Message;
  m.data = data;
  SmsBridgeSend(nullptr, &m, nullptr, 0, 1, 0, 0, nullptr);
  Pump();
  EXPECT_EQ(bystander.Count(SmsMsg::SendResult), 0u);
  NetBufRelease(&data);
}

}  // namespace
