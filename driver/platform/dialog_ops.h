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
//
// A dialog is a template (platform/dialog_templates.h: title and controls)
// plus a DialogProc with the dialog's logic. The implementation shows the
// template and drives the procedure: on_init once, then on_command for every
// button pressed, until the procedure calls end_dialog.
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

// The logic of one dialog. Handlers run on the calling thread while
// run_dialog is under way; `dialog` is the running dialog, for the control
// operations and end_dialog.
class DialogProc {
 public:
  virtual ~DialogProc() = default;
  // The dialog is about to be shown: fill its controls. `conn` is the record
  // run_dialog was given; the procedure keeps it for its later handlers.
  virtual void on_init(Window* dialog, Connection* conn) = 0;
  // The user pressed the button `control`.
  virtual void on_command(Window* dialog, int control) = 0;
  // The user closed the window from its system menu.
  virtual void on_close(Window* dialog) = 0;
};

class DialogOps {
 public:
  virtual ~DialogOps() = default;
  // Adds a line to the status list (control 1102) of `window` and repaints
  // it; does nothing when the window has no such list.
  virtual void add_status_line(Window* window, const char* text) = 0;
  // Shows a message box; returns the button pressed (1 OK, 2 Cancel, ...).
  virtual int message_box(Window* owner, const char* text, const char* title, unsigned style) = 0;

  // Runs the modal dialog of `template_name` over `owner` (may be null; a
  // window that the implementation did not create is only an owner and is
  // never looked into), with `proc` as its logic and `conn` handed to
  // proc->on_init. Returns the value the dialog ended with (0 confirmed, 100
  // cancelled, ...) or kDialogFailed when it could not be shown, in which
  // case `proc` was not called at all.
  virtual int run_dialog(const char* template_name, Window* owner, DialogProc* proc,
                         Connection* conn);
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

// The operations in use: the platform's, a form on the process's terminal
// when /dev/tty can be opened at the time a dialog is shown, and "no user
// interface" otherwise (platform/terminal_dialogs.h).
DialogOps* dialog_ops();

#ifdef Q4_TEST_SEAMS
// Test builds only. Installs `ops` in place of the platform's (null restores
// them) and returns the previous one.
DialogOps* set_dialog_ops(DialogOps* ops);
// The "no user interface" implementation: no dialog can be shown, a message
// box answers Cancel, status lines go nowhere.
DialogOps* no_user_interface();
#endif

}  // namespace q4
