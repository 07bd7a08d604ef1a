// The engine's SMS routing: claims by content, segments joined in any
// order, repeats and stray sequences dropped, reassemblies aged out, and
// send requests answered when they cannot reach the service.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "net/netbuf.h"
#include "services/sms/sms.h"
#include "tests/support/engine_fixture.h"

namespace {

class SmsRouteTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    service = std::make_unique<Recorder>(Mod::Sms);
    app = std::make_unique<Recorder>(Mod::TestCode);
    Pump();
  }
  void TearDown() override {
    SmsStateFree(&state);
    app.reset();
    service.reset();
    EngineFixture::TearDown();
  }
  // A segment in the port form: header {0, total, sequence - 1}, the
  // reference in the port.
  TskmanTask* Segment(const char* sender, uint16_t reference, uint8_t total, uint8_t seq,
                      const std::string& payload) {
    std::string data{'\0', static_cast<char>(total), static_cast<char>(seq - 1)};
    data += payload;
    return Route(2, sender, data, 3, reference);
  }
  TskmanTask* Route(uint32_t kind, const char* sender, const std::string& data, uint8_t header,
                    uint32_t port = 0) {
    const SmsInMessage m{7, kind, sender, static_cast<uint8_t>(data.size()), header,
                         reinterpret_cast<const uint8_t*>(data.data()), 2, port};
    TskmanTask* t = SmsRoute(&state, &m);
    Pump();
    return t;
  }
  // The data of every message the application got, its records freed.
  std::vector<std::string> Delivered() {
    std::vector<std::string> out;
    for (const Received& r : app->log) {
      if (r.message != SmsServiceMsg::Delivered) continue;
      auto* m = reinterpret_cast<SmsMessage*>(r.arg1);
      std::string data(NetBufLength(m->data), '\0');
      NetBufRead(m->data, data.data(), 0, static_cast<uint32_t>(data.size()));
      out.push_back(data);
      SmsMessageFree(&m);
    }
    app->log.clear();
    return out;
  }
  SmsState state{};
  std::unique_ptr<Recorder> service, app;
};

TEST_F(SmsRouteTest, SegmentsJoinInWhateverOrderTheyArrive) {
  struct Case {
    uint8_t total;
    std::vector<uint8_t> order;
  };
  const Case cases[] = {{2, {2, 1}}, {2, {1, 2}}, {3, {1, 3, 2}}, {3, {3, 2, 1}},
                        {4, {2, 4, 1, 3}}, {5, {5, 1, 3, 2, 4}}};
  ASSERT_EQ(SmsRegisterApp(&state, app->task(), 2, 0, nullptr, 0), kOk);
  for (const Case& c : cases) {
    std::string whole{'\0', static_cast<char>(c.total), '\0'};
    for (uint8_t i = 1; i <= c.total; ++i) whole += std::string(i * 40, static_cast<char>('a' + i));
    for (size_t i = 0; i < c.order.size(); ++i) {
      const uint8_t seq = c.order[i];
      EXPECT_TRUE(Delivered().empty());
      EXPECT_EQ(Segment("+4911", 77, c.total, seq, std::string(seq * 40, static_cast<char>('a' + seq))),
                app->task());
    }
    // The kept header is segment 1's.
    EXPECT_EQ(Delivered(), std::vector<std::string>{whole}) << int(c.total);
    EXPECT_EQ(SmsReassemblyCount(&state), 0u);
  }
}

TEST_F(SmsRouteTest, RepeatsStraySequencesAndTwoSendersKeepApart) {
  ASSERT_EQ(SmsRegisterApp(&state, app->task(), 2, 0, nullptr, 0), kOk);
  Segment("+4911", 5, 3, 1, "a");
  Segment("+4911", 5, 3, 1, "a");  // a repeat
  Segment("+4911", 5, 3, 4, "X");  // past the count
  Segment("+4911", 5, 3, 0, "X");  // sequence 0 (byte 255 + 1)
  Segment("+4922", 5, 3, 2, "other");
  Segment("+4911", 5, 3, 3, "c");
  Segment("+4911", 5, 3, 3, "c");
  EXPECT_TRUE(Delivered().empty());
  EXPECT_EQ(SmsReassemblyCount(&state), 2u);
  Segment("+4911", 5, 3, 2, "b");
  EXPECT_EQ(Delivered(), std::vector<std::string>{std::string("\0\3\0abc", 6)});
  EXPECT_EQ(SmsReassemblyCount(&state), 1u);
}

