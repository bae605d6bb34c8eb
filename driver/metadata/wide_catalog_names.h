// The name arguments of a wide catalog call as the narrow catalog functions
// take them: each UTF-16 name (with its length in characters, or SQL_NTS)
// becomes a UTF-8 CatalogName for the length of the call. A null name stays
// null ("%"), a bad length is passed on for the narrow rules to refuse.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <initializer_list>

#include "core/wide_arguments.h"
#include "metadata/catalog.h"

namespace q4 {

struct WideName {
  const SQLWCHAR* text;
  SQLSMALLINT length;
};

class WideCatalogNames {
 public:
  // Most names a catalog function takes (SQLForeignKeys: six).
  static constexpr int kMaxNames = 6;

  // "S1001" is posted on `stmt` when a long name cannot be converted.
  WideCatalogNames(Statement* stmt, std::initializer_list<WideName> names) {
    for (const WideName& name : names) {
      WideIn& in = converted_[count_++];
      in.convert(nullptr, stmt, name.text, name.length);
      failed_ = failed_ || in.failed();
    }
  }

  bool failed() const { return failed_; }
  CatalogName operator[](int i) const {
    return {converted_[i].text(), converted_[i].short_length()};
  }

 private:
  WideIn converted_[kMaxNames];
  int count_ = 0;
  bool failed_ = false;
};

}  // namespace q4
