// The toolkit harness with select lists, image maps, a logging UI task and a
// browser task holding the variables.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "browser/benform_select.h"
#include "browser/benvar.h"
#include "browser/uiwindow.h"
#include "tests/widgets/pwl_fixture.h"

// One message the UI task received; texts of label events are copied as
// they arrive, since their senders may free them right after.
struct UiLogEntry {
  uint32_t message;
  uintptr_t arg1, arg2;
  std::u16string text1, text2;
};

// A bound select record with its labels, each "value\ntext" + initial marker
// + selection marker, two terminators, and an optional action between them.
struct SelectRecordData {
  std::vector<std::vector<char16_t>> buffers;
  std::vector<char16_t*> labels;
  BenFormSelectRecord record{};
  void Add(const std::u16string& value, const std::u16string& text, bool initial, bool chosen,
           const std::u16string& action = u"");
  BenFormSelectRecord* Finish(uint32_t flags);
};

class SelFixture : public PwlFixture {
 protected:
  SelFixture() { withFonts = true; }
  void SetUp() override;
  void TearDown() override;
  std::vector<UiLogEntry> UiEvents(uint32_t message) const;
  // The labels the band shows, as the UI task was last told them.
  std::pair<std::u16string, std::u16string> Band() const;
  std::vector<uint16_t> Screen() const { return platform->screen; }
  uint16_t Px(int32_t x, int32_t y) const { return platform->Pixel(x, y); }
  // Creates, binds (bound record) and places a select list.
  PwlControl* MakeSelect(BenFormSelectRecord* record, int32_t x, int32_t y, int32_t right = -1);

  UiWindow ui{};
  TskmanTask* uiTask = nullptr;
  BenBrowser browser{};
  TskmanTask* browserTask = nullptr;
  std::vector<Received> browserLog;
};

extern std::vector<UiLogEntry>* gUiLog;