// Two messages one sender numbers alike but that announce other counts
// (a tool that takes its port as the reference) each gather their own
// segments: the whole one is delivered, the other waits for its rest.
TEST_F(SmsRouteTest, OneReferenceWithTwoCountsKeepsTwoMessagesApart) {
  struct Segments {
    uint8_t total, seq;
    const char* payload;
  };
  const std::vector<Segments> cases[] = {
      {{2, 1, "a"}, {3, 1, "x"}, {3, 2, "y"}, {3, 3, "z"}},
      {{3, 2, "y"}, {2, 1, "a"}, {3, 3, "z"}, {3, 1, "x"}},
  };
  ASSERT_EQ(SmsRegisterApp(&state, app->task(), 2, 0, nullptr, 0), kOk);
  for (const std::vector<Segments>& c : cases) {
    for (const Segments& s : c) Segment("+4911", 5, s.total, s.seq, s.payload);
    EXPECT_EQ(Delivered(), std::vector<std::string>{std::string("\0\3\0xyz", 6)});
    EXPECT_EQ(SmsReassemblyCount(&state), 1u);
    Segment("+4911", 5, 2, 2, "b");
    EXPECT_EQ(Delivered(), std::vector<std::string>{std::string("\0\2\0ab", 5)});
  }
}

// A sequence that came already: with the same bytes it was sent twice and
// is dropped; with others it begins a new message under the reference, and
// the unfinished one is given up and told. Once a message was whole, a
// segment of it sent again is no message lost; another message under its
// reference may share the bytes of some of its segments.
std::vector<std::string>* gUnfinished;
void HearUnfinished(const char* sender, uint32_t came, uint32_t total, const TskmanRef&) {
  gUnfinished->push_back(std::string(sender) + " " + std::to_string(came) + "/" + std::to_string(total));
}
// The routing tells `told` of each message whose rest never came, for the
// application that claims port 2.
bool HearUnfinishedFor(std::vector<std::string>* told, SmsState* state, TskmanTask* app) {
  gUnfinished = told;
  SmsOnUnfinished(HearUnfinished);
  return SmsRegisterApp(state, app, 2, 0, nullptr, 0) == kOk;
}

