// The host's text-input window as the engine reaches it: it records what it
// shows and answers with what the test left in it.
#pragma once
#include <string>
#include <vector>

#include "host/platform/textinput.h"

struct FakeTextWindow {
  bool failOpen = false;
  int opens = 0;
  int closes = 0;
  int32_t type = -1;
  std::u16string title, text;
  uint32_t maxLength = 0;
  bool placed = false;
  TiwPlace place{};
  std::vector<std::u16string> items;
  // What the user left in it: no text, and of a list these items.
  int32_t current = -1;
  std::vector<uint32_t> chosen;

  void Install() {
    ops_.ctx = this;
    previous_ = TiwInstall(&ops_);
  }
  void Remove() {
    TiwClose(nullptr);
    TiwInstall(previous_);
  }

 private:
  static FakeTextWindow* Of(void* ctx) { return static_cast<FakeTextWindow*>(ctx); }
  static bool Open(void* ctx, const TiwWindowSpec* spec) {
    FakeTextWindow* w = Of(ctx);
    if (w->failOpen) return false;
    ++w->opens;
    w->type = spec->type;
    w->title = spec->title ? spec->title : u"";
    w->text = spec->text ? spec->text : u"";
    w->maxLength = spec->maxLength;
    w->placed = spec->place != nullptr;
    if (spec->place) w->place = *spec->place;
    for (uint32_t i = 0; i < spec->itemCount; ++i) w->items.push_back(spec->items[i].text);
    return true;
  }
  static uint32_t CopyChosen(void* ctx, uint32_t* dest, uint32_t capacity) {
    uint32_t n = 0;
    for (uint32_t v : Of(ctx)->chosen)
      if (n < capacity) dest[n++] = v;
    return n;
  }
  TiwOps ops_{nullptr,
              Open,
              [](void* ctx) { ++Of(ctx)->closes; },
              [](void*) { return 0u; },
              [](void*, char16_t* dest, uint32_t) {
                dest[0] = 0;
                return 0u;
              },
              [](void* ctx) { return Of(ctx)->current; },
              [](void* ctx) { return static_cast<uint32_t>(Of(ctx)->chosen.size()); },
              CopyChosen};
  const TiwOps* previous_ = nullptr;
};
