// A scripted user for the dialog operations while it lives: each dialog takes the next answer,
// filling the record as the user would, without running the dialog's logic; none left: the
// dialog fails.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/records.h"
#include "platform/dialog_ops.h"

namespace q4 {

// The test programs never show a form on the terminal of whoever runs them.
inline const bool kTestsShowNoTerminalForms = (set_dialog_ops(no_user_interface()), true);

class ScriptedDialogs : public DialogOps {
 public:
  struct Shown {
    std::string template_name;
    Window* owner;
  };

  ScriptedDialogs() : previous_(set_dialog_ops(this)) {}
  ~ScriptedDialogs() override { set_dialog_ops(previous_); }

  void answer(int result, std::function<void(Connection*)> fill = {}) {
    answers_.push_back({result, std::move(fill)});
  }

  int run_dialog(const char* template_name, Window* owner, DialogProc*, Connection* conn) override {
    shown.push_back({template_name, owner});
    if (answers_.empty()) return kDialogFailed;
    auto [result, fill] = std::move(answers_.front());
    answers_.pop_front();
    if (fill) fill(conn);
    return result;
  }

  void add_status_line(Window*, const char*) override {}
  int message_box(Window*, const char*, const char*, unsigned) override { return kIdCancel; }

  std::vector<Shown> shown;

 private:
  DialogOps* previous_;
  std::deque<std::pair<int, std::function<void(Connection*)>>> answers_;
};

}  // namespace q4
