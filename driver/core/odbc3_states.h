// The ODBC 3 form of the driver's SQLSTATEs. Every module posts the 2.x
// states (core/diag_texts.h); an application that declared ODBC 3 is given
// the 3.x ones where it reads them (SQLError, SQLGetDiagRec,
// SQLGetDiagField), so the mapping lives here, once, at that edge.
#pragma once

namespace q4 {

// The 3.x state of the 2.x state `state` (five characters and a NUL): S1xxx
// becomes HYxxx, S00xx 42Sxx, and the states ODBC 3 renamed or merged (S1002
// and S1093 become 07009, 37000 42000, 22005 22018 ...). States both
// generations share come back as they are.
const char* odbc3_sqlstate(const char* state);

}  // namespace q4
