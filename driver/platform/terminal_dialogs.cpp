#include "platform/terminal_dialogs.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "platform/dialog_templates.h"

namespace q4 {

namespace {

constexpr size_t kMaxControls = 32;
constexpr size_t kTextSize = 256;  // the longest field (description) fits
constexpr size_t kMaxItems = 8;
constexpr size_t kItemSize = 32;
constexpr size_t kAnswerSize = 256;
constexpr size_t kPrintSize = 1024;
constexpr int kSignalCheckMs = 200;

constexpr const char* kEmptyAnswer = "-";  // empties an edit
constexpr const char* kHint = "(Enter keeps the value in brackets; a single - empties it)\n";

// ---- Terminal input and output.

void write_all(int fd, const char* text, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // a lost terminal shows on the next read
    text += written;
    length -= static_cast<size_t>(written);
  }
}

__attribute__((format(printf, 2, 3))) void print(int fd, const char* format, ...) {
  char text[kPrintSize];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length < 0) return;
  write_all(fd, text, strnlen(text, sizeof text));
}

// Signals whose default action ends or stops the process. While the terminal
// mode is changed they are caught, so that the mode is put back before they
// take effect.
constexpr int kGuardedSignals[] = {SIGALRM, SIGHUP,  SIGINT,  SIGPIPE, SIGQUIT,
                                   SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU};
constexpr size_t kGuardedCount = sizeof kGuardedSignals / sizeof kGuardedSignals[0];
volatile sig_atomic_t g_caught[kGuardedCount];

extern "C" void note_guarded_signal(int signal_number) {
  for (size_t i = 0; i < kGuardedCount; ++i) {
    if (kGuardedSignals[i] == signal_number) g_caught[i] = 1;
  }
}

// Puts the terminal into line mode with echo on or off for one answer, and
// restores what was there when it ends; a guarded signal caught meanwhile is
// raised again after the restore.
class LineMode {
 public:
  LineMode(int fd, bool echo) : fd_(fd) {
    if (tcgetattr(fd, &saved_) != 0) return;
    termios mode = saved_;
    mode.c_lflag |= ICANON | ISIG;
    mode.c_iflag |= ICRNL;
    if (echo) {
      mode.c_lflag |= ECHO | ECHOE | ECHOK;
    } else {
      mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK);
      mode.c_lflag |= ECHONL;  // the Enter still moves to the next line
    }
    if (memcmp(&mode, &saved_, sizeof mode) == 0) return;  // nothing to change
    struct sigaction catcher {};
    catcher.sa_handler = note_guarded_signal;
    sigemptyset(&catcher.sa_mask);
    catcher.sa_flags = 0;  // no SA_RESTART: a caught signal ends the read
    for (size_t i = 0; i < kGuardedCount; ++i) {
      g_caught[i] = 0;
      sigaction(kGuardedSignals[i], &catcher, &previous_[i]);
    }
    changed_ = true;
    tcsetattr(fd, TCSANOW, &mode);
  }
  ~LineMode() {
    if (!changed_) return;
    tcsetattr(fd_, TCSANOW, &saved_);
    for (size_t i = 0; i < kGuardedCount; ++i)
      sigaction(kGuardedSignals[i], &previous_[i], nullptr);
    for (size_t i = 0; i < kGuardedCount; ++i) {
      if (g_caught[i]) kill(getpid(), kGuardedSignals[i]);
    }
  }
  LineMode(const LineMode&) = delete;
  LineMode& operator=(const LineMode&) = delete;

  bool interrupted() const {
    if (!changed_) return false;
    for (size_t i = 0; i < kGuardedCount; ++i) {
      if (g_caught[i]) return true;
    }
    return false;
  }

 private:
  int fd_;
  termios saved_{};
  struct sigaction previous_[kGuardedCount] = {};
  bool changed_ = false;
};

