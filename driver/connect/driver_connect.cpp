#include "connect/driver_connect.h"

#include <cstdio>
#include <cstring>

#include "connect/connect_dialogs.h"
#include "connect/connection_string.h"
#include "connect/logon.h"
#include "connect/odbc_text.h"
#include "connect/password_scramble.h"
#include "connect/settings.h"
#include "core/memory.h"
#include "platform/locale_marks.h"
#include "platform/strings.h"

namespace q4 {

namespace {

// Room for the DRIVER item, whose value only needs to be found.
constexpr size_t kDriverCapacity = 1024;

// "ACPASSWORD=": what lies between an ACPASSWORD match and its value.
constexpr size_t kAcPasswordItemHead = 11;

// Stores a looked-up password value, unscrambled, in a password field.
template <size_t N>
void set_password(char (&field)[N], char* value) {
  snprintf(field, N, "%s", unscramble_password(value, true));
}

// One SQLDriverConnect call.
class DriverConnect {
 public:
  DriverConnect(Connection* conn, Window* window, const char* input, SQLCHAR* out,
                SQLSMALLINT out_max, SQLSMALLINT* out_length)
      : conn_(conn),
        window_(window),
        input_(input),
        out_(out),
        out_max_(out_max),
        out_length_(out_length) {}

  SQLRETURN run(SQLUSMALLINT completion);

 private:
  void read_settings();
  void apply_string_items();
  void apply_passwords();
  // Copies the completed string to the application's buffer.
  void answer();
  // Logs on with the record's settings (separator, logon text).
  SQLRETURN connect();
  // The full connect dialog, then answer and connect.
  SQLRETURN prompt();

  // Looks `keyword` up in the input; returns whether it was found.
  template <size_t N>
  bool lookup(const char* keyword, char (&dest)[N], bool string_form = false) {
    size_t position;
    return get_keyword_value(input_, keyword, dest, N, &position, string_form) != 0;
  }
  // Overrides a field of the record when the string holds the keyword;
  // returns whether it did.
  template <size_t N>
  bool override_field(const char* keyword, char (&field)[N]) {
    char value[N];
    if (!lookup(keyword, value)) return false;
    memcpy(field, value, N);
    return true;
  }

  Connection* conn_;
  Window* window_;
  const char* input_;
  SQLCHAR* out_;
  SQLSMALLINT out_max_;
  SQLSMALLINT* out_length_;
  size_t answered_length_ = 0;

