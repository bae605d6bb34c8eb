// A scripted user for the dialog operations while it lives. Each dialog takes the next entry:
// answer() returns a result after `fill` (no dialog logic runs), play() runs the logic through a
// script that must end it; none left: it fails. Message boxes answer answer_box(), then Cancel.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
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
    std::map<int, int> limits;
    bool ended = false;
    int result = 0;
  };

  struct Script {
    using Step = std::function<void(ScriptedWindow&, DialogProc*)>;
    Script& type(int control, const std::string& text) {
      return add([=](ScriptedWindow& w, DialogProc*) { type_into(w, control, text); });
    }
    Script& check(int control, bool on) {
      return add([=](ScriptedWindow& w, DialogProc*) { w.checks[control] = on; });
    }
    Script& press(int control) {
      return add([=](ScriptedWindow& w, DialogProc* p) { p->on_command(handle(w), control); });
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
    std::string text, title;
    unsigned style;
  };

  ScriptedDialogs() : previous_(set_dialog_ops(this)) {}
  ~ScriptedDialogs() override { set_dialog_ops(previous_); }

  void answer(int result, std::function<void(Connection*)> fill = {}) {
    entries_.push_back({result, std::move(fill), nullptr});
  }
  Script& play() {
    entries_.push_back({0, {}, std::make_unique<Script>()});
    return *entries_.back().script;
  }
  void answer_box(int button) { box_answers_.push_back(button); }

  static Window* handle(ScriptedWindow& w) { return reinterpret_cast<Window*>(&w); }

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
    ScriptedWindow& w = *windows.emplace_back(std::make_unique<ScriptedWindow>());
    w.template_name = template_name, w.owner = owner;
    proc->on_init(handle(w), conn);
    w.initial_texts = w.texts;
    w.initial_checks = w.checks;
    for (size_t i = 0; i < entry.script->steps.size() && !w.ended; ++i) {
      entry.script->steps[i](w, proc);
    }
    EXPECT_TRUE(w.ended) << "the script of " << template_name << " did not end it";
    return w.ended ? w.result : kDialogFailed;
  }
  void end_dialog(Window* w, int result) override {
    find(w)->ended = true, find(w)->result = result;
  }
  int get_control_text(Window* w, int id, char* dest, size_t size) override {
    return copy(find(w)->texts[id], dest, size);
  }
  void set_control_text(Window* w, int id, const char* text) override { find(w)->texts[id] = text; }
  void limit_text(Window* w, int id, int max_chars) override { find(w)->limits[id] = max_chars; }
  void set_check(Window* w, int id, bool checked) override { find(w)->checks[id] = checked; }
  bool is_checked(Window* w, int id) override { return find(w)->checks[id]; }
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
      if (handle(*w) == window) return w.get();
    }
    ADD_FAILURE() << "not a scripted window";
    static ScriptedWindow stray;
    return &stray;
  }
  static int copy(const std::string& text, char* dest, size_t size) {
    return size == 0 ? 0 : std::min(snprintf(dest, size, "%s", text.c_str()), int(size) - 1);
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
