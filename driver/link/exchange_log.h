// The driver log, for troubleshooting: one line per exchange with the server.
//
// A connection logs when its LogFile setting (data source key or
// connection-string keyword) names a file, or, when it names none, the
// environment variable Q4ODBC_LOG does (for programs whose connection string
// cannot be changed). A line gives the time (UTC), the process, the
// connection, the command, the payload bytes of request and reply, the reply's
// status letter, the text the server put after it (the reason of an "E"), the
// link failure if there was one, and the elapsed time:
//
//   2025-03-01T10:15:02.123456Z pid=4242 conn=1 command=execute request=27
//     reply=0 status=E elapsed_ms=0.412 text="3 no such table: nosuch"
//
// (one line in the file). Payload bytes are never written: logon and account
// requests carry passwords, so only their sizes appear.
//
// Off by default, and then free: a connection without a log holds a null
// `exchange_log`, and each hook is one test of that pointer per exchange
// (never per row). Each connection writes through a descriptor of its own
// opened with O_APPEND, one write() per whole line, so that the lines of
// several threads, connections or processes sharing one file never mix.
#pragma once

#include <cstdint>
#include <ctime>

#include "link/transport.h"

namespace q4 {

struct ExchangeLog;

// Names the log file when a connection's settings name none.
inline constexpr const char* kLogFileVariable = "Q4ODBC_LOG";

// What a log's opening line names: the connection's settings.
struct LogOpening {
  const char* log_file;  // the LogFile setting; empty: Q4ODBC_LOG names the file
  const char* dsn;
  const char* server;
  uint16_t port;  // network byte order
  const char* user;
  const char* account;
};

// Opens the log that `opening.log_file`, else Q4ODBC_LOG, names and writes a
// line naming data source, server, port, user and account. Null when logging
// stays off: no file is named, or the file cannot be opened (the log must
// never be the reason a connection fails). close_exchange_log frees it.
ExchangeLog* open_exchange_log(const LogOpening& opening);

// Closes a log; null is ignored.
void close_exchange_log(ExchangeLog* log);

// Writes an event line (`what` is a short phrase such as "connect failed");
// nothing when `log` is null.
void log_event(const ExchangeLog* log, const char* what);

// Monotonic nanoseconds, for the elapsed time of an exchange.
inline int64_t log_clock_ns() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Writes one exchange line (see LoggedExchange::done).
void write_exchange_line(const ExchangeLog* log, uint8_t command, int64_t request_bytes,
                         int64_t reply_bytes, const char* status, LinkStatus link_status,
                         int64_t started_ns);

// One exchange as the log sees it: made just before the request is sent,
// `done` once the reply is in or the exchange failed. With a null log
// neither reads the clock nor writes anything.
class LoggedExchange {
 public:
  LoggedExchange(const ExchangeLog* log, uint8_t command, int64_t request_bytes)
      : log_(log),
        command_(command),
        request_bytes_(request_bytes),
        started_ns_(log != nullptr ? log_clock_ns() : 0) {}

  // `reply_bytes`: payload bytes received (0 or below: none). `status`: the
  // reply's status string, or null when no reply arrived. `link_status`:
  // LINK_OK, or the LinkStatus of the transfer that failed.
  void done(int64_t reply_bytes, const char* status, LinkStatus link_status) const {
    if (log_ != nullptr) {
      write_exchange_line(log_, command_, request_bytes_, reply_bytes, status, link_status,
                          started_ns_);
    }
  }

 private:
  const ExchangeLog* log_;
  uint8_t command_;
  int64_t request_bytes_;
  int64_t started_ns_;
};

}  // namespace q4