// Shows `prompt` and reads one line into `dest` (without its line end; a
// longer line is cut to size-1 characters). False when the terminal ended,
// failed or a guarded signal came.
bool ask(int fd, const char* prompt, char* dest, size_t size, bool echo) {
  LineMode mode(fd, echo);
  write_all(fd, prompt, strlen(prompt));
  size_t length = 0;
  for (;;) {
    // Waiting in poll with a short limit, rather than in read, lets a signal
    // that came just before the wait end it too.
    if (mode.interrupted()) return false;
    pollfd ready{fd, POLLIN, 0};
    int polled = poll(&ready, 1, kSignalCheckMs);
    if (polled == 0 || (polled < 0 && errno == EINTR)) continue;
    if (polled < 0) return false;
    char c;
    ssize_t got = read(fd, &c, 1);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got < 0) return false;
    if (got == 0) {
      if (length == 0) return false;
      break;  // a last line without its line end
    }
    if (c == '\n') break;
    if (length + 1 < size) dest[length++] = c;
  }
  if (length > 0 && dest[length - 1] == '\r') --length;
  dest[length] = '\0';
  return true;
}

// A button's caption without its "&" accelerator mark.
void plain_caption(const char* caption, char* dest, size_t size) {
  size_t length = 0;
  for (const char* p = caption; *p != '\0' && length + 1 < size; ++p) {
    if (*p != '&') dest[length++] = *p;
  }
  dest[length] = '\0';
}

// Offers `count` captions as a numbered choice; Enter takes the first. A
// number or the start of a caption (any case) chooses. The index chosen, or
// -1 when the terminal failed.
int choose(int fd, const char* const* captions, int count) {
  char line[kPrintSize] = "";
  size_t used = 0;
  for (int i = 0; i < count && used < sizeof line; ++i) {
    char caption[kItemSize];
    plain_caption(captions[i], caption, sizeof caption);
    used += static_cast<size_t>(
        snprintf(line + used, sizeof line - used, "%s%d) %s", i == 0 ? "" : "   ", i + 1, caption));
  }
  print(fd, "%s\n", line);
  for (;;) {
    char answer[kAnswerSize];
    if (!ask(fd, "Choose [1]: ", answer, sizeof answer, true)) return -1;
    if (answer[0] == '\0') return 0;
    char* end = nullptr;
    long number = strtol(answer, &end, 10);
    if (end != answer && *end == '\0' && number >= 1 && number <= count) {
      return static_cast<int>(number - 1);
    }
    for (int i = 0; i < count; ++i) {
      char caption[kItemSize];
      plain_caption(captions[i], caption, sizeof caption);
      if (strncasecmp(caption, answer, strlen(answer)) == 0) return i;
    }
    print(fd, "Please answer 1 to %d.\n", count);
  }
}

// "Label" followed by a colon, unless it has one.
void field_label(const char* text, char* dest, size_t size) {
  size_t length = strlen(text);
  snprintf(dest, size, "%s%s", text, length > 0 && text[length - 1] == ':' ? "" : ":");
}

// A title without the blanks around it.
void print_title(int fd, const char* decoration, const char* title) {
  while (*title == ' ') ++title;
  size_t length = strlen(title);
  while (length > 0 && title[length - 1] == ' ') --length;
  print(fd, "\n%s %.*s %s\n", decoration, static_cast<int>(length), title, decoration);
}

}  // namespace

// ---- The form of one running dialog.

struct TerminalDialogs::Form {
  struct Control {
    char text[kTextSize];
    int limit;  // 0: none
    bool checked;
  };

  const DialogTemplate* dialog;
  Control controls[kMaxControls];  // parallel to dialog->controls
  int list_control;                // the drop-down list the items belong to
  char items[kMaxItems][kItemSize];
  int item_count;
  int selected;  // -1: none
  bool ended;
  int result;

  Control* control(int id) {
    for (size_t i = 0; i < dialog->control_count; ++i) {
      if (dialog->controls[i].id == id && id != kUnnumbered) return &controls[i];
    }
    return nullptr;
  }
};

