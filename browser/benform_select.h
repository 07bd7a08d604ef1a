// The select element's form-field record (module 25), as the select list
// control reads and changes it. The form handler builds it; the control
// keeps its selection markers in the labels and stores the chosen values in
// the browser's variables.
#pragma once
#include <cstdint>

namespace BenSelectFlag {
constexpr uint32_t Multiple = 0x20, Dropdown = 0x20000;
}

// A label is the option's value, a line feed, the display text, then two
// marker characters: "+" when the option was selected as the page was built,
// and the selection marker ("+" chosen, anything else not). Every label
// buffer ends in two terminators; a non-zero unit after the first one starts
// the option's own action, so reading past the label stays inside it.
struct BenFormSelectRecord {
  uint32_t flags;  // BenSelectFlag
  char16_t** plainLabels;    // count labels, or null while there are no options
  char16_t** displayLabels;  // count labels (entries may be null), or null
  uint32_t count;
  const char16_t* indexName;  // variable for the chosen 1-based indices
  const char16_t* name;       // variable for the chosen values
  const char16_t* const* actions;  // count actions (entries may be null), or null
};
