// Send and cancel requests to the SMS service task.
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "services/sms/sms.h"

namespace {

// Answered at once: the requester hears "not sent" and the end of the
// request, as the service would tell it, so it is never left waiting.
void Refuse(const TskmanRef& requester, char16_t* reference, Result code) {
  if (!TskmanRefAlive(requester)) {
    MemFree(&reference);
    return;
  }
  TskmanPost(requester.task, SmsServiceMsg::NotSent, reinterpret_cast<uintptr_t>(reference), code);
  TskmanPost(requester.task, SmsServiceMsg::RequestOver, 0, 0);
}

}  // namespace

void SmsSendRequest(TskmanTask* requester, char16_t* reference, uint32_t value,
                    SmsMessage* message) {
  // Named as the request is made: the refusals below go to this task only.
  const TskmanRef to = TskmanRefOf(requester);
  if (!message) return Refuse(to, reference, kSmsRequestNoMessage);
  // Without the service a post would go to every task, the requester too.
  TskmanTask* service = TskmanFind(Mod::Sms);
  if (!service) {
    SmsMessageFree(&message);
    return Refuse(to, reference, kSmsNoService);
  }
  auto* request = static_cast<SmsSendRequestRec*>(
      MemAllocZero(sizeof(SmsSendRequestRec), Use::Context, Mod::Sms));
  if (!request) {
    SmsMessageFree(&message);
    return Refuse(to, reference, kSmsRequestNoMemory);
  }
  request->reference = reference;
  request->value = value;
  request->message = message;
  TskmanPost(service, SmsServiceMsg::Send, reinterpret_cast<uintptr_t>(requester),
             reinterpret_cast<uintptr_t>(request));
}

void SmsCancelRequest(TskmanTask* requester, uint32_t value) {
  if (TskmanTask* service = TskmanFind(Mod::Sms))
    TskmanPost(service, SmsServiceMsg::Cancel, reinterpret_cast<uintptr_t>(requester), value);
}