TEST_F(SmsRouteTest, ASequenceThatComesAgainIsARepeatOrANewMessage) {
  struct Sent {
    uint8_t seq;
    const char* payload;
  };
  struct Case {
    const char* what;
    uint8_t total;
    std::vector<Sent> segments;
    std::vector<std::string> delivered;  // after the header {0, total, 0}
    std::vector<std::string> told;       // by the end of every wait
    uint32_t waiting = 0;                // records left as the last segment came
  };
  const Case cases[] = {
      {"segment 1 again", 2, {{1, "aa"}, {1, "aa"}, {2, "b"}}, {"aab"}, {}},
      {"a run's first again", 3, {{1, "a"}, {2, "b"}, {1, "a"}, {3, "c"}}, {"abc"}, {}},
      {"a run's middle again", 4, {{1, "a"}, {2, "bb"}, {3, "c"}, {2, "bb"}, {4, "d"}}, {"abbcd"},
       {}},
      {"segment 1 with other bytes", 2, {{1, "aa"}, {1, "AA"}, {2, "b"}}, {"AAb"}, {"+4911 1/2"}},
      {"a run's middle with other bytes", 3, {{1, "a"}, {2, "b"}, {2, "B"}, {1, "x"}, {3, "z"}},
       {"xBz"}, {"+4911 2/3"}},
      {"the same number, another length", 3, {{2, "bb"}, {3, "c"}, {2, "b"}, {1, "a"}, {3, "c"}},
       {"abc"}, {"+4911 2/3"}},
      {"a segment again once whole", 2, {{1, "a"}, {2, "b"}, {2, "b"}}, {"ab"}, {}, 1},
      {"segment 1 again once whole, then other bytes under it", 2,
       {{1, "a"}, {2, "b"}, {1, "a"}, {1, "A"}}, {"ab"}, {"+4911 1/2"}, 1},
      {"the next message with the last segment's bytes", 2,
       {{1, "a"}, {2, "z"}, {1, "b"}, {2, "z"}}, {"az", "bz"}, {}},
      {"the next message with the first segment's bytes", 2,
       {{1, "a"}, {2, "y"}, {1, "a"}, {2, "z"}}, {"ay", "az"}, {}},
      {"every segment again once whole", 2, {{1, "a"}, {2, "b"}, {2, "b"}, {1, "a"}},
       {"ab", "ab"}, {}},
  };
  std::vector<std::string> told;
  ASSERT_TRUE(HearUnfinishedFor(&told, &state, app->task()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    told.clear();
    for (const Sent& s : c.segments) Segment("+4911", 7, c.total, s.seq, s.payload);
    std::vector<std::string> wholes;
    for (const std::string& d : c.delivered)
      wholes.push_back(std::string{'\0', static_cast<char>(c.total), '\0'} + d);
    EXPECT_EQ(Delivered(), wholes);
    EXPECT_EQ(SmsReassemblyCount(&state), c.waiting);
    // Every wait ends: of the records, of what was delivered and of what was
    // given up.
    for (int i = 0; i < 2 * kSmsLifetime; ++i) SmsAge(&state);
    EXPECT_EQ(state.timer, nullptr);
    EXPECT_EQ(told, c.told);
    EXPECT_EQ(SmsReassemblyCount(&state), 0u);
  }
  SmsOnUnfinished(nullptr);
  gUnfinished = nullptr;
}

// Only the newest whole messages are remembered: a copy of one older than
// them is taken for a message of its own, and told as its wait ends.
TEST_F(SmsRouteTest, ACopyOfAMessageNoLongerRememberedIsToldAsBefore) {
  std::vector<std::string> told;
  ASSERT_TRUE(HearUnfinishedFor(&told, &state, app->task()));
  // Each from a sender of its own, all in one ageing pass.
  const uint32_t count = kSmsCompletedMax + 2;
  std::vector<std::string> senders;
  for (uint32_t i = 1; i <= count; ++i) senders.push_back("+49" + std::to_string(i));
  for (const std::string& sender : senders) {
    Segment(sender.c_str(), 5, 2, 1, "a");
    Segment(sender.c_str(), 5, 2, 2, "b");
  }
  EXPECT_EQ(Delivered().size(), count);
  for (const std::string& sender : senders) Segment(sender.c_str(), 5, 2, 2, "b");
  for (int i = 0; i < 2 * kSmsLifetime; ++i) SmsAge(&state);
  EXPECT_EQ(told, (std::vector<std::string>{"+491 1/2", "+492 1/2"}));
  SmsOnUnfinished(nullptr);
  gUnfinished = nullptr;
}

// A later segment that no claim matches goes to the claimant of its own
// message, not of another one its sender numbered alike with another
// count: message 1 is segments 1-2 of "A...", message 2 segments 1-3 of
// "B...", its segment 2 first.
TEST_F(SmsRouteTest, ASegmentNoClaimMatchesGoesOnlyToItsOwnMessagesClaimant) {
  Recorder other(Mod::TestHarness);
  Pump();
  const uint8_t a[] = {'A'}, b[] = {'B'};
  ASSERT_EQ(SmsRegisterApp(&state, app->task(), 1, 0, a, 1), kOk);
  ASSERT_EQ(SmsRegisterApp(&state, other.task(), 1, 0, b, 1), kOk);
  Segment("+4911", 5, 2, 1, "A1");
  Segment("+4911", 5, 3, 2, "-2");
  Segment("+4911", 5, 3, 1, "B1");
  Segment("+4911", 5, 3, 3, "-3");
  EXPECT_TRUE(Delivered().empty());
  Segment("+4911", 5, 2, 2, "-2");
  EXPECT_EQ(Delivered(), std::vector<std::string>{std::string("\0\2\0A1-2", 7)});
}

TEST_F(SmsRouteTest, AMessageThatNeverCompletesAgesOutWithEverythingItHeld) {
  ASSERT_EQ(SmsRegisterApp(&state, app->task(), 2, 0, nullptr, 0), kOk);
  const uint32_t before = HeapGetStats().freeBytes;
  Segment("+4911", 9, 3, 1, "a");
  Segment("+4911", 9, 3, 3, "c");
  ASSERT_NE(state.timer, nullptr);  // started for the service
  for (int i = 1; i < kSmsLifetime; ++i) ASSERT_EQ(SmsAge(&state), 1u);
  Segment("+4911", 9, 3, 3, "c");  // a repeat renews the lifetime
  for (int i = 1; i < kSmsLifetime; ++i) ASSERT_EQ(SmsAge(&state), 1u);
  EXPECT_EQ(SmsAge(&state), 0u);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
  // The message given up is remembered for a wait more, without memory;
  // then the timer ends.
  EXPECT_NE(state.timer, nullptr);
  for (int i = 1; i < kSmsLifetime; ++i) EXPECT_EQ(SmsAge(&state), 0u);
  EXPECT_EQ(state.timer, nullptr);
  // The reference is free again: a late segment starts afresh.
  Segment("+4911", 9, 3, 2, "b");
  EXPECT_TRUE(Delivered().empty());
}

// A message given up, as its lifetime runs out or as the routing is freed,
// is told with its sender and how many of its segments came; a completed
// one is not.

TEST_F(SmsRouteTest, AMessageGivenUpIsToldWithWhatCame) {
  std::vector<std::string> told;
  ASSERT_TRUE(HearUnfinishedFor(&told, &state, app->task()));
  Segment("+4911", 9, 4, 1, "a");
  Segment("+4911", 9, 4, 3, "c");
  Segment("+4911", 9, 4, 4, "d");
  Segment("+4922", 9, 2, 2, "b");
  Segment("+4922", 9, 2, 1, "a");  // whole
  EXPECT_EQ(Delivered().size(), 1u);
  for (int i = 1; i < kSmsLifetime; ++i) SmsAge(&state);
  EXPECT_TRUE(told.empty());
  Segment("+4933", 8, 3, 2, "b");
  EXPECT_EQ(SmsAge(&state), 1u);
  EXPECT_EQ(told, std::vector<std::string>{"+4911 3/4"});
  SmsStateFree(&state);
  EXPECT_EQ(told, (std::vector<std::string>{"+4911 3/4", "+4933 1/3"}));
  SmsOnUnfinished(nullptr);
  gUnfinished = nullptr;
}

// Whichever of its segments the heap cannot take, a message is delivered
// whole or counted lost once: segments lost before its record could be made
// and after are one loss.
TEST_F(SmsRouteTest, AMessageLostForWantOfMemoryIsCountedOnce) {
  ASSERT_EQ(SmsRegisterApp(&state, app->task(), 2, 0, nullptr, 0), kOk);
  uint32_t delivered = 0, lost = 0;
  uint16_t reference = 0;
  // Segments 1, 3, 2; bit k: the heap is cut while the k-th of them is routed.
  const uint8_t order[] = {1, 3, 2};
  for (int cuts = 1; cuts < 8; ++cuts) {
    for (uint32_t reserve = 0; reserve <= 640; reserve += 8) {
      SCOPED_TRACE(testing::Message() << "cuts " << cuts << " reserve " << reserve);
      const uint32_t before = state.lostShortOfMemory;
      ++reference;
      for (int k = 0; k < 3; ++k) {
        std::vector<void*> eaten;
        if (cuts & 1 << k) eaten = EatHeapFinely(reserve);
        Segment("+4911", reference, 3, order[k], std::string(60, static_cast<char>('a' + k)));
        for (void* p : eaten) MemFreeRaw(p);
      }
      const size_t got = Delivered().size();
      EXPECT_EQ(got + state.lostShortOfMemory - before, 1u);
      (got ? delivered : lost) += 1;
      for (int i = 0; i < kSmsLifetime; ++i) SmsAge(&state);
    }
  }
  EXPECT_GT(delivered, 0u);
  EXPECT_GT(lost, 0u);
  // A loss without a record is remembered as long as a record would wait:
  // then the reference is free again, and a new loss under it counts.
  const uint32_t before = state.lostShortOfMemory;
  std::vector<void*> eaten = EatHeapFinely(0);
  Segment("+4922", 1, 2, 1, "a");
  Segment("+4922", 1, 2, 2, "b");
  EXPECT_EQ(state.lostShortOfMemory, before + 1);
  for (int i = 0; i < kSmsLifetime; ++i) SmsAge(&state);
  Segment("+4922", 1, 2, 2, "b");
  EXPECT_EQ(state.lostShortOfMemory, before + 2);
  for (void* p : eaten) MemFreeRaw(p);
}

// A segment sent again once its message was whole loses nothing when the
// heap cannot take it: no loss is counted, and nothing is told.
TEST_F(SmsRouteTest, ACopyOfAWholeMessageTheHeapCannotTakeLosesNothing) {
  struct Case {
    const char* what;
    std::vector<uint8_t> taken;  // copies routed before the heap is cut
    uint8_t cut;                 // the copy routed while it is
  };
  const Case cases[] = {{"its record cannot be made", {}, 2},
                        {"a run of its own after its record", {1}, 3},
                        {"segment 1 after its record", {3}, 1}};
  std::vector<std::string> told;
  ASSERT_TRUE(HearUnfinishedFor(&told, &state, app->task()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string payload[] = {std::string(60, 'a'), std::string(60, 'b'),
                                   std::string(60, 'c')};
    for (uint8_t seq = 1; seq <= 3; ++seq) Segment("+4911", 3, 3, seq, payload[seq - 1]);
    ASSERT_EQ(Delivered().size(), 1u);
    for (uint8_t seq : c.taken) Segment("+4911", 3, 3, seq, payload[seq - 1]);
    const uint32_t before = state.lostShortOfMemory;
    std::vector<void*> eaten = EatHeapFinely(0);
    Segment("+4911", 3, 3, c.cut, payload[c.cut - 1]);
    for (void* p : eaten) MemFreeRaw(p);
    EXPECT_EQ(state.lostShortOfMemory, before);
    for (int i = 0; i < 2 * kSmsLifetime; ++i) SmsAge(&state);
    EXPECT_TRUE(told.empty());
    EXPECT_TRUE(Delivered().empty());
  }
  SmsOnUnfinished(nullptr);
  gUnfinished = nullptr;
}

// A claim may outlive its task: its message goes nowhere, so memory it
// lacks on the way loses nothing and counts nothing. The same message for a
// task that stands is counted lost.
TEST_F(SmsRouteTest, AClaimWhoseTaskIsGoneCountsNoLoss) {
  struct Case {
    const char* what;
    bool recordFirst;  // segment 1 is taken before the heap is cut
    uint8_t total;     // 0: a single message
  };
  const Case cases[] = {{"a single message", false, 0},
                        {"a segment its record cannot be made for", false, 3},
                        {"a segment after its record", true, 3}};
  uint16_t reference = 40;
  for (bool standing : {true, false}) {
    auto gone = std::make_unique<Recorder>(Mod::TestHarness);
    TskmanTask* claimant = standing ? app->task() : gone->task();
    ASSERT_EQ(SmsRegisterApp(&state, claimant, 1, 0, nullptr, 0), kOk);
    if (!standing) {
      gone.reset();
      Pump();
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.what << (standing ? ", task standing" : ", task gone"));
      ++reference;
      if (c.recordFirst) Segment("+4911", reference, c.total, 1, "a");
      const uint32_t before = state.lostShortOfMemory;
      std::vector<void*> eaten = EatHeapFinely(0);
      if (c.total)
        Segment("+4911", reference, c.total, 3, "c");
      else
        Route(1, "+4911", "hello", 0);
      for (void* p : eaten) MemFreeRaw(p);
      EXPECT_EQ(state.lostShortOfMemory - before, standing ? 1u : 0u);
      EXPECT_TRUE(Delivered().empty());
    }
    SmsUnregisterApp(&state, claimant);
  }
}

// A message whose record cannot be made is remembered without memory for
// as long as its record would have waited, so that its other segments are
// not counted again: whatever its sender's length or letter case, and
// interleaved with others so lost.
TEST_F(SmsRouteTest, MessagesLostWithoutARecordAreEachCountedOnce) {
  ASSERT_EQ(SmsRegisterApp(&state, app->task(), 2, 0, nullptr, 0), kOk);
  const std::string digits = "+12345678901234567890123456789";
  const std::string s19 = digits.substr(0, 19), s20 = digits.substr(0, 20),
                    s21 = digits.substr(0, 21), s31 = digits.substr(0, 31);
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, uint8_t>> segments;  // sender, sequence
    uint32_t messages;
  };
  const Case cases[] = {
      {"a sender of 19 characters", {{s19, 1}, {s19, 3}, {s19, 2}}, 1},
      {"a sender of 20 characters", {{s20, 1}, {s20, 3}, {s20, 2}}, 1},
      {"a sender of 21 characters", {{s21, 1}, {s21, 3}, {s21, 2}}, 1},
      {"a sender of 31 characters", {{s31, 2}, {s31, 1}}, 1},
      {"a sender in other letters", {{"Alice", 1}, {"ALICE", 2}, {"alice", 3}}, 1},
      {"two messages interleaved", {{"+4911", 1}, {"+4922", 1}, {"+4911", 2}, {"+4922", 2}}, 2},
      {"four messages interleaved",
       {{"+4911", 1}, {"+4922", 1}, {"+4933", 1}, {"+4944", 1},
        {"+4944", 2}, {"+4933", 2}, {"+4922", 2}, {"+4911", 2}},
       4},
  };
  uint16_t reference = 60;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ++reference;
    const uint32_t before = state.lostShortOfMemory;
    std::vector<void*> eaten = EatHeapFinely(0);
    for (const auto& [sender, seq] : c.segments)
      Segment(sender.c_str(), reference, 3, seq, std::string(20, 'x'));
    for (void* p : eaten) MemFreeRaw(p);
    EXPECT_EQ(state.lostShortOfMemory - before, c.messages);
    EXPECT_EQ(SmsReassemblyCount(&state), 0u);
    for (int i = 0; i < kSmsLifetime; ++i) SmsAge(&state);
  }
}

