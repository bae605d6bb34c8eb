// A scripted user for the dialog operations, installed for its lifetime.
//
// Each dialog the code under test runs takes the next entry of one queue:
//   - answer(result, fill): the dialog's outcome without its logic: `fill`
//     changes the record as the user's typing would, and the dialog ends with
//     `result` (for tests of the connect functions' tables);
//   - play(): the dialog's logic runs for real: its procedure fills the
//     scripted controls, then the script types, checks, selects and presses
//     buttons, one step after the other, until the procedure ends the dialog.
//     Dialogs opened from inside a step (a confirm box) take the next entry.
// A dialog with no entry left behaves as on a platform without dialogs
// (kDialogFailed), and a played script that runs out while its dialog is
// still open fails the test.
//
// Message boxes are recorded and answered from answer_box() in order
// (Cancel once those run out). Windows of a host program (for the exported
// dialog procedures) come from host_window(); the test then plays the host's
// dialog manager and calls the procedure itself.
#pragma once

#include <gtest/gtest.h>
#include <strings.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/records.h"
#include "platform/dialog_ops.h"

namespace q4 {

// The test programs never show a dialog on the terminal of whoever runs them:
// they start with the "no user interface" operations instead of the
// platform's terminal forms.
inline const bool kTestsShowNoTerminalForms = (set_dialog_ops(no_user_interface()), true);

class ScriptedDialogs : public DialogOps {
 public:
  // The controls of one dialog as the scripted user sees them.
  struct ScriptedWindow {
    std::string template_name;  // "" for a host window
    Window* owner = nullptr;
    std::map<int, std::string> texts;
    std::map<int, int> limits;
    std::map<int, bool> checks;
    std::map<int, std::vector<std::string>> items;
    std::map<int, int> selected;  // index into items
    std::vector<std::string> status_lines;
    bool centered = false;
    bool ended = false;
    int result = 0;
    // What the procedure put in the controls when the dialog initialised.
    std::map<int, std::string> initial_texts;
    std::map<int, bool> initial_checks;

    std::string text(int control) const {
      auto found = texts.find(control);
      return found == texts.end() ? "" : found->second;
    }
    std::string selected_item(int control) const {
      auto found = selected.find(control);
      if (found == selected.end()) return "";
      return items.at(control)[static_cast<size_t>(found->second)];
    }
  };

  // The steps of a played dialog, built as a chain.
  class Script {
   public:
    Script& type(int control, const std::string& text) {
      return add([=](ScriptedDialogs& ui, ScriptedWindow& w) { ui.type_into(w, control, text); });
    }
    Script& check(int control, bool checked) {
      return add([=](ScriptedDialogs&, ScriptedWindow& w) { w.checks[control] = checked; });
    }
    Script& select(int control, const std::string& item) {
      return add([=](ScriptedDialogs& ui, ScriptedWindow& w) { ui.select_item(w, control, item); });
    }
    // Presses a button: the dialog's procedure handles it.
    Script& press(int control) {
      return add([=](ScriptedDialogs&, ScriptedWindow& w) {
        proc_->on_command(reinterpret_cast<Window*>(&w), control);
      });
    }
    // Closes the window from its system menu.
    Script& close() {
      return add([=](ScriptedDialogs&, ScriptedWindow& w) {
        proc_->on_close(reinterpret_cast<Window*>(&w));
      });
    }
    // Lets the test look at the window at this point.
    Script& look(std::function<void(const ScriptedWindow&)> at) {
      return add([=](ScriptedDialogs&, ScriptedWindow& w) { at(w); });
    }

   private:
    friend class ScriptedDialogs;
    using Step = std::function<void(ScriptedDialogs&, ScriptedWindow&)>;
    Script& add(Step step) {
      steps_.push_back(std::move(step));
      return *this;
    }
    std::vector<Step> steps_;
    DialogProc* proc_ = nullptr;
  };

  struct Shown {
    std::string template_name;
    Window* owner;
  };
  struct Box {
    Window* owner;
    std::string text;
    std::string title;
    unsigned style;
  };

  ScriptedDialogs() : previous_(set_dialog_ops(this)) {}
  ~ScriptedDialogs() override { set_dialog_ops(previous_); }
  ScriptedDialogs(const ScriptedDialogs&) = delete;
  ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

  // The next dialog run ends with `result` after `fill` ran on the record;
  // its logic does not run.
  void answer(int result, std::function<void(Connection*)> fill = {}) {
    Entry entry;
    entry.result = result;
    entry.fill = std::move(fill);
    entries_.push_back(std::move(entry));
  }
  // The next dialog runs its logic, driven by the returned script.
  Script& play() {
    Entry entry;
    entry.script = std::make_unique<Script>();
    entries_.push_back(std::move(entry));
    return *entries_.back().script;
  }
  // The next message box answers `button`.
  void answer_box(int button) { box_answers_.push_back(button); }
  // Whether open_document finds documents.
  void set_documents_open(bool open) { documents_open_ = open; }

  // A window of a host program, for its dialog procedure.
  Window* host_window() {
    windows.push_back(std::make_unique<ScriptedWindow>());
    return reinterpret_cast<Window*>(windows.back().get());
  }
  // The scripted state of `window` (a dialog run here or a host window).
  ScriptedWindow& state(Window* window) {
    ScriptedWindow* found = find(window);
    EXPECT_NE(found, nullptr) << "not a scripted window";
    return *found;
  }
  // The user types into a control of a host window.
  void type(Window* window, int control, const std::string& text) {
    type_into(state(window), control, text);
  }

  // --- DialogOps.

