#include "bench/bench_engine.h"

#include <vector>

#include "host/platform/shell.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "widgets/pwl.h"
#include "widgets/pwl_ticker.h"

namespace {

constexpr int kFontLevel = 4;  // 10 points in the shipped sizes

std::vector<uint64_t>& Heap() {
  static std::vector<uint64_t> heap(4u << 17);  // 4 MB
  return heap;
}

std::vector<uint16_t>& Screen() {
  static std::vector<uint16_t> screen(160 * 240);
  return screen;
}

}  // namespace

BenchEngine::BenchEngine(uint32_t parts) {
  std::vector<uint64_t>& heap = Heap();
  HeapArenaInit(heap.data(), static_cast<uint32_t>(heap.size() * sizeof(uint64_t)));
  MemSetEvictor(nullptr);
  ShellSetScreenGeometry(160, 240, Screen().data());
  const bool toolkit = (parts & (BenchPart::Toolkit | BenchPart::Ticker)) != 0;
  if ((parts & BenchPart::Tasks) || toolkit) {
    if (TskmanInit() != kOk) return;
    tasks_ = true;
  }
  if (toolkit) {
    if (PwlInit() != kOk) return;
    toolkit_ = true;
  }
  if (parts & BenchPart::Ticker) {
    if (PwlTickerStart() != kOk) return;
    while (TskmanPendingCount() > 0) TskmanStep();
    if (!PwlTickerGetContext()) return;
  }
  if (parts & BenchPart::Font) {
    FontSettings settings;
    FontDefaultSettings(&settings);
    if (FontInit(&settings) != kOk) return;
    fonts_ = true;
    if (FontCreate(&font_, kFontBody, kFontLevel) != kOk) return;
  }
  ok_ = true;
}

BenchEngine::~BenchEngine() {
  if (font_) FontRelease(font_);
  if (fonts_) FontTerm();
  if (toolkit_) PwlShutdown();  // the ticker with it
  if (tasks_) TskmanShutdown();
  HeapArenaInit(nullptr, 0);
  ShellSetScreenGeometry(160, 240, nullptr);
}
