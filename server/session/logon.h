// Who may log on, and which database file an account names.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace q4::lite {

// The users of --users FILE. Empty (authentication off) accepts everyone.
class UserTable {
 public:
  // Loads "user:password" lines; blank lines and lines starting with '#'
  // are skipped. The password is everything after the first ':'. Returns
  // false with *error set when the file cannot be read or a line has no ':'.
  bool load(const std::string& path, std::string* error);
  bool enabled() const { return enabled_; }
  bool accepts(std::string_view user, std::string_view password) const;

 private:
  bool enabled_ = false;
  std::unordered_map<std::string, std::string> passwords_;
};

// An account name usable as a file name inside the data directory: 1 to 64
// letters, digits, '_' or '-', not starting with '-'. Anything else (dots,
// slashes, NULs) could reach outside the directory and is refused.
bool valid_account_name(std::string_view name);

// The database an account uses: `db` when no data directory is set,
// otherwise data_dir/NAME.db. Returns false with *error set for an account
// name that is refused.
bool database_for_account(const std::string& db, const std::string& data_dir,
                          std::string_view account, std::string* path, std::string* error);

}  // namespace q4::lite
