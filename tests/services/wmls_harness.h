// Runs functions of compiled WMLScript units through the loader and the
// interpreter, and describes what they leave: "i:42", "s:text", "b:true",
// "invalid", "unset", or "err:STATUS" (hex) when the run ended with an error.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "services/wmlscript/wmls.h"
#include "tests/services/wmls_mbuint.h"
#include "tests/support/fetch_driver.h"

struct UrlRequestRec;
struct WmlsScriptTask;

std::vector<uint8_t> WmlsReadUnit(const std::string& name);
// The compiled unit `name` as a server answers it, for a fetch driver to serve.
FetchBody WmlsUnitBody(const std::string& name);
// Posts "URL#call" to the script task as a link would (the task takes the
// text's copy).
void WmlsPostRun(WmlsScriptTask* task, const std::string& text, UrlRequestRec* referring = nullptr);
std::string WmlsDescribe(const WmlsValue& v);

struct WmlsOutcome {
  int32_t result = 0;  // of the last slice, or of the start
  int32_t status = 0;
  std::string value;   // the description of the value left on the stack
  uint32_t slices = 0;
};

// Runs function `fn` (by name, or "#N" for an index) with integer or string
// arguments ("i:N" / "s:text", each byte one unit) for at most maxSlices slices.
WmlsOutcome WmlsRunUnit(WmlsUnit* unit, const std::string& fn, const std::vector<std::string>& args,
                        uint32_t maxSlices = 100000, WmlsRunContext* keep = nullptr);
// Loads the compiled unit `file`, runs `fn` in it to its end with the script
// task's record and the unit's own URL, and describes the value it leaves.
std::string WmlsRunFile(const std::string& file, const std::string& fn, const std::vector<std::string>& args,
                        void* scriptTask = nullptr, const char* unitUrl = nullptr);

// A unit written by hand: the file format from its parts.
struct WmlsUnitBuilder {
  std::vector<uint8_t> constants;
  uint32_t constantCount = 0;
  uint32_t charset = 106;
  std::vector<uint8_t> pragmas;
  uint32_t pragmaCount = 0;
  struct Fn {
    uint8_t args, locals;
    std::vector<uint8_t> code;
  };
  std::vector<Fn> functions;
  std::vector<std::pair<uint8_t, std::string>> names;

  WmlsUnitBuilder& Int(int32_t n);
  WmlsUnitBuilder& Utf8(const std::string& s);
  WmlsUnitBuilder& Raw(std::vector<uint8_t> bytes, uint32_t count = 1);
  WmlsUnitBuilder& Function(uint8_t args, uint8_t locals, std::vector<uint8_t> code);
  std::vector<uint8_t> Build() const;
};
