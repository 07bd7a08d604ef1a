// The service tasks the start-up task brings up and down: each tells its
// starter that it runs and that it stopped, answers a creation that fails as
// its contract says, and leaves no task and no memory behind.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "browser/status.h"
#include "browser/userpref.h"
#include "kernel/config.h"
#include "kernel/heap.h"
#include "markup/varparse.h"
#include "net/auth.h"
#include "net/cookies.h"
#include "net/dns.h"
#include "security/ecapi.h"
#include "services/lc.h"
#include "services/notify.h"
#include "tests/kernel/config_fixture.h"

namespace {

constexpr uint32_t kNone = UINT32_MAX;

struct ServiceCase {
  const char* name;
  uint32_t module;
  Result (*start)(TskmanTask* starter);
  void (*stop)(TskmanTask* requester);
  uint32_t started;
  uint32_t stopped;        // kNone: the stop answers nothing
  uint32_t stoppedAbsent;  // the answer of a stop when no task runs
  // When the task cannot be made:
  uint32_t failAnswer;     // kNone: no answer comes
  int errorArg;            // the argument of the answer that holds the error (0: none)
  Result failResult;       // what the start call returns (kOk: it returns nothing)
};

template <void (*Start)(TskmanTask*)>
Result NoResult(TskmanTask* starter) {
  Start(starter);
  return kOk;
}
void StopPush(TskmanTask*) { NotifyStopTask(); }

const ServiceCase kCases[] = {
    {"Status", Mod::Status, StatusCreateTask, StatusStopTask, StatusMsg::Started, kNone, kNone,
     kNone, 0, kStatusNoMemory},
    {"UserPref", Mod::UserPref, NoResult<UserPrefStartTask>, UserPrefStopTask,
     UserPrefMsg::Started, UserPrefMsg::Stopped, UserPrefMsg::Stopped, UserPrefMsg::Failed, 1,
     kOk},
    {"VarParse", Mod::VarParse, VarParseStartTask, VarParseStopTask, VarParseMsg::Ready,
     VarParseMsg::Stopped, VarParseMsg::Stopped, VarParseMsg::Ready, 0, kTskmanNoMemory},
    {"Auth", Mod::Authentication, NoResult<AuthStartTask>, AuthStopTask, AuthMsg::Started,
     AuthMsg::Stopped, AuthMsg::Stopped, AuthMsg::Started, 0, kOk},
    {"Cookies", Mod::Cookies, NoResult<CookiesStartTask>, CookiesStopTask, CookiesMsg::Started,
     CookiesMsg::Stopped, CookiesMsg::Stopped, CookiesMsg::Started, 0, kOk},
    {"Dns", Mod::Dns, NoResult<DnsStartTask>, DnsStopTask, DnsMsg::Started, DnsMsg::Stopped,
     DnsMsg::Stopped, DnsMsg::StartFailed, 2, kOk},
    {"Ecapi", Mod::Ecapi, EcapiStartSeedTask, EcapiStopSeedTask, EcapiMsg::Started,
     EcapiMsg::Stopped, EcapiMsg::Stopped, kNone, 0, kEcapiNoMemory},
    {"Lc", Mod::LocalContent, NoResult<LcStartTask>, LcStopTask, LcMsg::Started, LcMsg::Stopped,
     LcMsg::Stopped, LcMsg::Started, 0, kOk},
    // Push reception answers the task that started it, and nothing when absent.
    {"Notify", Mod::Notify, NotifyStartTask, StopPush, NotifyMsg::Started, NotifyMsg::Stopped,
     kNone, kNone, 0, kNotifyNoMemory},
};

class ServiceTaskTest : public WorkDirFixture, public ::testing::WithParamInterface<ServiceCase> {
 protected:
  void SetUp() override {
    WorkDirFixture::SetUp();
    settingsOwner_ = std::make_unique<Recorder>(Mod::TestHarness);
    starter_ = std::make_unique<Recorder>(Mod::TestCode);
    Pump();
    ASSERT_EQ(ConfigStart(settingsOwner_->task()), kOk);
    Pump();
    freeBefore_ = HeapGetStats().freeBytes;
  }
  void TearDown() override {
    ConfigStop();
    Pump();
    starter_.reset();
    settingsOwner_.reset();
    WorkDirFixture::TearDown();
  }
  // Nothing of the service is left: no task, no context.
  void ExpectGone() {
    EXPECT_EQ(TskmanFind(GetParam().module), nullptr);
    EXPECT_EQ(HeapGetStats().freeBytes, freeBefore_);
    EXPECT_EQ(HeapValidate(), nullptr);
  }
  static std::vector<uint32_t> Only(uint32_t a, uint32_t b = kNone) {
    std::vector<uint32_t> v;
    if (a != kNone) v.push_back(a);
    if (b != kNone) v.push_back(b);
    return v;
  }

  std::unique_ptr<Recorder> settingsOwner_, starter_;
  uint32_t freeBefore_ = 0;
};

TEST_P(ServiceTaskTest, AnswersItsStartAndItsStopAndLeavesNothing) {
  const ServiceCase& c = GetParam();
  EXPECT_EQ(c.start(starter_->task()), kOk);
  Pump();
  EXPECT_EQ(starter_->Messages(), Only(c.started));
  EXPECT_NE(TskmanFind(c.module), nullptr);
  c.stop(starter_->task());
  Pump();
  EXPECT_EQ(starter_->Messages(), Only(c.started, c.stopped));
  ExpectGone();
}

TEST_P(ServiceTaskTest, AFailedCreationIsAnsweredAsAgreed) {
  const ServiceCase& c = GetParam();
  TskmanFailNextCreate(c.module);
  EXPECT_EQ(c.start(starter_->task()), c.failResult);
  Pump();
  ASSERT_EQ(starter_->Messages(), Only(c.failAnswer));
  if (c.errorArg != 0) {
    const Received& answer = starter_->log.back();
    EXPECT_NE(c.errorArg == 1 ? answer.arg1 : answer.arg2, 0u);
  }
  ExpectGone();
}

INSTANTIATE_TEST_SUITE_P(EachService, ServiceTaskTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
