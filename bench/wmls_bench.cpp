// The WMLScript interpreter on three programs (tests/data/wmls/bench.wmls,
// compiled by wmlsc) against the same programs in Lua 5.4: an integer loop
// summing 1..n, string building to 8 KB by concatenation, and a loop of
// function calls. The engine's runs report instructions per second; the
// ratio of the two timings of a program is the interpreter's cost.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_engine.h"
#include "services/wmlscript/wmls.h"

#ifdef QOR_BENCH_LUA
#include <lua.hpp>
#endif

namespace {

std::vector<uint8_t> BenchUnitBytes() {
  std::ifstream in(std::string(QOR_WMLS_BENCH_UNIT), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs the function to its end; the instructions it took when counting.
uint64_t RunOnce(WmlsUnit* unit, int32_t fn, int32_t n, bool count) {
  WmlsRunContext ctx;
  WmlsValue arg = WmlsMakeInt(n);
  const uint8_t argc = unit->functions.functions[fn].argCount;
  int32_t r = WmlsRunStart(&ctx, unit, fn, &arg, argc);
  uint64_t steps = 0;
  while (r == 0 && ctx.status == 0) {
    r = WmlsRunSlice(&ctx, count ? 1 : kWmlsSliceSteps);
    ++steps;
  }
  benchmark::DoNotOptimize(ctx.stack[ctx.top].value);
  WmlsRunRelease(&ctx);
  return steps;
}

void BM_Wmls(benchmark::State& state, const char16_t* name) {
  BenchEngine engine(0);
  const std::vector<uint8_t> bytes = BenchUnitBytes();
  WmlsUnit* unit = nullptr;
  if (!engine.ok() || WmlsUnitParse(bytes.data(), static_cast<uint32_t>(bytes.size()), &unit) != WmlsParse::Ok) {
    state.SkipWithError("no unit");
    return;
  }
  const int32_t fn = WmlsFindFunction(unit, name);
  const int32_t n = static_cast<int32_t>(state.range(0));
  const uint64_t instructions = RunOnce(unit, fn, n, true);
  for (auto _ : state) RunOnce(unit, fn, n, false);
  state.counters["instr/s"] =
      benchmark::Counter(static_cast<double>(instructions), benchmark::Counter::kIsIterationInvariantRate);
  WmlsUnitFree(&unit);
}

void BM_WmlsSum(benchmark::State& state) { BM_Wmls(state, u"sumTo"); }
void BM_WmlsConcat8k(benchmark::State& state) { BM_Wmls(state, u"concat8k"); }
void BM_WmlsCalls(benchmark::State& state) { BM_Wmls(state, u"calls"); }
BENCHMARK(BM_WmlsSum)->Arg(65000);  // the sum stays within 32 bits
BENCHMARK(BM_WmlsConcat8k)->Arg(0);
BENCHMARK(BM_WmlsCalls)->Arg(100000);

#ifdef QOR_BENCH_LUA
const char kLuaPrograms[] = R"(
function sumTo(n) local s = 0 for i = 1, n do s = s + i end return s end
function concat8k() local s = "" while #s < 8192 do s = s .. "abcdefgh" end return #s end
local function nxt(x) return x + 1 end
function calls(n) local a = 0 for i = 0, n - 1 do a = nxt(a) end return a end
)";

void BM_Lua(benchmark::State& state, const char* name) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  if (luaL_dostring(L, kLuaPrograms) != LUA_OK) {
    state.SkipWithError("lua");
    lua_close(L);
    return;
  }
  const lua_Integer n = state.range(0);
  for (auto _ : state) {
    lua_getglobal(L, name);
    lua_pushinteger(L, n);
    lua_call(L, 1, 1);
    benchmark::DoNotOptimize(lua_tointeger(L, -1));
    lua_pop(L, 1);
  }
  lua_close(L);
}

void BM_LuaSum(benchmark::State& state) { BM_Lua(state, "sumTo"); }
void BM_LuaConcat8k(benchmark::State& state) { BM_Lua(state, "concat8k"); }
void BM_LuaCalls(benchmark::State& state) { BM_Lua(state, "calls"); }
BENCHMARK(BM_LuaSum)->Arg(65000);
BENCHMARK(BM_LuaConcat8k)->Arg(0);
BENCHMARK(BM_LuaCalls)->Arg(100000);
#endif

}  // namespace