namespace {

using Form = TerminalDialogs::Form;
using ControlState = Form::Control;

Window* as_window(Form* form) {
  return reinterpret_cast<Window*>(form);
}

void set_text(ControlState* state, const char* text, size_t max_chars) {
  size_t length = strnlen(text, max_chars);
  memcpy(state->text, text, length);
  state->text[length] = '\0';
}

// One edit: false when the terminal failed.
bool ask_edit(int fd, const ControlTemplate& control, ControlState* state) {
  char label[kTextSize];
  field_label(control.text, label, sizeof label);
  bool secret = control.kind == ControlKind::kPasswordEdit;
  char prompt[kPrintSize];
  if (secret) {
    snprintf(prompt, sizeof prompt, "%s [%s]: ", label, state->text[0] != '\0' ? "********" : "");
  } else {
    snprintf(prompt, sizeof prompt, "%s [%s]: ", label, state->text);
  }
  char answer[kAnswerSize];
  if (!ask(fd, prompt, answer, sizeof answer, !secret)) return false;
  if (answer[0] == '\0') return true;
  if (strcmp(answer, kEmptyAnswer) == 0) {
    state->text[0] = '\0';
    return true;
  }
  size_t limit = state->limit > 0 ? static_cast<size_t>(state->limit) : kTextSize - 1;
  set_text(state, answer, limit < kTextSize - 1 ? limit : kTextSize - 1);
  return true;
}

bool ask_check(int fd, const ControlTemplate& control, ControlState* state) {
  char prompt[kPrintSize];
  snprintf(prompt, sizeof prompt, "%s (y/n) [%s]: ", control.text, state->checked ? "y" : "n");
  for (;;) {
    char answer[kAnswerSize];
    if (!ask(fd, prompt, answer, sizeof answer, true)) return false;
    if (answer[0] == '\0') return true;
    if (strcasecmp(answer, "y") == 0 || strcasecmp(answer, "yes") == 0) {
      state->checked = true;
      return true;
    }
    if (strcasecmp(answer, "n") == 0 || strcasecmp(answer, "no") == 0) {
      state->checked = false;
      return true;
    }
    print(fd, "Please answer y or n.\n");
  }
}

bool ask_list(int fd, const ControlTemplate& control, Form* form) {
  char label[kTextSize];
  field_label(control.text, label, sizeof label);
  print(fd, "%s\n", label);
  for (int i = 0; i < form->item_count; ++i) {
    print(fd, "  %d) %s%s\n", i + 1, form->items[i], i == form->selected ? "  *" : "");
  }
  char prompt[kPrintSize];
  char current[12] = "";
  if (form->selected >= 0) snprintf(current, sizeof current, "%d", form->selected + 1);
  snprintf(prompt, sizeof prompt, "%s (1-%d) [%s]: ", control.text, form->item_count, current);
  for (;;) {
    char answer[kAnswerSize];
    if (!ask(fd, prompt, answer, sizeof answer, true)) return false;
    if (answer[0] == '\0') return true;
    char* end = nullptr;
    long number = strtol(answer, &end, 10);
    if (end != answer && *end == '\0' && number >= 1 && number <= form->item_count) {
      form->selected = static_cast<int>(number - 1);
      return true;
    }
    print(fd, "Please answer 1 to %d.\n", form->item_count);
  }
}

// Shows the whole form once and reads every answer. The id of the button
// chosen, or kUnnumbered when the terminal failed or there is no button.
int present(int fd, Form* form) {
  const DialogTemplate* dialog = form->dialog;
  print_title(fd, "==", dialog->title);
  const char* buttons[kMaxControls];
  int button_ids[kMaxControls];
  int button_count = 0;
  bool hinted = false;
  for (size_t i = 0; i < dialog->control_count; ++i) {
    const ControlTemplate& control = dialog->controls[i];
    ControlState* state = &form->controls[i];
    bool ok = true;
    switch (control.kind) {
      case ControlKind::kGroupBox:
        print(fd, "-- %s --\n", control.text);
        break;
      case ControlKind::kText:
        print(fd, "%s\n", state->text);
        break;
      case ControlKind::kIcon:
        break;
      case ControlKind::kReadOnly:
        if (state->text[0] != '\0') print(fd, "%s %s\n", control.text, state->text);
        break;
      case ControlKind::kEdit:
      case ControlKind::kPasswordEdit:
        if (!hinted) print(fd, "%s", kHint);
        hinted = true;
        ok = ask_edit(fd, control, state);
        break;
      case ControlKind::kCheckBox:
        ok = ask_check(fd, control, state);
        break;
      case ControlKind::kDropDownList:
        ok = control.id != form->list_control || ask_list(fd, control, form);
        break;
      case ControlKind::kButton:
        buttons[button_count] = control.text;
        button_ids[button_count++] = control.id;
        break;
    }
    if (!ok) return kUnnumbered;
  }
  if (button_count == 0) return kUnnumbered;
  int chosen = choose(fd, buttons, button_count);
  return chosen < 0 ? kUnnumbered : button_ids[chosen];
}

// A pthread mutex that the same thread may take again.
void init_recursive(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

class Hold {
 public:
  explicit Hold(pthread_mutex_t* mutex) : mutex_(mutex) { pthread_mutex_lock(mutex_); }
  ~Hold() { pthread_mutex_unlock(mutex_); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  pthread_mutex_t* mutex_;
};

}  // namespace

TerminalDialogs::TerminalDialogs(const char* device) : device_(device) {
  init_recursive(&mutex_);
}

TerminalDialogs::~TerminalDialogs() {
  pthread_mutex_destroy(&mutex_);
}

bool TerminalDialogs::acquire_terminal() {
  if (users_ == 0) {
    // O_NOCTTY: opening a terminal must never make it the process's
    // controlling terminal.
    fd_ = open(device_, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return false;
  }
  ++users_;
  return true;
}

void TerminalDialogs::release_terminal() {
  if (--users_ == 0) {
    close(fd_);
    fd_ = -1;
  }
}

TerminalDialogs::Form* TerminalDialogs::find_form(Window* window) const {
  for (int i = 0; i < open_count_; ++i) {
    if (as_window(open_[i]) == window) return open_[i];
  }
  return nullptr;
}

int TerminalDialogs::run_dialog(const char* template_name, Window*, DialogProc* proc,
                                Connection* conn) {
  const DialogTemplate* dialog = find_dialog_template(template_name);
  if (dialog == nullptr || proc == nullptr || dialog->control_count > kMaxControls) {
    return kDialogFailed;
  }
  Hold hold(&mutex_);
  if (open_count_ == kMaxOpenForms || !acquire_terminal()) return kDialogFailed;

  Form form{};
  form.dialog = dialog;
  form.selected = -1;
  form.list_control = kUnnumbered;
  for (size_t i = 0; i < dialog->control_count; ++i) {
    const ControlTemplate& control = dialog->controls[i];
    if (control.kind == ControlKind::kText) {
      set_text(&form.controls[i], control.text, kTextSize - 1);
    }
    if (control.kind == ControlKind::kDropDownList && form.list_control == kUnnumbered) {
      form.list_control = control.id;
    }
  }
  open_[open_count_++] = &form;

  proc->on_init(as_window(&form), conn);
  while (!form.ended) {
    int button = present(fd_, &form);
    if (button == kUnnumbered) break;
    proc->on_command(as_window(&form), button);
  }

  --open_count_;
  release_terminal();
  return form.ended ? form.result : kDialogFailed;
}

void TerminalDialogs::end_dialog(Window* window, int result) {
  Hold hold(&mutex_);
  Form* form = find_form(window);
  if (form == nullptr) return;
  form->ended = true;
  form->result = result;
}

int TerminalDialogs::message_box(Window*, const char* text, const char* title, unsigned style) {
  Hold hold(&mutex_);
  if (!acquire_terminal()) return kIdCancel;
  print_title(fd_, "***", title);
  size_t length = strlen(text);
  print(fd_, "%s%s", text, length > 0 && text[length - 1] == '\n' ? "" : "\n");

  static const char* const kOk[] = {"OK"};
  static const char* const kOkCancel[] = {"OK", "Cancel"};
  static const char* const kYesNo[] = {"Yes", "No"};
  static const int kOkIds[] = {kIdOk};
  static const int kOkCancelIds[] = {kIdOk, kIdCancel};
  static const int kYesNoIds[] = {kIdYes, kIdNo};
  const char* const* captions = kOk;
  const int* ids = kOkIds;
  int count = 1;
  switch (style & 0xF) {
    case kMbOkCancel:
      captions = kOkCancel;
      ids = kOkCancelIds;
      count = 2;
      break;
    case kMbYesNo:
      captions = kYesNo;
      ids = kYesNoIds;
      count = 2;
      break;
    default:
      break;
  }
  int answer = kIdCancel;
  if (count == 1) {
    char line[kAnswerSize];
    if (ask(fd_, "Press Enter to continue: ", line, sizeof line, true)) answer = kIdOk;
  } else {
    int chosen = choose(fd_, captions, count);
    if (chosen >= 0) answer = ids[chosen];
  }
  release_terminal();
  return answer;
}

void TerminalDialogs::add_status_line(Window* window, const char* text) {
  Hold hold(&mutex_);
  if (find_form(window) != nullptr) print(fd_, "  > %s\n", text);
}

int TerminalDialogs::get_control_text(Window* window, int control, char* dest, size_t size) {
  if (size == 0) return 0;
  dest[0] = '\0';
  Hold hold(&mutex_);
  Form* form = find_form(window);
  ControlState* state = form != nullptr ? form->control(control) : nullptr;
  if (state == nullptr) return 0;
  snprintf(dest, size, "%s", state->text);
  return static_cast<int>(strlen(dest));
}

void TerminalDialogs::set_control_text(Window* window, int control, const char* text) {
  Hold hold(&mutex_);
  Form* form = find_form(window);
  ControlState* state = form != nullptr ? form->control(control) : nullptr;
  if (state != nullptr) set_text(state, text, kTextSize - 1);
}

void TerminalDialogs::limit_text(Window* window, int control, int max_chars) {
  Hold hold(&mutex_);
  Form* form = find_form(window);
  ControlState* state = form != nullptr ? form->control(control) : nullptr;
  if (state != nullptr) state->limit = max_chars;
}

void TerminalDialogs::set_check(Window* window, int control, bool checked) {
  Hold hold(&mutex_);
  Form* form = find_form(window);
  ControlState* state = form != nullptr ? form->control(control) : nullptr;
  if (state != nullptr) state->checked = checked;
}

bool TerminalDialogs::is_checked(Window* window, int control) {
  Hold hold(&mutex_);
  Form* form = find_form(window);
  ControlState* state = form != nullptr ? form->control(control) : nullptr;
  return state != nullptr && state->checked;
}

void TerminalDialogs::combo_add(Window* window, int control, const char* text) {
  Hold hold(&mutex_);
  Form* form = find_form(window);
  if (form == nullptr || control != form->list_control ||
      form->item_count == static_cast<int>(kMaxItems)) {
    return;
  }
  snprintf(form->items[form->item_count++], kItemSize, "%s", text);
}

// As a drop-down list does: the first item that begins with `text`, case
// ignored; without one the selection stays.
void TerminalDialogs::combo_select(Window* window, int control, const char* text) {
  Hold hold(&mutex_);
  Form* form = find_form(window);
  if (form == nullptr || control != form->list_control) return;
  for (int i = 0; i < form->item_count; ++i) {
    if (strncasecmp(form->items[i], text, strlen(text)) == 0) {
      form->selected = i;
      return;
    }
  }
}

int TerminalDialogs::combo_get_selected(Window* window, int control, char* dest, size_t size) {
  if (size == 0) return 0;
  dest[0] = '\0';
  Hold hold(&mutex_);
  Form* form = find_form(window);
  if (form == nullptr || control != form->list_control || form->selected < 0) return 0;
  snprintf(dest, size, "%s", form->items[form->selected]);
  return static_cast<int>(strlen(dest));
}

bool TerminalDialogs::open_document(const char* document, const char* directory) {
  char path[kPrintSize];
  int length = snprintf(path, sizeof path, "%s/%s", directory, document);
  if (length < 0 || static_cast<size_t>(length) >= sizeof path || access(path, R_OK) != 0) {
    return false;
  }
  Hold hold(&mutex_);
  if (!acquire_terminal()) return false;
  print(fd_, "Help: see %s\n", path);
  release_terminal();
  return true;
}

DialogOps* terminal_dialogs() {
  static TerminalDialogs instance;
  return &instance;
}

}  // namespace q4
