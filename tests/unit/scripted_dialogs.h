// A scripted user for the dialog operations while it lives. Each dialog takes the next entry:
// answer() returns a result after `fill` (no dialog logic runs), play() runs the logic through
// steps that must end it; none left: it fails. The dialogs share one set of controls (a confirm
// box has none). Message boxes answer answer_box(), then Cancel.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/records.h"
#include "platform/dialog_ops.h"

namespace q4 {

// The test programs never show a form on the terminal of whoever runs them.
inline const bool kTestsShowNoTerminalForms = (set_dialog_ops(no_user_interface()), true);

class ScriptedDialogs : public DialogOps {
 public:
  using Step = std::function<void(DialogProc*, Window*)>;
  struct Shown {
    std::string template_name;
    Window* owner;
    Window* window;
  };
  struct Box {
    std::string text, title;
    unsigned style;
  };

  ScriptedDialogs() : previous_(set_dialog_ops(this)) {}
  ~ScriptedDialogs() override { set_dialog_ops(previous_); }

  void answer(int result, std::function<void(Connection*)> fill = {}) {
    entries_.push_back({result, std::move(fill), {}});
  }
  void play(std::vector<Step> steps) { entries_.push_back({0, {}, std::move(steps)}); }
  void answer_box(int button) { box_answers_.push_back(button); }

  // Typing stops at the edit's limit, as it does on screen.
  Step type(int control, const std::string& text) {
    return [=](DialogProc*, Window*) {
      texts[control] = text.substr(0, limits.count(control) ? limits[control] : text.size());
    };
  }
  Step check(int control, bool on) {
    return [=](DialogProc*, Window*) { checks[control] = on; };
  }
  static Step press(int control) {
    return [=](DialogProc* proc, Window* window) { proc->on_command(window, control); };
  }

  int run_dialog(const char* template_name, Window* owner, DialogProc* proc,
                 Connection* conn) override {
    // A handle of its own, never dereferenced.
    Window* window = reinterpret_cast<Window*>(reinterpret_cast<uintptr_t>(this) + shown.size());
    shown.push_back({template_name, owner, window});
    if (entries_.empty()) return kDialogFailed;
    Entry entry = std::move(entries_.front());
    entries_.pop_front();
    if (entry.steps.empty()) {
      if (entry.fill) entry.fill(conn);
      return entry.result;
    }
    proc->on_init(window, conn);
    if (shown.size() == 1) initial_texts = texts, initial_checks = checks;
    for (const Step& step : entry.steps) {
      if (!results_.count(window)) step(proc, window);
    }
    EXPECT_TRUE(results_.count(window)) << "the script of " << template_name << " did not end it";
    return results_.count(window) ? results_[window] : kDialogFailed;
  }
  void end_dialog(Window* window, int result) override { results_[window] = result; }
  int get_control_text(Window*, int id, char* dest, size_t size) override {
    return size == 0 ? 0 : std::min(snprintf(dest, size, "%s", texts[id].c_str()), int(size) - 1);
  }
  void set_control_text(Window*, int id, const char* text) override { texts[id] = text; }
  void limit_text(Window*, int id, int max_chars) override { limits[id] = max_chars; }
  void set_check(Window*, int id, bool checked) override { checks[id] = checked; }
  bool is_checked(Window*, int id) override { return checks[id]; }
  // A drop-down list is an edit holding the selected item.
  void combo_select(Window* w, int id, const char* text) override { set_control_text(w, id, text); }
  int combo_get_selected(Window* w, int id, char* dest, size_t size) override {
    return get_control_text(w, id, dest, size);
  }
  void add_status_line(Window*, const char*) override {}
  int message_box(Window*, const char* text, const char* title, unsigned style) override {
    boxes.push_back({text, title, style});
    int button = box_answers_.empty() ? kIdCancel : box_answers_.front();
    if (!box_answers_.empty()) box_answers_.pop_front();
    return button;
  }
  bool open_document(const char* document, const char* directory) override {
    documents.push_back(std::string(directory) + "/" + document);
    return false;
  }

  std::vector<Shown> shown;
  std::vector<Box> boxes;
  std::vector<std::string> documents;  // asked to open, as directory/name
  std::map<int, std::string> texts,
      initial_texts;  // initial: as the first dialog's on_init left them
  std::map<int, bool> checks, initial_checks;
  std::map<int, size_t> limits;

 private:
  struct Entry {
    int result;
    std::function<void(Connection*)> fill;
    std::vector<Step> steps;
  };

  DialogOps* previous_;
  std::deque<Entry> entries_;
  std::deque<int> box_answers_;
  std::map<Window*, int> results_;
};

}  // namespace q4
