#include "server/session/logon.h"

#include <cctype>
#include <fstream>

namespace q4::lite {

bool UserTable::load(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read the users file " + path;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
      *error = path + ":" + std::to_string(number) + ": expected user:password";
      return false;
    }
    passwords_[line.substr(0, colon)] = line.substr(colon + 1);
  }
  enabled_ = true;
  return true;
}

bool UserTable::accepts(std::string_view user, std::string_view password) const {
  if (!enabled_) return true;
  const auto it = passwords_.find(std::string(user));
  return it != passwords_.end() && it->second == password;
}

bool valid_account_name(std::string_view name) {
  if (name.empty() || name.size() > 64 || name[0] == '-') return false;
  for (const char c : name) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '_' && c != '-') return false;
  }
  return true;
}

bool database_for_account(const std::string& db, const std::string& data_dir,
                          std::string_view account, std::string* path, std::string* error) {
  if (data_dir.empty()) {
    *path = db;
    return true;
  }
  if (!valid_account_name(account)) {
    *error =
        account.empty() ? "no account given" : "account name not allowed: " + std::string(account);
    return false;
  }
  *path = data_dir + "/" + std::string(account) + ".db";
  return true;
}

}  // namespace q4::lite
