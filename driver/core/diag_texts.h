// The driver's own diagnostics: every SQLSTATE and message text the driver
// posts of itself, in one table. (The server's error numbers have their
// table in server_errors.h; texts the server sends are posted as they come.)
// The texts are the ones applications have always seen, letter case
// included: "General error" and "General Error", "Bad option" and "Bad
// Option", "Driver not capable" and "Driver Not Capable" are different
// diagnostics of different functions.
#pragma once

namespace q4 {

struct DiagText {
  const char* sqlstate;
  const char* text;
};

// One diagnostic a line, its text whole, so that a search for a message a
// user reports finds the line with its SQLSTATE and name.
// clang-format off
// Shared by many functions.
inline constexpr DiagText kDiagMemory{"S1001", "Memory allocation failure"};
inline constexpr DiagText kDiagGeneral{"S1000", "General error"};
inline constexpr DiagText kDiagGeneralCapital{"S1000", "General Error"};  // SQLGetInfo, SQLNumParams
inline constexpr DiagText kDiagCancelled{"S1008", "Operation cancelled"};
inline constexpr DiagText kDiagTruncated{"01004", "Data truncated"};
inline constexpr DiagText kDiagInvalidArgument{"S1009", "Invalid argument value"};
inline constexpr DiagText kDiagBadArg{"S1009", "Bad Arg"};
inline constexpr DiagText kDiagInvalidLength{"S1090", "Invalid string or buffer length"};
inline constexpr DiagText kDiagCursorState{"24000", "Invalid cursor state"};
inline constexpr DiagText kDiagNotSupported{"IM001", "Not Supported"};
inline constexpr DiagText kDiagNoSuchFunction{"IM001", "Driver does not support this function"};
inline constexpr DiagText kDiagNotCapable{"S1C00", "Driver Not Capable"};
inline constexpr DiagText kDiagNotCapableLower{"S1C00", "Driver not capable"};
inline constexpr DiagText kDiagSequence{"S1010", "Function sequence error"};
inline constexpr DiagText kDiagRestrictedType{"07006", "Restricted data type attribute violation"};
inline constexpr DiagText kDiagOutOfRange{"22003", "Numeric value out of range"};

// Communication: "Communications_ERROR" with the SQLSTATE of the exchange
// that broke (report_comm_failure), the damaged replies, the time limit.
inline constexpr const char* kCommErrorText = "Communications_ERROR";
inline constexpr const char* kStateCommLink = "08S01";      // statement/info exchanges
inline constexpr const char* kStateCommSettings = "08007";  // transaction/option exchanges
inline constexpr DiagText kDiagLinkLost{kStateCommLink, kCommErrorText};
inline constexpr DiagText kDiagQueryTimeout{"S1T00", "Timeout expired"};

// Connecting.
inline constexpr DiagText kDiagNoDsn{"S1000", "No DSN was specified"};
// A port that is not a number from 1 to 65535. A format: %s is the value.
inline constexpr DiagText kDiagBadPort{"08001", "The port \"%s\" is not a number from 1 to 65535. Set PORTNUMBER (or PORT) in the connection string or the data source to the server's TCP port."};
inline constexpr DiagText kDiagNoHost{"08001", "Unable to communicate with host. Check server status."};
inline constexpr DiagText kDiagBadSslMode{"08001", "The SSLMode value \"%s\" is not one of disable, require, verify-ca, verify-full."};
inline constexpr DiagText kDiagTlsLibrary{"08001", "TLS could not be set up: OpenSSL 3 is needed and could not be loaded (%s). Install it (Debian: libssl3)."};
inline constexpr DiagText kDiagTlsSetup{"08001", "TLS could not be set up: %s"};
inline constexpr DiagText kDiagTlsHandshake{"08001", "TLS handshake with the server failed: %s"};
inline constexpr DiagText kDiagLogonRefused{"28000", "Logon failed. Check Q4 connection parameters and available licenses."};
// A missing user name is an authorization failure too, found before asking
// the server; the text says where the value goes.
inline constexpr DiagText kDiagNoUser{"28000", "No user name was given. Set UID in the connection string or USER in the data source (\"?\" sends an empty one)."};
// A refusal of a logon whose password was empty: the text of the refusal and
// a hint, since an empty password is most often one that was not given (a
// data source's PASSWORD goes only with its own USER). A format: %s is the
// user's name.
inline constexpr DiagText kDiagLogonRefusedEmptyPassword{"28000", "Logon failed. Check Q4 connection parameters and available licenses. The password sent for user \"%s\" was empty; a data source's PASSWORD goes only with its own USER."};
// A failed transfer of the logon exchange, by link status.
inline constexpr DiagText kDiagLogonTimeout{"S1T00", "Login Timeout expired"};
inline constexpr DiagText kDiagLogonClosed{"08S01", "Communication Link failure. Check server status."};
inline constexpr DiagText kDiagLogonNetwork{"08S01", "Communication Link failure. Check network and server status."};
inline constexpr DiagText kDiagLogonOther{"S1000", "General error. Unable to connect to host."};

// Options and transactions.
inline constexpr DiagText kDiagValueChanged{"01S02", "Value option changed"};
inline constexpr DiagText kDiagOptionValueChanged{"01S02", "Option value changed"};
inline constexpr DiagText kDiagBadOptionSet{"S1000", "Bad option"};
inline constexpr DiagText kDiagBadOptionGet{"S1092", "Bad Option"};
// An ODBC 3 statement attribute the driver does not take (SQLSetStmtAttr,
// SQLGetStmtAttr), in the words unixODBC used for it before.
inline constexpr DiagText kDiagAttributeIdentifier{"S1092", "Invalid attribute/option identifier"};
// An attribute value out of its range (SQLSetEnvAttr). ODBC 2 has no
// environment attributes, so the state is the ODBC 3 one for every caller.
inline constexpr DiagText kDiagInvalidAttributeValue{"HY024", "Invalid attribute value"};
inline constexpr DiagText kDiagBadPvParam{"S1000", "Bad pvParam"};
inline constexpr DiagText kDiagBadTransSetting{"S1002", "Bad Trans Setting"};
inline constexpr DiagText kDiagInvalidTransactionCode{"S1012", "Invalid Transaction Code"};
inline constexpr DiagText kDiagTransactionFailed{"08007", "Transaction Failed"};
// A commit, roll back or settings request waited for the server longer than
// SQL_ATTR_CONNECTION_TIMEOUT; the link is dropped. The state is ODBC 3's
// own: only an ODBC 3 attribute sets the limit.
inline constexpr DiagText kDiagConnectionTimeout{"HYT01", "Connection timeout expired"};

// Statements: cursor names, parameters, data at execution.
inline constexpr DiagText kDiagInvalidCursorName{"34000", "Invalid cursor name"};
inline constexpr DiagText kDiagCursorNameTooLong{"34000", "Invalid cursor name - exceeds max length"};
inline constexpr DiagText kDiagDuplicateCursorName{"3C000", "Duplicate cursor name"};
inline constexpr DiagText kDiagInvalidScale{"S1094", "Invalid Scale"};  // a parameter number 0
inline constexpr DiagText kDiagInvalidParameterNumber{"S1093", "Invalid parameter number"};
inline constexpr DiagText kDiagRowValue{"S1107", "Row value out of range"};
// A character parameter that cannot be a value of the SQL type it is bound
// as, found before anything is sent; %s is the parameter's number.
inline constexpr DiagText kDiagParamNotANumber{"22018", "Invalid character value for a number: parameter %s is not a number"};
inline constexpr DiagText kDiagParamOutOfRange{"22003", "Numeric value out of range: parameter %s does not fit its SQL type"};
inline constexpr DiagText kDiagParamFractionCut{"22001", "String data, right truncated: parameter %s has a fraction its SQL type cannot hold"};
inline constexpr DiagText kDiagParamNotADatetime{"22007", "Invalid datetime format: parameter %s is not a date, time or timestamp of its type"};
inline constexpr DiagText kDiagParamDatetimeOverflow{"22008", "Datetime field overflow: parameter %s has a date or time field out of range"};
// Without prefix, written as it stands (post_error_unprefixed).
inline constexpr DiagText kDiagWrongParameterCount{"07001", "Wrong number of parameters"};

// Results: descriptions, fetching, values.
inline constexpr DiagText kDiagInvalidColumn{"S1002", "Invalid column number"};
inline constexpr DiagText kDiagColumnRange{"S1002", ""};    // the text is empty on purpose
inline constexpr DiagText kDiagColumnRefused{"S1000", ""};  // the server refused to describe
inline constexpr DiagText kDiagNoRowRead{"24000", ""};
inline constexpr DiagText kDiagDescriptorType{"S1091", "Descriptor type out of range"};
// Descriptors. States without a 2.x form (descriptors came with ODBC 3) are
// given in their ODBC 3 form.
inline constexpr DiagText kDiagDescriptorIndex{"S1002", "Invalid descriptor index"};
inline constexpr DiagText kDiagDescriptorField{"S1091", "Invalid descriptor field identifier"};
inline constexpr DiagText kDiagImpRowDescriptor{"HY016", "Cannot modify an implementation row descriptor"};
inline constexpr DiagText kDiagAutoDescriptor{"HY017", "Invalid use of an automatically allocated descriptor handle"};
inline constexpr DiagText kDiagInconsistentDescriptor{"HY021", "Inconsistent descriptor information"};
inline constexpr DiagText kDiagNotConnected{"08003", "Connection not open"};
inline constexpr DiagText kDiagAttributeValue{"S1009", "Invalid attribute value"};
inline constexpr DiagText kDiagExtFetchDisabled{"S1000", "Extended fetch disabled for this DSN"};
inline constexpr DiagText kDiagErrorInRow{"01S01", "Error in row"};
// The letter case differs on purpose between the two "22005" texts: text
// that is no number vs. a value that does not fit.
inline constexpr DiagText kDiagNotANumber{"22005", "Error in Assignment"};
inline constexpr DiagText kDiagAssignment{"22005", "Error in assignment"};
inline constexpr DiagText kDiagDatetimeOverflow{"22008", "Datetime field overflow"};
// A value handed out without part of itself: the time of a timestamp read as
// a date, the fraction of a time read as a time structure, fraction digits
// beyond the nanoseconds a timestamp structure holds, digits beyond the scale
// of an SQL_NUMERIC_STRUCT.
inline constexpr DiagText kDiagFractionalTruncation{"01S07", "Fractional truncation"};

// Information.
inline constexpr DiagText kDiagUnknownInfoType{"HY096", "Invalid argument value"};
inline constexpr DiagText kDiagNoServerInfo{"S1000", "Unable to retrieve requested info"};
inline constexpr DiagText kDiagNoPrimaryKeys{"S1000", "Q4 7.0 Server does not support this function"};

// SQLSTATEs posted with a text that is not the driver's: the server's own.
inline constexpr const char* kStateServerRefused = "S1000";  // a refused value, option, description
inline constexpr const char* kStateFetchRefused = "37000";   // a refused fetch, as it stands
inline constexpr const char* kStateSyntaxError = "37000";
inline constexpr const char* kStateWarning = "00000";  // a server warning ("W")
// clang-format on

}  // namespace q4
