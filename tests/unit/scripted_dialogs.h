// A scripted user for the dialog operations: answers each dialog the connect
// logic runs with a prepared result, filling fields of the connection as a
// user typing into the dialog would, and records what was shown.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/records.h"
#include "platform/dialog_ops.h"

namespace q4 {

class ScriptedDialogs : public DialogOps {
 public:
  struct Answer {
    int result;                             // what the dialog ends with
    std::function<void(Connection*)> fill;  // the user's typing; may be empty
  };
  struct Shown {
    std::string template_name;
    Window* owner;
  };

  // Installs itself for its lifetime.
  ScriptedDialogs() : previous_(set_dialog_ops(this)) {}
  ~ScriptedDialogs() override { set_dialog_ops(previous_); }
  ScriptedDialogs(const ScriptedDialogs&) = delete;
  ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

  // The next dialog run ends with `result` after `fill` ran on the record.
  void answer(int result, std::function<void(Connection*)> fill = {}) {
    answers_.push_back({result, std::move(fill)});
  }

  int run_dialog(const char* template_name, Window* owner, Connection* conn) override {
    shown.push_back({template_name, owner});
    // More dialogs than the script expected: behave as a platform without
    // dialogs, and let the test see it in `shown`.
    if (answers_.empty()) return kDialogFailed;
    Answer next = std::move(answers_.front());
    answers_.pop_front();
    if (next.fill) next.fill(conn);
    return next.result;
  }
  void add_status_line(Window* window, const char* text) override {
    if (window != nullptr) status_lines.emplace_back(text);
  }
  int message_box(Window*, const char* text, const char*, unsigned) override {
    messages.emplace_back(text);
    return kIdCancel;
  }
  void bring_to_front(Window* window) override { brought_to_front.push_back(window); }

  std::vector<Shown> shown;
  std::vector<std::string> status_lines;
  std::vector<std::string> messages;
  std::vector<Window*> brought_to_front;

 private:
  DialogOps* previous_;
  std::deque<Answer> answers_;
};

}  // namespace q4
