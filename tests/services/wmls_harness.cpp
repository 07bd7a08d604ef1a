#include "tests/services/wmls_harness.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "kernel/mem.h"
#include "services/wmlscript/wmls_script_task.h"

std::vector<uint8_t> WmlsReadUnit(const std::string& name) {
  std::ifstream in(std::string(QOR_WMLS_DIR) + "/" + name + ".wmlsc", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

FetchBody WmlsUnitBody(const std::string& name) {
  const std::vector<uint8_t> unit = WmlsReadUnit(name);
  FetchBody body;
  body.body.assign(unit.begin(), unit.end());
  body.contentType = "application/vnd.wap.wmlscriptc";
  return body;
}

static std::string Narrow(const char16_t* s) {
  std::string out;
  for (; s && *s; ++s) {
    if (*s < 0x80) {
      out += static_cast<char>(*s);
    } else {
      char buf[12];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(*s));
      out += buf;
    }
  }
  return out;
}

std::string WmlsDescribe(const WmlsValue& v) {
  switch (v.type) {
    case WmlsType::Unset: return "unset";
    case WmlsType::Invalid: return "invalid";
    case WmlsType::Integer: return "i:" + std::to_string(WmlsInt(v));
    case WmlsType::Boolean: return v.value ? "b:true" : "b:false";
    case WmlsType::String: return WmlsStr(v) ? "s:" + Narrow(WmlsStr(v)) : "s(none)";
    default: return "type" + std::to_string(v.type);
  }
}

static WmlsOutcome Run(WmlsUnit* unit, const std::string& fn, const std::vector<std::string>& args,
                       uint32_t maxSlices, WmlsRunContext* keep, void* scriptTask, const char* unitUrl) {
  WmlsOutcome o;
  int32_t index = -1;
  if (!fn.empty() && fn[0] == '#') {
    index = std::stoi(fn.substr(1));
  } else {
    std::u16string name(fn.begin(), fn.end());
    index = WmlsFindFunction(unit, name.c_str());
  }
  std::vector<WmlsValue> cells;
  std::vector<std::u16string> texts;
  texts.reserve(args.size());
  for (const std::string& a : args) {
    if (a.rfind("i:", 0) == 0) {
      cells.push_back(WmlsMakeInt(std::stoi(a.substr(2))));
    } else {
      texts.emplace_back();
      for (size_t i = 2; i < a.size(); ++i) texts.back() += static_cast<char16_t>(static_cast<uint8_t>(a[i]));
      cells.push_back({WmlsType::String, reinterpret_cast<uintptr_t>(texts.back().c_str()), 1});
    }
  }
  WmlsRunContext local;
  WmlsRunContext* ctx = keep ? keep : &local;
  o.result = WmlsRunStart(ctx, unit, index, cells.data(), static_cast<uint8_t>(cells.size()));
  ctx->scriptTask = scriptTask;
  ctx->unitUrl = unitUrl;
  while (o.result == 0 && ctx->status == 0 && o.slices < maxSlices) {
    o.result = WmlsRunSlice(ctx, kWmlsSliceSteps);
    ++o.slices;
  }
  o.status = ctx->status;
  if (o.result == 0 && (ctx->status == WmlsStatus::Returned || ctx->status == WmlsStatus::Exit) && ctx->top >= 0) {
    o.value = WmlsDescribe(ctx->stack[ctx->top]);
  } else if (ctx->status != 0 && ctx->status != WmlsStatus::Returned) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "err:%X", static_cast<unsigned>(ctx->status));
    o.value = buf;
  } else {
    o.value = "running";
  }
  if (!keep) WmlsRunRelease(ctx);
  return o;
}

WmlsOutcome WmlsRunUnit(WmlsUnit* unit, const std::string& fn, const std::vector<std::string>& args,
                        uint32_t maxSlices, WmlsRunContext* keep) {
  return Run(unit, fn, args, maxSlices, keep, nullptr, nullptr);
}

std::string WmlsRunFile(const std::string& file, const std::string& fn, const std::vector<std::string>& args,
                        void* scriptTask, const char* unitUrl) {
  const std::vector<uint8_t> bytes = WmlsReadUnit(file);
  WmlsUnit* unit = nullptr;
  if (WmlsUnitParse(bytes.data(), static_cast<uint32_t>(bytes.size()), &unit) != WmlsParse::Ok) return "no unit";
  const std::string value = Run(unit, fn, args, 1000, nullptr, scriptTask, unitUrl).value;
  WmlsUnitFree(&unit);
  return value;
}


WmlsUnitBuilder& WmlsUnitBuilder::Int(int32_t n) {
  constants.push_back(2);
  for (int s = 24; s >= 0; s -= 8) constants.push_back(static_cast<uint8_t>(static_cast<uint32_t>(n) >> s));
  ++constantCount;
  return *this;
}
WmlsUnitBuilder& WmlsUnitBuilder::Utf8(const std::string& s) {
  constants.push_back(4);
  WmlsMbUInt(constants, static_cast<uint32_t>(s.size()));
  constants.insert(constants.end(), s.begin(), s.end());
  ++constantCount;
  return *this;
}
WmlsUnitBuilder& WmlsUnitBuilder::Raw(std::vector<uint8_t> bytes, uint32_t count) {
  constants.insert(constants.end(), bytes.begin(), bytes.end());
  constantCount += count;
  return *this;
}
WmlsUnitBuilder& WmlsUnitBuilder::Function(uint8_t a, uint8_t l, std::vector<uint8_t> code) {
  functions.push_back({a, l, std::move(code)});
  return *this;
}
std::vector<uint8_t> WmlsUnitBuilder::Build() const {
  std::vector<uint8_t> body;
  WmlsMbUInt(body, constantCount);
  WmlsMbUInt(body, charset);
  body.insert(body.end(), constants.begin(), constants.end());
  WmlsMbUInt(body, pragmaCount);
  body.insert(body.end(), pragmas.begin(), pragmas.end());
  body.push_back(static_cast<uint8_t>(functions.size()));
  body.push_back(static_cast<uint8_t>(names.size()));
  for (const auto& [index, name] : names) {
    body.push_back(index);
    body.push_back(static_cast<uint8_t>(name.size()));
    body.insert(body.end(), name.begin(), name.end());
  }
  for (const Fn& f : functions) {
    body.push_back(f.args);
    body.push_back(f.locals);
    WmlsMbUInt(body, static_cast<uint32_t>(f.code.size()));
    body.insert(body.end(), f.code.begin(), f.code.end());
  }
  std::vector<uint8_t> out{1};
  WmlsMbUInt(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

void WmlsPostRun(WmlsScriptTask* task, const std::string& text, UrlRequestRec* referring) {
  char* copy = static_cast<char*>(MemAlloc(static_cast<uint32_t>(text.size() + 1), Use::String, Mod::TestCode));
  std::memcpy(copy, text.c_str(), text.size() + 1);
  TskmanPost(WmlsScriptTaskOf(task), WmlsMsg::Run, reinterpret_cast<uintptr_t>(copy),
             reinterpret_cast<uintptr_t>(referring));
}