// Only the ageing timer ends a message remembered as lost without a record:
// when none could start, or the state was freed, it is forgotten, so that a
// later message under the same reference is taken for its own and its loss
// counted.
TEST_F(SmsRouteTest, ALossRememberedWithNoTimerToEndItIsForgotten) {
  for (bool freed : {false, true}) {
    SCOPED_TRACE(freed ? "the state freed" : "no timer could start");
    ASSERT_EQ(SmsRegisterApp(&state, app->task(), 2, 0, nullptr, 0), kOk);
    const uint32_t before = state.lostShortOfMemory;
    std::vector<void*> eaten = EatHeapFinely(0);
    // Every timer the task manager holds or could make is taken.
    std::vector<TskmanTimer*> held;
    if (!freed)
      for (TskmanTimer* t; TskmanStartTimer(&t, app->task(), 0, 0, 1000000) == kOk;)
        held.push_back(t);
    Segment("+4911", 90, 3, 1, "a");
    for (TskmanTimer*& t : held) TskmanCancelTimer(&t);
    for (void* p : eaten) MemFreeRaw(p);
    ASSERT_EQ(state.lostShortOfMemory, before + 1);
    if (freed) {
      SmsStateFree(&state);
      ASSERT_EQ(SmsRegisterApp(&state, app->task(), 2, 0, nullptr, 0), kOk);
    } else {
      EXPECT_EQ(state.timer, nullptr);
    }
    // The later message under reference 90 loses its third segment.
    Segment("+4911", 90, 3, 1, "a");
    eaten = EatHeapFinely(0);
    Segment("+4911", 90, 3, 3, "c");
    for (void* p : eaten) MemFreeRaw(p);
    EXPECT_EQ(state.lostShortOfMemory, before + 2);
    EXPECT_TRUE(Delivered().empty());
    SmsStateFree(&state);
  }
}

