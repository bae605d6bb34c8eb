// The platform's dialog operations on Linux: dialogs and message boxes as
// forms on the process's terminal.
//
// A dialog is shown when the terminal device opens at the moment the dialog
// is to be shown; otherwise every operation answers as "no user interface"
// does (a dialog fails with kDialogFailed, a message box answers Cancel). So
// `isql MYDSN` run from a shell asks for what a connect dialog asks, while a
// service without a terminal gets SQL_ERROR at once instead of a hang.
//
// The form of a dialog, on the terminal:
//   - the title, then every control of its template in order: group boxes
//     as headings, fixed texts as they are, read-only fields with their
//     value;
//   - each edit as a prompt "Label [current value]: "; Enter keeps the
//     value, a single "-" empties it, anything else replaces it (cut to the
//     edit's limit). Password edits are read with echo off and show only
//     whether they hold something;
//   - each check box as a yes/no question, the drop-down list as numbered
//     items with the selected one marked;
//   - the buttons as a final numbered choice (Enter takes the first).
// The chosen button goes to the dialog's logic; while the dialog stays open
// (a failed check) the form is shown again with the current values. A
// message box shows its title and text and, unless it has only OK, its
// buttons as a choice.
//
// End of input on the terminal (or its loss) makes the dialog fail with
// kDialogFailed and a message box answer Cancel. While echo is off, the
// usual terminating signals are caught, the terminal is restored and the
// signal is raised again, so that an interrupted password prompt never
// leaves the terminal without echo.
//
// One terminal is one user: dialogs and message boxes of several threads
// are shown one after the other (a nested dialog of the same thread, such as
// a confirm box over the full connect dialog, goes on at once).
#pragma once

#include <pthread.h>

#include "platform/dialog_ops.h"

namespace q4 {

class TerminalDialogs final : public DialogOps {
 public:
  // `device`: the terminal to open at each dialog; the process's own
  // (/dev/tty) in the driver, a pseudo-terminal's name in tests.
  explicit TerminalDialogs(const char* device = "/dev/tty");
  ~TerminalDialogs() override;
  TerminalDialogs(const TerminalDialogs&) = delete;
  TerminalDialogs& operator=(const TerminalDialogs&) = delete;

  void add_status_line(Window* window, const char* text) override;
  int message_box(Window* owner, const char* text, const char* title, unsigned style) override;
  int run_dialog(const char* template_name, Window* owner, DialogProc* proc,
                 Connection* conn) override;
  void end_dialog(Window* dialog, int result) override;
  int get_control_text(Window* dialog, int control, char* dest, size_t size) override;
  void set_control_text(Window* dialog, int control, const char* text) override;
  void limit_text(Window* dialog, int control, int max_chars) override;
  void set_check(Window* dialog, int control, bool checked) override;
  bool is_checked(Window* dialog, int control) override;
  void combo_add(Window* dialog, int control, const char* text) override;
  void combo_select(Window* dialog, int control, const char* text) override;
  int combo_get_selected(Window* dialog, int control, char* dest, size_t size) override;
  // Tells the user where the document is when it exists; false otherwise.
  bool open_document(const char* document, const char* directory) override;

  struct Form;

 private:
  // Opens the terminal for one outermost operation (nested ones share it);
  // false when it cannot be opened. Every successful call is paired with
  // release_terminal.
  bool acquire_terminal();
  void release_terminal();
  // The open form that `window` is, or null for any other window.
  Form* find_form(Window* window) const;

  static constexpr int kMaxOpenForms = 4;
  const char* device_;
  pthread_mutex_t mutex_;  // recursive: held by the thread using the terminal
  int fd_ = -1;
  int users_ = 0;
  Form* open_[kMaxOpenForms] = {};
  int open_count_ = 0;
};

// The process's terminal forms on /dev/tty: the default dialog operations.
DialogOps* terminal_dialogs();

}  // namespace q4
