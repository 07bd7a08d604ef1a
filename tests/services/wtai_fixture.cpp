#include "tests/services/wtai_fixture.h"

#include "browser/bentask.h"
#include "host/phone.h"
#include "host/platform/handset.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "net/netbuf.h"
#include "services/sms/sms.h"
#include "services/smsmsg.h"
#include "services/wtai/wtai.h"

namespace {

std::vector<std::string> gCalls;

std::string Describe(char16_t* t) { return t ? Narrow(t) : "null"; }
std::string Describe(uintptr_t n) { return std::to_string(static_cast<intptr_t>(n)); }
std::string Describe(PhonebookRecord* r) {
  return r ? "{" + Narrow(r->number) + "," + Narrow(r->name) + "}" : "{}";
}
template <typename... A>
std::string Join(A... a) {
  std::string out;
  ((out += (out.empty() ? "" : ",") + Describe(a)), ...);
  return out;
}

// Each slot writes its request down and then answers as the host does.
template <auto Member, const char* Name>
struct Slot;
template <typename... A, Result (*HandsetOps::*Member)(TskmanTask*, A...), const char* Name>
struct Slot<Member, Name> {
  static Result Call(TskmanTask* t, A... a) {
    gCalls.push_back(std::string(Name) + "(" + Join(a...) + ")");
    return (kHostHandsetOps.*Member)(t, a...);
  }
};

#define QOR_SLOT(field, name)               \
  constexpr char k##name[] = #name;         \
  constexpr auto name##Slot = Slot<&HandsetOps::field, k##name>::Call;
QOR_SLOT(pbWrite, PBWrite)
QOR_SLOT(pbSearch, PBSearch)
QOR_SLOT(pbRemove, PBRemove)
QOR_SLOT(pbGetField, PBGetField)
QOR_SLOT(pbChange, PBChange)
QOR_SLOT(pubMakeCall, PubMakeCall)
QOR_SLOT(vcSetup, VCSetup)
QOR_SLOT(vcAccept, VCAccept)
QOR_SLOT(vcRelease, VCRelease)
QOR_SLOT(vcSendDTMF, VCSendDTMF)
QOR_SLOT(vcCallStatus, VCCallStatus)
QOR_SLOT(vcList, VCList)
QOR_SLOT(clDialled, CLDialled)
QOR_SLOT(clMissed, CLMissed)
QOR_SLOT(clReceived, CLReceived)
QOR_SLOT(clGetField, CLGetField)
QOR_SLOT(ntList, NTList)
QOR_SLOT(ntRemove, NTRemove)
QOR_SLOT(ntGetField, NTGetField)
QOR_SLOT(ntMarkRead, NTMarkRead)
#undef QOR_SLOT

HandsetOps Recording() {
  HandsetOps ops = kHostHandsetOps;
  ops.pbWrite = PBWriteSlot;
  ops.pbSearch = PBSearchSlot;
  ops.pbRemove = PBRemoveSlot;
  ops.pbGetField = PBGetFieldSlot;
  ops.pbChange = PBChangeSlot;
  ops.pubMakeCall = PubMakeCallSlot;
  ops.vcSetup = VCSetupSlot;
  ops.vcAccept = VCAcceptSlot;
  ops.vcRelease = VCReleaseSlot;
  ops.vcSendDTMF = VCSendDTMFSlot;
  ops.vcCallStatus = VCCallStatusSlot;
  ops.vcList = VCListSlot;
  ops.clDialled = CLDialledSlot;
  ops.clMissed = CLMissedSlot;
  ops.clReceived = CLReceivedSlot;
  ops.clGetField = CLGetFieldSlot;
  ops.ntList = NTListSlot;
  ops.ntRemove = NTRemoveSlot;
  ops.ntGetField = NTGetFieldSlot;
  ops.ntMarkRead = NTMarkReadSlot;
  return ops;
}
const HandsetOps kRecording = Recording();

}  // namespace

std::string Narrow(const char16_t* text) {
  std::string out;
  for (; text && *text; ++text) out += static_cast<char>(*text);
  return out;
}

std::vector<std::string>& WtaiFixture::calls() { return gCalls; }

void WtaiFixture::SetUp() {
  EngineFixture::SetUp();
  gCalls.clear();
  HandsetInstall(&kRecording);
  browser = std::make_unique<Recorder>(Mod::Ben, [this](Recorder&, const Received& r) -> Result {
    switch (r.message) {
      case BenMsg::Consent: {
        auto* record = reinterpret_cast<WtaiConsentRecord*>(r.arg1);
        prompts.emplace_back(record->prompt);
        if (holdConsents) {
          held.push_back(record);
          break;
        }
        if (TskmanRefAlive(record->task)) TskmanPost(record->task.task, BenMsg::Decision, accept, 0);
        MemFree(&record->prompt);
        MemFree(&record);
        break;
      }
      case BenMsg::WtaEnd:
      case BenMsg::WtaSet:
      case BenMsg::WtaGet:
        // As the browser does: a request whose answer task is gone is
        // carried out and answers no one.
        if (auto* to = reinterpret_cast<TskmanTask*>(r.arg1); TskmanIsAlive(to))
          TskmanPost(to, BenMsg::Answer, 0,
                     reinterpret_cast<uintptr_t>(LibcWStrDup(r.message == BenMsg::WtaGet ? u"false" : u"")));
        break;
      case BenMsg::WtaEvent: {
        auto* params = reinterpret_cast<BenWtaEventParams*>(r.arg2);
        MemFree(&params->block);
        MemFree(&params);
        break;
      }
      default:
        break;
    }
    return kOk;
  });
  answer = std::make_unique<Recorder>(Mod::TestCode);
  Pump();
}

void WtaiFixture::Decide(size_t index, uint32_t accepted) {
  auto* record = static_cast<WtaiConsentRecord*>(held.at(index));
  held[index] = nullptr;
  // As the browser does: a consent task that has gone is not answered.
  if (TskmanRefAlive(record->task)) TskmanPost(record->task.task, BenMsg::Decision, accepted, 0);
  MemFree(&record->prompt);
  MemFree(&record);
}

void WtaiFixture::TearDown() {
  for (size_t i = 0; i < held.size(); ++i)
    if (held[i]) Decide(i, 0);
  Pump();
  answer.reset();
  browser.reset();
  HandsetInstall(nullptr);
  EngineFixture::TearDown();
}

std::vector<std::pair<int32_t, std::u16string>> WtaiFixture::Answers(Recorder& task) {
  std::vector<std::pair<int32_t, std::u16string>> out;
  for (const Received& r : task.log) {
    if (r.message != BenMsg::Answer) continue;
    auto* text = reinterpret_cast<char16_t*>(r.arg2);
    out.emplace_back(static_cast<int32_t>(r.arg1), text ? text : u"");
    MemFree(&text);
  }
  task.log.clear();
  return out;
}

void WtaiFixture::AnswerSms(SmsSendRequestRec* request, uint32_t outcome, uintptr_t code) {
  TskmanTask* sms = TskmanFind(Mod::WtlWtai2);
  TskmanPost(sms, outcome, reinterpret_cast<uintptr_t>(request->reference), code);
  TskmanPost(sms, SmsServiceMsg::RequestOver, 0, 0);
  request->reference = nullptr;
  SmsMessageFree(&request->message);
  MemFree(&request);
  Pump();
}

std::string SmsText(const SmsSendRequestRec* request) {
  std::string text(NetBufLength(request->message->data), '\0');
  NetBufRead(request->message->data, text.data(), 0, static_cast<uint32_t>(text.size()));
  return text;
}