TEST_F(SmsRouteTest, ClaimsByKindAndPattern) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  Recorder binary(Mod::TestHarness);
  Pump();
  ASSERT_EQ(SmsRegisterApp(&state, app->task(), 0, 0, abc, 3), kOk);
  ASSERT_EQ(SmsRegisterApp(&state, binary.task(), 1, 1, abc, 3), kOk);
  EXPECT_EQ(Route(0, "+1", "ABCdef", 0), app->task());
  EXPECT_EQ(Route(0, "+1", "abd", 0), nullptr);
  EXPECT_EQ(Route(0, "+1", "ab", 0), nullptr);       // shorter than the pattern
  EXPECT_EQ(Route(3, "+1", "HHxabc", 2), binary.task());  // after the header, at offset 1
  EXPECT_EQ(Route(3, "+1", "HHxABC", 2), nullptr);   // binary patterns keep their case
  EXPECT_EQ(Delivered(), std::vector<std::string>{"ABCdef"});
  ASSERT_EQ(binary.Count(SmsServiceMsg::Delivered), 1u);
  auto* m = reinterpret_cast<SmsMessage*>(binary.log.back().arg1);
  EXPECT_EQ(NetBufLength(m->data), 4u);  // the header cut off
  EXPECT_EQ(m->headerLength, 0u);
  EXPECT_STREQ(m->sender, "+1");
  EXPECT_EQ(m->source, 7u);
  SmsMessageFree(&m);
  // An application that leaves claims nothing more; the others keep theirs.
  SmsUnregisterApp(&state, app->task());
  EXPECT_EQ(Route(0, "+1", "ABCdef", 0), nullptr);
  EXPECT_EQ(Route(3, "+1", "HHxabc", 2), binary.task());
  ASSERT_EQ(binary.Count(SmsServiceMsg::Delivered), 2u);
  m = reinterpret_cast<SmsMessage*>(binary.log.back().arg1);
  SmsMessageFree(&m);
}

