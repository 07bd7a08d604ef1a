// What the edit box's two files share: layout, drawing and the viewer's
// line table of an edit box or text area.
#pragma once
#include "widgets/pwl_classes.h"

inline PwlTextBox* PwlBoxOf(PwlControl* c) { return reinterpret_cast<PwlTextBox*>(c); }
inline bool PwlBoxIsArea(const PwlTextBox* b) {
  return (b->control.flags & PwlBoxFlag::TextArea) != 0;
}

// Counts the lines, sets the visible count and the inner width.
Result PwlTextBoxLayout(PwlTextBox* box);
// Draws the whole box when it is shown.
Result PwlTextBoxDraw(PwlTextBox* box);
void PwlTextBoxFreeLines(PwlTextBox* box);
// Moves the viewer one line down (or up) when a line is there; 1 when it moved.
uint32_t PwlTextBoxStep(PwlTextBox* box, bool down);
// Sets the viewer's soft keys and offers their labels.
void PwlTextBoxOfferArrows(PwlTextBox* box);
