#include "platform/dialog_templates.h"

#include <array>
#include <cstring>

namespace q4 {

namespace {

using K = ControlKind;
constexpr const char* kFont = "MS Sans Serif";

constexpr ControlTemplate kConnectInfo[] = {
    {211, K::kGroupBox, "Q4 User Info", 0},
    {202, K::kEdit, "Q4 User ID:", 201},
    {204, K::kPasswordEdit, "User Password :", 203},
    {212, K::kGroupBox, "Q4 Account Info", 0},
    {207, K::kEdit, "Q4 Account:", 208},
    {209, K::kPasswordEdit, "Account Password:", 210},
    {1, K::kButton, "Connect", 0},
    {2, K::kButton, "Cancel", 0},
};

// The two full dialogs differ in the name and description (edits with a data
// source, fixed texts without one) and in the number of the server group box.
constexpr size_t kFullConnectControls = 25;
constexpr std::array<ControlTemplate, kFullConnectControls> full_connect_controls(
    ControlKind name_kind, int server_group) {
  return {{
      {1134, name_kind, "Data Source Name:", 220},
      {1135, name_kind, "Description  Text:", 222},
      {server_group, K::kGroupBox, "Q4 Server Info", 0},
      {1101, K::kEdit, "Host:", 1108},
      {1136, K::kEdit, "Port Number:", 221},
      {206, K::kEdit, "Virtual Machine:", 205},
      // The group box 1001 frames the list and serves as its label.
      {218, K::kDropDownList, "Server Version", 1001},
      {211, K::kGroupBox, "Q4 User Info", 0},
      {202, K::kEdit, "Q4 User ID:", 201},
      {204, K::kPasswordEdit, "User Password :", 203},
      {212, K::kGroupBox, "Q4 Account Logon Info", 0},
      {207, K::kEdit, "Q4 Account:", 208},
      {209, K::kPasswordEdit, "Account Password:", 210},
      {kUnnumbered, K::kGroupBox, "Numeric Format Options", 0},
      {1015, K::kCheckBox, "Use server settings", 0},
      {1012, K::kEdit, "Decimal Mark", kUnnumbered},
      {1013, K::kEdit, "Thousand Mark", kUnnumbered},
      {1014, K::kEdit, "Currency Sign", kUnnumbered},
      {213, K::kGroupBox, "Advanced", 0},
      {219, K::kEdit, "Login Timeout:", kUnnumbered},
      {1157, K::kCheckBox, "Set Password at Connection", 0},
      {1159, K::kCheckBox, "Support NOT NULL constraint", 0},
      {1, K::kButton, "OK", 0},
      {2, K::kButton, "Cancel", 0},
      {1158, K::kButton, "&Help", 0},
  }};
}

constexpr auto kFullConnectInfo = full_connect_controls(K::kEdit, kUnnumbered);
constexpr auto kFullConnectInfo2 = full_connect_controls(K::kReadOnly, 1006);

constexpr ControlTemplate kConfirmUser[] = {
    {kUnnumbered, K::kIcon, "1131", 0},
    {1108, K::kText, "A user name was not specified. Enter a user name at connect time?", 0},
    {1, K::kButton, "OK", 0},
    {2, K::kButton, "Cancel", 0},
};

constexpr ControlTemplate kConfirmAccount[] = {
    {kUnnumbered, K::kIcon, "1131", 0},
    {1108, K::kText, "An account name was not specified. Enter an account name at connect time?",
     0},
    {1, K::kButton, "OK", 0},
    {2, K::kButton, "Cancel", 0},
};

template <size_t N>
constexpr DialogTemplate make(const char* name, const char* title, int width, int height,
                              const ControlTemplate (&controls)[N]) {
  return {name, title, kFont, 8, width, height, controls, N};
}
template <size_t N>
constexpr DialogTemplate make(const char* name, const char* title, int width, int height,
                              const std::array<ControlTemplate, N>& controls) {
  return {name, title, kFont, 8, width, height, controls.data(), N};
}

constexpr DialogTemplate kTemplates[] = {
    make("CONNECTINFO", "Q4 Data Source Configuration Parameters", 279, 108, kConnectInfo),
    make("FULLCONNECTINFO", "Q4 Data Source Connection Parameters", 298, 359, kFullConnectInfo),
    make("FULLCONNECTINFO2", "Q4 Data Source Connection Parameters", 299, 359, kFullConnectInfo2),
    make("CONFDLGU", "Confirm box", 194, 60, kConfirmUser),
    make("CONFDLGA", "Confirm box", 194, 60, kConfirmAccount),
};

}  // namespace

const DialogTemplate* find_dialog_template(const char* name) {
  if (name == nullptr) return nullptr;
  for (const DialogTemplate& dialog : kTemplates) {
    if (strcmp(dialog.name, name) == 0) return &dialog;
  }
  return nullptr;
}

const ControlTemplate* find_control(const DialogTemplate* dialog, int id) {
  if (dialog == nullptr || id == kUnnumbered) return nullptr;
  for (size_t i = 0; i < dialog->control_count; ++i) {
    if (dialog->controls[i].id == id) return &dialog->controls[i];
  }
  return nullptr;
}

}  // namespace q4
