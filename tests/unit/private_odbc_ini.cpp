#include "private_odbc_ini.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace q4 {

PrivateOdbcIni& PrivateOdbcIni::get() {
  static PrivateOdbcIni instance;
  return instance;
}

PrivateOdbcIni::PrivateOdbcIni() {
  char pattern[] = "/tmp/q4odbc-ini-XXXXXX";
  folder_ = mkdtemp(pattern);
  std::ofstream(folder_ + "/odbcinst.ini") << "[ODBC]\n";
  std::ofstream(folder_ + "/odbc.ini") << "";
  std::ofstream(folder_ + "/user-odbc.ini") << "";
  setenv("ODBCSYSINI", folder_.c_str(), 1);
  setenv("ODBCINI", (folder_ + "/user-odbc.ini").c_str(), 1);
}

PrivateOdbcIni::~PrivateOdbcIni() {
  for (const char* name : {"/odbcinst.ini", "/odbc.ini", "/user-odbc.ini"}) {
    unlink((folder_ + name).c_str());
  }
  rmdir(folder_.c_str());
}

std::string PrivateOdbcIni::add_dsn(const std::map<std::string, std::string>& keys,
                                    bool user_file) {
  std::string name = "q4test" + std::to_string(getpid()) + "_" + std::to_string(next_++);
  std::ofstream file(folder_ + (user_file ? "/user-odbc.ini" : "/odbc.ini"), std::ios::app);
  file << "[" << name << "]\n";
  for (const auto& [key, value] : keys) file << key << " = " << value << "\n";
  return name;
}

}  // namespace q4