TEST_F(SmsRouteTest, AMessageForAnApplicationWithNoTaskIsDroppedAndFreed) {
  ASSERT_EQ(SmsRegisterApp(&state, app->task(), 0, 0, nullptr, 0), kOk);
  app->Destroy();
  const uint32_t before = HeapGetStats().freeBytes;
  Route(0, "+1", "hello", 0);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

TEST_F(SmsRouteTest, SendRequestsReachTheServiceOrAreAnsweredAtOnce) {
  Recorder requester(Mod::TestHarness);
  Pump();
  auto message = [] {
    return static_cast<SmsMessage*>(MemAllocZero(sizeof(SmsMessage), Use::Data, Mod::Sms));
  };
  SmsSendRequest(requester.task(), LibcWStrDup(u"1"), 4, message());
  SmsCancelRequest(requester.task(), 4);
  Pump();
  ASSERT_EQ(service->Messages(), (std::vector<uint32_t>{SmsServiceMsg::Send, SmsServiceMsg::Cancel}));
  auto* request = reinterpret_cast<SmsSendRequestRec*>(service->log[1].arg2);
  EXPECT_EQ(request->value, 4u);
  SmsMessageFree(&request->message);
  MemFree(&request->reference);
  MemFree(&request);

  SmsSendRequest(requester.task(), LibcWStrDup(u"2"), 0, nullptr);
  service.reset();
  // Without the service nothing is broadcast: only the requester hears.
  SmsSendRequest(requester.task(), LibcWStrDup(u"3"), 0, message());
  Pump();
  ASSERT_EQ(requester.Messages(),
            (std::vector<uint32_t>{SmsServiceMsg::NotSent, SmsServiceMsg::RequestOver,
                                   SmsServiceMsg::NotSent, SmsServiceMsg::RequestOver}));
  EXPECT_EQ(requester.log[1].arg2, kSmsRequestNoMessage);
  EXPECT_EQ(requester.log[3].arg2, kSmsNoService);
  for (int i : {1, 3}) {
    auto* text = reinterpret_cast<char16_t*>(requester.log[i].arg1);
    MemFree(&text);
  }
  // A requester that has gone hears nothing; its reference is freed.
  requester.Destroy();
  const uint32_t before = HeapGetStats().freeBytes;
  SmsSendRequest(requester.task(), LibcWStrDup(u"4"), 0, nullptr);
  Pump();
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

}  // namespace
