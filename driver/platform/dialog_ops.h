// The user-interface operations the connect logic needs, behind an interface
// so that the logic runs with no user interface at all, with a scripted user
// in tests, or with a terminal form.
//
// Window is opaque: each implementation gives it its own meaning. A null
// Window means "no window" and every operation on it does nothing.
//
// Every operation but the first two has a default body that behaves as "no
// user interface": dialogs cannot be run, controls read as empty, message
// boxes answer Cancel. An implementation overrides what it can show.
#pragma once

#include <cstddef>

namespace q4 {

struct Connection;
struct Window;

// Control that receives progress lines in a connect window.
constexpr int kStatusListControl = 1102;

// What run_dialog answers when the dialog cannot be shown at all (the
// platform's failure value). The connect functions pass it on as their
// result, which is SQL_ERROR.
constexpr int kDialogFailed = -1;

class DialogOps {
 public:
  virtual ~DialogOps() = default;
  // Adds a line to the status list (control 1102) of `window` and repaints
  // it; does nothing when the window has no such list.
  virtual void add_status_line(Window* window, const char* text) = 0;
  // Shows a message box; returns the button pressed (1 OK, 2 Cancel, ...).
  virtual int message_box(Window* owner, const char* text, const char* title, unsigned style) = 0;

  // Runs the modal dialog of `template_name` over `owner` (may be null) for
  // `conn`, which the dialog reads and fills. Returns the value the dialog
  // ended with (0 confirmed, 100 cancelled, ...) or kDialogFailed.
  virtual int run_dialog(const char* template_name, Window* owner, Connection* conn);
  // Ends the running dialog `dialog` with `result`.
  virtual void end_dialog(Window* dialog, int result);

  // Copies the text of `control` into `dest` (at most size-1 characters and a
  // NUL; nothing when size is 0) and returns the number of characters copied.
  virtual int get_control_text(Window* dialog, int control, char* dest, size_t size);
  virtual void set_control_text(Window* dialog, int control, const char* text);
  // Lets the edit `control` hold at most `max_chars` characters.
  virtual void limit_text(Window* dialog, int control, int max_chars);

  virtual void set_check(Window* dialog, int control, bool checked);
  virtual bool is_checked(Window* dialog, int control);

  // Drop-down lists: append an item; select the item whose text is `text`;
  // copy the selected item's text as get_control_text does (0 when none).
  virtual void combo_add(Window* dialog, int control, const char* text);
  virtual void combo_select(Window* dialog, int control, const char* text);
  virtual int combo_get_selected(Window* dialog, int control, char* dest, size_t size);

  virtual void bring_to_front(Window* window);
  // Centres `dialog` over its owner window, or over the screen without one.
  virtual void center_dialog(Window* dialog);
  // Asks the desktop to open `document` found in `directory`; false when it
  // could not.
  virtual bool open_document(const char* document, const char* directory);
};

// Message box styles and answers, with their usual values.
constexpr unsigned kMbOk = 0x0;
constexpr unsigned kMbOkCancel = 0x1;
constexpr unsigned kMbYesNo = 0x4;
constexpr unsigned kMbIconStop = 0x10;
constexpr unsigned kMbIconInformation = 0x40;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// The operations in use; by default the "no user interface" implementation.
DialogOps* dialog_ops();
// Installs `ops` (null restores the default) and returns the previous one.
DialogOps* set_dialog_ops(DialogOps* ops);

}  // namespace q4