  int run_dialog(const char* template_name, Window* owner, DialogProc* proc,
                 Connection* conn) override {
    shown.push_back({template_name, owner});
    // More dialogs than the script expected: behave as a platform without
    // dialogs, and let the test see it in `shown`.
    if (entries_.empty()) return kDialogFailed;
    Entry entry = std::move(entries_.front());
    entries_.pop_front();
    if (!entry.script) {
      if (entry.fill) entry.fill(conn);
      return entry.result;
    }
    windows.push_back(std::make_unique<ScriptedWindow>());
    ScriptedWindow& w = *windows.back();
    w.template_name = template_name;
    w.owner = owner;
    Window* handle = reinterpret_cast<Window*>(&w);
    proc->on_init(handle, conn);
    w.initial_texts = w.texts;
    w.initial_checks = w.checks;
    entry.script->proc_ = proc;
    for (auto& step : entry.script->steps_) {
      if (w.ended) {
        ADD_FAILURE() << template_name << " ended before the script did";
        break;
      }
      step(*this, w);
    }
    if (!w.ended) {
      ADD_FAILURE() << "the script of " << template_name << " ran out with the dialog open";
      return kDialogFailed;
    }
    return w.result;
  }
  void end_dialog(Window* window, int result) override {
    ScriptedWindow* w = find(window);
    if (w == nullptr) return;
    w->ended = true;
    w->result = result;
  }
  int get_control_text(Window* window, int control, char* dest, size_t size) override {
    if (size == 0) return 0;
    std::string text;
    if (ScriptedWindow* w = find(window)) text = w->text(control);
    snprintf(dest, size, "%s", text.c_str());
    return static_cast<int>(strlen(dest));
  }
  void set_control_text(Window* window, int control, const char* text) override {
    if (ScriptedWindow* w = find(window)) w->texts[control] = text;
  }
  void limit_text(Window* window, int control, int max_chars) override {
    if (ScriptedWindow* w = find(window)) w->limits[control] = max_chars;
  }
  void set_check(Window* window, int control, bool checked) override {
    if (ScriptedWindow* w = find(window)) w->checks[control] = checked;
  }
  bool is_checked(Window* window, int control) override {
    ScriptedWindow* w = find(window);
    return w != nullptr && w->checks.count(control) != 0 && w->checks[control];
  }
  void combo_add(Window* window, int control, const char* text) override {
    if (ScriptedWindow* w = find(window)) w->items[control].push_back(text);
  }
  void combo_select(Window* window, int control, const char* text) override {
    if (ScriptedWindow* w = find(window)) select_prefix(*w, control, text);
  }
  int combo_get_selected(Window* window, int control, char* dest, size_t size) override {
    if (size == 0) return 0;
    std::string text;
    if (ScriptedWindow* w = find(window)) text = w->selected_item(control);
    snprintf(dest, size, "%s", text.c_str());
    return static_cast<int>(strlen(dest));
  }
  void add_status_line(Window* window, const char* text) override {
    if (window == nullptr) return;
    status_lines.emplace_back(text);
    if (ScriptedWindow* w = find(window)) w->status_lines.emplace_back(text);
  }
  int message_box(Window* owner, const char* text, const char* title, unsigned style) override {
    messages.emplace_back(text);
    boxes.push_back({owner, text, title, style});
    if (box_answers_.empty()) return kIdCancel;
    int button = box_answers_.front();
    box_answers_.pop_front();
    return button;
  }
  void bring_to_front(Window* window) override { brought_to_front.push_back(window); }
  void center_dialog(Window* window) override {
    if (ScriptedWindow* w = find(window)) w->centered = true;
  }
  bool open_document(const char* document, const char* directory) override {
    documents.push_back(std::string(directory) + "/" + document);
    return documents_open_;
  }

  std::vector<Shown> shown;
  std::vector<std::string> status_lines;
  std::vector<std::string> messages;  // the texts of `boxes`
  std::vector<Box> boxes;
  std::vector<Window*> brought_to_front;
  std::vector<std::string> documents;                    // asked to open, as directory/name
  std::vector<std::unique_ptr<ScriptedWindow>> windows;  // in the order opened

 private:
  struct Entry {
    int result = 0;
    std::function<void(Connection*)> fill;
    std::unique_ptr<Script> script;
  };

  ScriptedWindow* find(Window* window) {
    for (auto& w : windows) {
      if (reinterpret_cast<Window*>(w.get()) == window) return w.get();
    }
    return nullptr;
  }
  // Typing stops at the edit's limit, as it does on screen.
  void type_into(ScriptedWindow& w, int control, const std::string& text) {
    auto limit = w.limits.find(control);
    w.texts[control] =
        limit == w.limits.end() ? text : text.substr(0, static_cast<size_t>(limit->second));
  }
  // The user picks an item that the list shows.
  void select_item(ScriptedWindow& w, int control, const std::string& item) {
    const auto& items = w.items[control];
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i] == item) {
        w.selected[control] = static_cast<int>(i);
        return;
      }
    }
    ADD_FAILURE() << "the list " << control << " has no item " << item;
  }
  // As a drop-down list selects by text: the first item that begins with it,
  // case ignored; without one the selection stays.
  static void select_prefix(ScriptedWindow& w, int control, const std::string& text) {
    const auto& items = w.items[control];
    for (size_t i = 0; i < items.size(); ++i) {
      if (strncasecmp(items[i].c_str(), text.c_str(), text.size()) == 0) {
        w.selected[control] = static_cast<int>(i);
        return;
      }
    }
  }

  DialogOps* previous_;
  std::deque<Entry> entries_;
  std::deque<int> box_answers_;
  bool documents_open_ = false;
};

}  // namespace q4
