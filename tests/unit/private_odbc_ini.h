// A private unixODBC configuration for the tests of one process: ODBCSYSINI
// and ODBCINI point into a temporary folder, so the machine's own files are
// never read or written.
//
// unixODBC remembers the configuration paths after their first use and keeps
// every value it read for about 20 seconds (keyed by section, key, default
// and buffer size), so the paths are set once per process and every test
// writes data sources under fresh names.
#pragma once

#include <map>
#include <string>

namespace q4 {

class PrivateOdbcIni {
 public:
  // The process's configuration, created and installed on first use.
  static PrivateOdbcIni& get();

  // Adds a data source section with `keys` to the system odbc.ini (or to the
  // user's file) and returns its name, unique in the process.
  std::string add_dsn(const std::map<std::string, std::string>& keys, bool user_file = false);

  const std::string& folder() const { return folder_; }

 private:
  PrivateOdbcIni();
  ~PrivateOdbcIni();
  std::string folder_;
  int next_ = 0;
};

}  // namespace q4
