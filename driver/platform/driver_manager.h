// Which Driver Manager shares the process, as far as its wide characters go.
#pragma once

namespace q4 {

// True when iODBC's library is loaded in the process, and unixODBC's is not. iODBC's SQLWCHAR is
// the C library's 4-byte wchar_t (UTF-32), unixODBC's a 2-byte UTF-16 unit;
// applications and the Driver Manager hand the driver text of that width in
// wide calls and SQL_C_WCHAR buffers alike. Looked up once, the first time it
// is asked.
bool iodbc_in_process();

}  // namespace q4
