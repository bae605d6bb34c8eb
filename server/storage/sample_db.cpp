#include "server/storage/sample_db.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "server/storage/sqlite_handles.h"
#include "server/translation/datetime_checks.h"

namespace q4::lite {

extern const char kSampleScript[];

bool create_sample_database(const std::string& path, std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    *error = path + " exists already; remove it first to create the sample database anew";
    return false;
  }
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  DbHandle db(raw);
  char* message = nullptr;
  // The sample's date and time columns are guarded as those of any table
  // created through q4lite.
  std::string script = kSampleScript;
  add_datetime_checks(&script);
  if (rc == SQLITE_OK) rc = sqlite3_exec(raw, script.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    *error = "cannot create " + path + ": " +
             (message != nullptr ? message
              : raw != nullptr   ? sqlite3_errmsg(raw)
                                 : "out of memory");
    sqlite3_free(message);
    db.reset();
    unlink(path.c_str());
    return false;
  }
  return true;
}

}  // namespace q4::lite
