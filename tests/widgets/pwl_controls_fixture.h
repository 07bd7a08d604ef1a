// The standard control classes over the toolkit harness.
#pragma once
#include <string>
#include <vector>

#include "tests/widgets/pwl_fixture.h"
#include "widgets/pwl_classes.h"

class ControlsFixture : public PwlFixture {
 protected:
  ControlsFixture() { withFonts = true; }
  void SetUp() override {
    PwlFixture::SetUp();
    RemoveTestClasses();
    PwlInstallStandardClasses();
    // A page's white rather than the bare root's black.
    root->background = 0xFFFF;
    PwlClear(root);
  }
  // A control placed at rect, enabled and active.
  PwlControl* Control(uint32_t type, PglRect rect, uintptr_t group = 0) {
    PwlControl* c = Make(type, group, {-1, -1, -1, -1});
    if (c) {
      c->flags |= PwlCtl::Active;
      c->rect = rect;
    }
    return c;
  }
  // The labels of 0x2a00 events (the first argument), in order; "" for none.
  std::vector<std::u16string> Labels() const {
    std::vector<std::u16string> out;
    for (const Received& r : OwnerEvents(PwlEvent::Label))
      out.push_back(r.arg1 ? reinterpret_cast<const char16_t*>(r.arg1) : u"");
    return out;
  }
  void ClearOwnerLog() { owner->log.clear(); }
};
