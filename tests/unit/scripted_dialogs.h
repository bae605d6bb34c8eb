// A scripted user for the dialog operations, installed for its lifetime.
// Each dialog run takes the next queued entry: answer() ends it with a result
// after `fill` changed the record (its logic does not run); play() runs its
// logic through a script that must end the dialog. With no entry left a
// dialog fails as on a platform without dialogs. Message boxes answer from
// answer_box() in order, then Cancel. host_window() gives a window of a host
// program whose dialog procedure the test calls itself.
#pragma once

#include <gtest/gtest.h>
#include <strings.h>

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/records.h"
#include "platform/dialog_ops.h"

namespace q4 {

// The test programs never show a form on the terminal of whoever runs them.
inline const bool kTestsShowNoTerminalForms = (set_dialog_ops(no_user_interface()), true);

class ScriptedDialogs : public DialogOps {
 public:
  struct ScriptedWindow {
    std::string template_name;  // "" for a host window
    Window* owner = nullptr;
    std::map<int, std::string> texts, initial_texts;  // initial: as on_init left them
    std::map<int, bool> checks, initial_checks;
    std::map<int, int> limits, selected;  // selected: index into items
    std::map<int, std::vector<std::string>> items;
    std::vector<std::string> status_lines;
    bool ended = false;
    int result = 0;
  };

  class Script {
   public:
    using Step = std::function<void(ScriptedWindow&, DialogProc*)>;
    Script& type(int control, const std::string& text) {
      return add([=](ScriptedWindow& w, DialogProc*) { type_into(w, control, text); });
    }
    Script& check(int control, bool on) {
      return add([=](ScriptedWindow& w, DialogProc*) { w.checks[control] = on; });
    }
    Script& press(int control) {
      return add([=](ScriptedWindow& w, DialogProc* proc) {
        proc->on_command(reinterpret_cast<Window*>(&w), control);
      });
    }
    // Closes the window from its system menu.
    Script& close() {
      return add([](ScriptedWindow& w, DialogProc* proc) {
        proc->on_close(reinterpret_cast<Window*>(&w));
      });
    }
    Script& add(Step step) {
      steps.push_back(std::move(step));
      return *this;
    }
    std::vector<Step> steps;
  };

  struct Shown {
    std::string template_name;
    Window* owner;
  };
  struct Box {
    Window* owner;
    std::string text, title;
    unsigned style;
  };

  ScriptedDialogs() : previous_(set_dialog_ops(this)) {}
  ~ScriptedDialogs() override { set_dialog_ops(previous_); }
  ScriptedDialogs(const ScriptedDialogs&) = delete;
  ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

  void answer(int result, std::function<void(Connection*)> fill = {}) {
    entries_.push_back({result, std::move(fill), nullptr});
  }
  Script& play() {
    entries_.push_back({0, {}, std::make_unique<Script>()});
    return *entries_.back().script;
  }
  void answer_box(int button) { box_answers_.push_back(button); }

  Window* host_window() {
    windows.push_back(std::make_unique<ScriptedWindow>());
    return reinterpret_cast<Window*>(windows.back().get());
  }
  ScriptedWindow& state(Window* window) { return *find(window); }
  void type(Window* window, int control, const std::string& text) {
    type_into(state(window), control, text);
  }

  int run_dialog(const char* template_name, Window* owner, DialogProc* proc,
                 Connection* conn) override {
    shown.push_back({template_name, owner});
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
    proc->on_init(reinterpret_cast<Window*>(&w), conn);
    w.initial_texts = w.texts;
    w.initial_checks = w.checks;
    for (size_t i = 0; i < entry.script->steps.size() && !w.ended; ++i) {
      entry.script->steps[i](w, proc);
    }
    EXPECT_TRUE(w.ended) << "the script of " << template_name << " did not end it";
    return w.ended ? w.result : kDialogFailed;
  }
  void end_dialog(Window* window, int result) override {
    find(window)->ended = true;
    find(window)->result = result;
  }
  int get_control_text(Window* window, int control, char* dest, size_t size) override {
    return copy(find(window)->texts[control], dest, size);
  }
  void set_control_text(Window* window, int control, const char* text) override {
    find(window)->texts[control] = text;
  }
  void limit_text(Window* window, int control, int max_chars) override {
    find(window)->limits[control] = max_chars;
  }
  void set_check(Window* window, int control, bool checked) override {
    find(window)->checks[control] = checked;
  }
  bool is_checked(Window* window, int control) override { return find(window)->checks[control]; }
  void combo_add(Window* window, int control, const char* text) override {
    find(window)->items[control].push_back(text);
  }
  // As a drop-down list selects by text: the first item beginning with it,
  // case ignored; without one the selection stays.
  void combo_select(Window* window, int control, const char* text) override {
    const auto& items = find(window)->items[control];
    for (size_t i = 0; i < items.size(); ++i) {
      if (strncasecmp(items[i].c_str(), text, strlen(text)) != 0) continue;
      find(window)->selected[control] = static_cast<int>(i);
      return;
    }
  }
  int combo_get_selected(Window* window, int control, char* dest, size_t size) override {
    ScriptedWindow* w = find(window);
    auto found = w->selected.find(control);
    return copy(found == w->selected.end() ? "" : w->items[control][found->second], dest, size);
  }
  void add_status_line(Window* window, const char* text) override {
    if (window != nullptr) find(window)->status_lines.emplace_back(text);
  }
  int message_box(Window* owner, const char* text, const char* title, unsigned style) override {
    boxes.push_back({owner, text, title, style});
    if (box_answers_.empty()) return kIdCancel;
    int button = box_answers_.front();
    box_answers_.pop_front();
    return button;
  }
  bool open_document(const char* document, const char* directory) override {
    documents.push_back(std::string(directory) + "/" + document);
    return false;
  }

  std::vector<Shown> shown;
  std::vector<Box> boxes;
  std::vector<std::string> documents;                    // asked to open, as directory/name
  std::vector<std::unique_ptr<ScriptedWindow>> windows;  // in the order opened

 private:
  struct Entry {
    int result;
    std::function<void(Connection*)> fill;
    std::unique_ptr<Script> script;
  };

  // Every window the driver names must be one of ours.
  ScriptedWindow* find(Window* window) {
    for (auto& w : windows) {
      if (reinterpret_cast<Window*>(w.get()) == window) return w.get();
    }
    ADD_FAILURE() << "not a scripted window";
    static ScriptedWindow stray;
    return &stray;
  }
  static int copy(const std::string& text, char* dest, size_t size) {
    if (size == 0) return 0;
    snprintf(dest, size, "%s", text.c_str());
    return static_cast<int>(strlen(dest));
  }
  // Typing stops at the edit's limit, as it does on screen.
  static void type_into(ScriptedWindow& w, int control, const std::string& text) {
    auto limit = w.limits.find(control);
    w.texts[control] = limit == w.limits.end() ? text : text.substr(0, limit->second);
  }

  DialogOps* previous_;
  std::deque<Entry> entries_;
  std::deque<int> box_answers_;
};

}  // namespace q4
