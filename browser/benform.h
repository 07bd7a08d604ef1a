// The browser core's form-field records (module 25) as the controls read and
// write them: the form handler builds one for each input, text area, button,
// check box and radio button of a page and binds the field's control to it
// (a select element has a record of its own, benform_select.h). The browser
// core owns the record and the texts in it; a bound edit box shares the
// record's current value with it.
#pragma once
#include <cstdint>

namespace BenFieldKind {
constexpr uint32_t Input = 1, TextArea = 2, Button = 4, CheckBox = 5, Radio = 6;
}

// The flags word of an input or a text area.
namespace BenInputFlag {
constexpr uint32_t Password = 0x4, PixelWidth = 0x80, RefuseEmpty = 0x100,
                   AcceptEmpty = 0x40000000;
}

// The kind flags of a button record.
namespace BenButtonFlag {
constexpr uint32_t Submit = 0x1, Reset = 0x2, FormFill = 0x8, Previous = 0x400,
                   SubmitReset = 0x1000;
}

// The state word of a check-box or radio record.
namespace BenCheckState {
constexpr uint32_t Checked = 0x8;
}

struct BenFormFieldRecord {
  uint32_t kind;   // BenFieldKind
  uint32_t flags;  // by kind: BenInputFlag, BenButtonFlag
  uint32_t state;  // check box and radio: BenCheckState

  // Inputs and text areas.
  uint32_t size;       // columns, or pixels with BenInputFlag::PixelWidth; 0: none given
  uint32_t rows;       // 0: none given
  uint32_t maxLength;  // 0: none given
  const char* title;   // 8-bit, or null
  const char* name;    // 8-bit, or null
  char mode;           // the input-mode letter; 0 means "a"
  const char16_t* initialValue;
  char16_t* value;     // the current value (engine memory), or null
  char16_t* newValue;  // a value waiting to become the current one, or null
  const char16_t* mask;      // the WML input mask, or null
  const char16_t* variable;  // the browser variable the value is stored in, or null

  // Buttons: the label, 8-bit, or null for the default of the kind.
  const char* label;

  // Radio buttons: the group they belong to.
  const char16_t* group;
};
