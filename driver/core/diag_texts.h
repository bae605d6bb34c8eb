// Diagnostics that several modules post. A module's own diagnostics live as
// DiagText constants beside the code that posts them.
#pragma once

namespace q4 {

struct DiagText {
  const char* sqlstate;
  const char* text;
};

inline constexpr DiagText kDiagMemory{"S1001", "Memory allocation failure"};
inline constexpr DiagText kDiagGeneral{"S1000", "General error"};
inline constexpr DiagText kDiagCancelled{"S1008", "Operation cancelled"};
inline constexpr DiagText kDiagTruncated{"01004", "Data truncated"};
inline constexpr DiagText kDiagInvalidArgument{"S1009", "Invalid argument value"};
inline constexpr DiagText kDiagBadArg{"S1009", "Bad Arg"};
inline constexpr DiagText kDiagInvalidLength{"S1090", "Invalid string or buffer length"};
inline constexpr DiagText kDiagCursorState{"24000", "Invalid cursor state"};
inline constexpr DiagText kDiagNotSupported{"IM001", "Not Supported"};
inline constexpr DiagText kDiagNotCapable{"S1C00", "Driver Not Capable"};
inline constexpr DiagText kDiagSequence{"S1010", "Function sequence error"};

// Text posted by report_comm_failure with the caller's SQLSTATE.
inline constexpr const char* kCommErrorText = "Communications_ERROR";
inline constexpr const char* kStateCommLink = "08S01";      // statement/info exchanges
inline constexpr const char* kStateCommSettings = "08007";  // transaction/option exchanges

}  // namespace q4
