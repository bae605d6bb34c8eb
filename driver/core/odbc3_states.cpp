#include "core/odbc3_states.h"

#include <cstring>

namespace q4 {

namespace {

struct StateMapping {
  const char* odbc2;
  const char* odbc3;
};

constexpr StateMapping renamed(const char* odbc2, const char* odbc3) {
  return {odbc2, odbc3};
}

// The states whose 3.x form is not "HY" plus the last three characters: a
// search finds them first. S1xxx states not listed take that rule.
// clang-format off
constexpr StateMapping kRenamed[] = {
    renamed("01S03", "01001"),  // no rows updated or deleted: cursor operation conflict
    renamed("01S04", "01001"),  // more than one row updated or deleted
    renamed("22005", "22018"),  // error in assignment: invalid character value for cast
    renamed("37000", "42000"),  // syntax error or access violation
    renamed("70100", "HY018"),  // operation aborted: server declined cancel request
    renamed("S0001", "42S01"), renamed("S0002", "42S02"), renamed("S0011", "42S11"),
    renamed("S0012", "42S12"), renamed("S0021", "42S21"), renamed("S0022", "42S22"),
    renamed("S0023", "42S23"),
    renamed("S1002", "07009"),  // invalid column number: invalid descriptor index
    renamed("S1093", "07009"),  // invalid parameter number: invalid descriptor index
    renamed("S1094", "HY104"),  // invalid scale value: invalid precision or scale value
};
// clang-format on

// The HYxxx states an S1xxx state becomes by the rule, as literals: the
// answer must outlive the call.
constexpr const char* kHyStates[] = {
    "HY000", "HY001", "HY003", "HY004", "HY008", "HY009", "HY010", "HY011",
    "HY012", "HY090", "HY091", "HY092", "HY095", "HY096", "HY097", "HY098",
    "HY099", "HY100", "HY101", "HY103", "HY104", "HY105", "HY106", "HY107",
    "HY108", "HY109", "HY110", "HY111", "HYC00", "HYT00", "HYT01",
};

}  // namespace

const char* odbc3_sqlstate(const char* state) {
  for (const StateMapping& m : kRenamed) {
    if (strcmp(m.odbc2, state) == 0) return m.odbc3;
  }
  if (state[0] == 'S' && state[1] == '1') {
    for (const char* hy : kHyStates) {
      if (strcmp(hy + 2, state + 2) == 0) return hy;
    }
  }
  return state;
}

}  // namespace q4
