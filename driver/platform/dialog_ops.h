// The user-interface operations the connect logic needs, behind an interface
// so that the logic runs with no user interface at all, with a scripted user
// in tests, or with a terminal form.
//
// Window is opaque: each implementation gives it its own meaning. A null
// Window means "no window" and every operation on it does nothing.
#pragma once

namespace q4 {

struct Window;

// Control that receives progress lines in a connect window.
constexpr int kStatusListControl = 1102;

class DialogOps {
 public:
  virtual ~DialogOps() = default;
  // Adds a line to the status list (control 1102) of `window` and repaints
  // it; does nothing when the window has no such list.
  virtual void add_status_line(Window* window, const char* text) = 0;
  // Shows a message box; returns the button pressed (1 OK, 2 Cancel, ...).
  virtual int message_box(Window* owner, const char* text, const char* title, unsigned style) = 0;
};

// Message box styles and answers, with their usual values.
constexpr unsigned kMbOk = 0x0;
constexpr unsigned kMbOkCancel = 0x1;
constexpr unsigned kMbIconStop = 0x10;
constexpr unsigned kMbIconInformation = 0x40;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

// The operations in use; by default the "no user interface" implementation.
DialogOps* dialog_ops();
// Installs `ops` (null restores the default) and returns the previous one.
DialogOps* set_dialog_ops(DialogOps* ops);

}  // namespace q4