  bool dsn_found_ = false;
  bool driver_found_ = false;
  bool dsn_named_ = false;
  bool profile_gave_user_ = false;
  bool string_gave_user_ = false;
};

void DriverConnect::read_settings() {
  size_t dsn_position;
  size_t driver_position;
  char driver[kDriverCapacity];  // only its presence and place matter
  dsn_found_ =
      get_keyword_value(input_, "DSN", conn_->dsn, sizeof conn_->dsn, &dsn_position, false) != 0;
  driver_found_ =
      get_keyword_value(input_, "DRIVER", driver, sizeof driver, &driver_position, false) != 0;
  dsn_named_ = dsn_found_ && !(driver_found_ && driver_position < dsn_position);

  load_locale_marks();
  if (dsn_named_) {
    profile_gave_user_ = read_driver_connect_settings(conn_);
  } else {
    set_settings_without_dsn(conn_);
  }
}

void DriverConnect::apply_string_items() {
  override_field("DESCRIPTION", conn_->description);
  override_field("SERVER", conn_->server);
  // PORT, the name most drivers give the port, when there is no PORTNUMBER.
  if (!override_field("PORTNUMBER", conn_->port_text)) override_field("PORT", conn_->port_text);
  override_field("VIRTUALMACHINE", conn_->virtual_machine);

  char user[sizeof conn_->user];
  if (lookup("UID", user) && user[0] != '\0') {
    memcpy(conn_->user, user, sizeof user);
    string_gave_user_ = true;
  } else if (lookup("USER", user)) {
    // A USER item counts as giving a user even when empty.
    string_gave_user_ = true;
    if (user[0] != '\0') memcpy(conn_->user, user, sizeof user);
  }

  apply_passwords();

  override_field("ACCOUNT", conn_->account);
  // CONNECTDIALOG also matches inside AConnectDialog: the string cannot set
  // account_connect_dialog.
  override_field("CONNECTDIALOG", conn_->connect_dialog);
  override_field("NotNullConstraint", conn_->not_null_constraint);
  override_field("DisableExtFetch", conn_->disable_ext_fetch);
  override_field("DisableArrayPipeline", conn_->disable_array_pipeline);
  override_field("SSLMode", conn_->ssl_mode);
  override_field("SSLRootCert", conn_->ssl_root_cert);
  char number[kLevelTextSize];
  if (lookup("Q4VERSION", number)) conn_->server_version = level_from_text(number);
  char timeout[kNumberTextSize];
  if (lookup("LoginTimeout", timeout)) conn_->login_timeout = timeout_from_text(timeout);
  if (conn_->server_version >= kServerLevel754) {
    override_field("ServerFormatOpt", conn_->server_format_opt);
    char format[kNumericFormatTextSize];
    if (lookup("NUMERICFORMAT", format)) split_numeric_format(conn_, format);
  }
  override_field("LogFile", conn_->log_file);
}

void DriverConnect::apply_passwords() {
  char pwd[kPasswordTextSize];
  char ac_password[kPasswordTextSize];
  size_t ac_position;
  bool pwd_found = lookup("PWD", pwd, true);
  bool ac_found = get_keyword_value(input_, "ACPASSWORD", ac_password, sizeof ac_password,
                                    &ac_position, true) != 0;

  if (pwd_found && pwd[0] != '\0') {
    set_password(conn_->password, pwd);
  } else {
    char password[kPasswordTextSize];
    size_t position;
    bool found =
        get_keyword_value(input_, "PASSWORD", password, sizeof password, &position, true) != 0;
    if (found && ac_found && position == ac_position + 2) {
      // The match is the tail of ACPASSWORD: look again after that item.
      size_t skip = ac_position + kAcPasswordItemHead + strlen(ac_password);
      size_t input_length = strlen(input_);
      const char* rest = input_ + (skip < input_length ? skip : input_length);
      found = get_keyword_value(rest, "PASSWORD", password, sizeof password, &position, true) != 0;
    }
    if (found) {
      if (password[0] != '\0') {
        set_password(conn_->password, password);
      }
    } else if (lookup("Q4PWD", password, true) && password[0] != '\0') {
      set_password(conn_->password, password);
    }
  }

  if (ac_found && ac_password[0] != '\0') {
    set_password(conn_->ac_password, ac_password);
  }
}

void DriverConnect::answer() {
  if (out_ == nullptr) return;
  char text[kOutConnectStringMax + 1];
  build_out_connect_string(text, input_, conn_, dsn_named_);
  if (out_max_ < 1) return;
  size_t length = strlen(text);
  if (length > static_cast<size_t>(out_max_ - 1)) length = static_cast<size_t>(out_max_ - 1);
  memcpy(out_, text, length);
  out_[length] = '\0';
  answered_length_ = length;
}

SQLRETURN DriverConnect::connect() {
  load_string(kStrFieldSeparator, conn_->field_separator, sizeof conn_->field_separator);
  build_logon_text(conn_);
  return connect_and_logon(conn_);
}

SQLRETURN DriverConnect::prompt() {
  int result = run_full_connect_dialog(window_, conn_, dsn_named_);
  if (result != 0) return static_cast<SQLRETURN>(result);
  answer();
  return connect();
}

SQLRETURN DriverConnect::run(SQLUSMALLINT completion) {
  read_settings();
  apply_string_items();
  bool user_given = string_gave_user_ || profile_gave_user_;
  bool source_given = dsn_found_ || driver_found_;

  SQLRETURN rc;
  switch (completion) {
    case SQL_DRIVER_NOPROMPT: {
      if (!source_given) return SQL_ERROR;
      // Nobody can be asked: say what is missing. A USER item counts as a
      // user even when empty.
      if (!user_given) return post_missing_user(conn_);
      if (switch_on(conn_->connect_dialog)) {
        int result = run_small_connect_dialog(window_, conn_);
        if (result != 0) return static_cast<SQLRETURN>(result);
      }
      answer();
      rc = connect();
      break;
    }
    case SQL_DRIVER_COMPLETE:
    case SQL_DRIVER_COMPLETE_REQUIRED: {
      if (source_given && user_given) {
        if (switch_on(conn_->connect_dialog)) {
          int result = run_small_connect_dialog(window_, conn_);
          if (result != 0) return static_cast<SQLRETURN>(result);
        }
        rc = connect();
        if (rc == SQL_SUCCESS) {
          answer();
          break;
        }
        // A failed logon with a user given: the user may correct everything.
        rc = prompt();
        break;
      }
      if (dsn_found_ && completion == SQL_DRIVER_COMPLETE_REQUIRED) {
        int result = run_small_connect_dialog(window_, conn_);
        if (result != 0) return static_cast<SQLRETURN>(result);
        if (out_ != nullptr) {
          answer();
          rc = connect();
          break;
        }
      }
      rc = prompt();
      break;
    }
    case SQL_DRIVER_PROMPT:
      rc = prompt();
      break;
    default:
      return SQL_ERROR;
  }
  if (rc == SQL_SUCCESS && out_ != nullptr && out_length_ != nullptr) {
    *out_length_ = static_cast<SQLSMALLINT>(answered_length_);
  }
  return rc;
}

}  // namespace

SQLRETURN driver_connect(Connection* conn, Window* window, const SQLCHAR* in, SQLSMALLINT in_length,
                         SQLCHAR* out, SQLSMALLINT out_max, SQLSMALLINT* out_length,
                         SQLUSMALLINT completion) {
  size_t length = odbc_text_length(in, in_length);
  char* input = static_cast<char*>(drv_alloc(conn, nullptr, length + 1));
  if (input == nullptr) return SQL_ERROR;
  copy_odbc_text(input, length + 1, in, in_length);
  SQLRETURN rc = DriverConnect(conn, window, input, out, out_max, out_length).run(completion);
  drv_free(input);
  return rc;
}

}  // namespace q4
