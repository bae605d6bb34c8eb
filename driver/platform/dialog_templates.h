// The module's dialog templates, compiled in: what a dialog resource holds
// (title, size, controls with their identifiers and texts), for the
// implementations of the dialog operations to show. The logic of each dialog
// lives with the connect code; a template only says what is on screen.
#pragma once

#include <cstddef>

namespace q4 {

enum class ControlKind : unsigned char {
  kGroupBox,      // a frame with a heading; holds nothing
  kText,          // fixed text (a question, a note)
  kIcon,          // decoration
  kEdit,          // one line of text the user may change
  kPasswordEdit,  // an edit whose text is not shown
  kReadOnly,      // text the dialog fills and the user cannot change
  kCheckBox,
  kDropDownList,  // a list of items of which one is selected
  kButton,        // a command; pressing it reaches the dialog's logic
};

// Identifier of a control that the logic never addresses.
constexpr int kUnnumbered = -1;

// One line of a template. Edits, read-only fields and drop-down lists carry
// the text of the label beside them in `text` and that label's identifier in
// `label_id` (kUnnumbered when it has none); other kinds carry their own
// caption, and `label_id` is unused.
struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;
  int label_id;
};

struct DialogTemplate {
  const char* name;
  const char* title;
  const char* font;
  int font_size;
  int width;  // dialog units
  int height;
  const ControlTemplate* controls;  // in screen order, top to bottom
  size_t control_count;
};

// The template named `name` (exact, case-sensitive), or null when the module
// has none.
const DialogTemplate* find_dialog_template(const char* name);

// The control `id` of `dialog`, or null.
const ControlTemplate* find_control(const DialogTemplate* dialog, int id);

}  // namespace q4
