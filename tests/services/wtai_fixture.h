// What the WTAI and WTA library tests share: the emulated handset's answers
// with every request's arguments written down, and a stand-in browser task
// that answers consent questions and the WTA-context messages as told.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "tests/support/engine_fixture.h"

struct SmsSendRequestRec;

class WtaiFixture : public EngineFixture {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The stand-in browser task's consent answer (1 accept, 0 refuse).
  uint32_t accept = 1;
  // While set, consent questions are kept unanswered in `held` (each a
  // WtaiConsentRecord) for the test to decide with Decide.
  bool holdConsents = false;
  std::vector<void*> held;
  void Decide(size_t index, uint32_t accepted);
  // The prompts asked, the handset requests made ("PubMakeCall(+123)"), and
  // the answers (code, text) the answer task got.
  std::vector<std::u16string> prompts;
  std::vector<std::string>& calls();
  std::vector<std::pair<int32_t, std::u16string>> Answers(Recorder& task);
  // Answers a text request as the SMS service does (the outcome for its
  // reference, then the request's end), frees the request and lets the
  // answer run through.
  void AnswerSms(SmsSendRequestRec* request, uint32_t outcome, uintptr_t code = 0);
  std::unique_ptr<Recorder> browser, answer;
};

std::string Narrow(const char16_t* text);
// The text a request carries, as the service would send it.
std::string SmsText(const SmsSendRequestRec* request);
