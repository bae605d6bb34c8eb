#include "link/exchange_log.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/memory.h"
#include "link/transport.h"
#include "protocol/wire.h"

namespace q4 {

struct ExchangeLog {
  int fd;
  uint32_t connection;  // the connection's number in this process's lines
};

namespace {

// Connections that opened a log in this process; numbers their lines.
std::atomic<uint32_t> g_logged_connections{0};

// Server texts are cut to this many bytes (q4lite cuts its own at 1000).
constexpr size_t kMaxLoggedText = 1000;
// The fixed fields, the settings of an open line, and a text that escapes
// every byte (4 characters each at worst).
constexpr size_t kLineSize = 1024 + 4 * kMaxLoggedText;

const char* command_name(uint8_t command) {
  switch (command) {
    case kCmdDescribe:
      return "describe";
    case kCmdFetch:
      return "fetch";
    case kCmdGetData:
      return "get-data";
    case kCmdTypeInfo:
      return "type-info";
    case kCmdTables:
      return "tables";
    case kCmdColumns:
      return "columns";
    case kCmdExecute:
      return "execute";
    case kCmdDisconnect:
      return "disconnect";
    case kCmdAllocate:
      return "allocate";
    case kCmdRelease:
      return "release";
    case kCmdAccount:
      return "account";
    case kCmdLogon:
      return "logon";
    case kCmdPrepare:
      return "prepare";
    case kCmdSpecialColumns:
      return "special-columns";
    case kCmdTransact:
      return "transact";
    case kCmdConnectOptions:
      return "connect-options";
    case kCmdStatistics:
      return "statistics";
    case kCmdPrimaryKeys:
      return "primary-keys";
    case kCmdServerInfo:
      return "server-info";
    default:
      return nullptr;
  }
}

const char* link_name(LinkStatus status) {
  switch (status) {
    case LinkStatus::LINK_TIMEOUT:
      return "timeout";
    case LinkStatus::LINK_CLOSED:
      return "closed";
    case LinkStatus::LINK_NETWORK:
      return "network";
    case LinkStatus::LINK_CANCELLED:
      return "cancelled";
    case LinkStatus::LINK_OK:
    case LinkStatus::LINK_FAILED:
      break;
  }
  return "failed";
}

// One line, assembled on the stack and written with one write().
class Line {
 public:
  explicit Line(const ExchangeLog* log) : log_(log) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm parts {};
    gmtime_r(&now.tv_sec, &parts);
    length_ = strftime(text_, sizeof text_, "%Y-%m-%dT%H:%M:%S", &parts);
    add(".%06ldZ pid=%ld conn=%u", now.tv_nsec / 1000, static_cast<long>(getpid()),
        log->connection);
  }

  void add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    int written = vsnprintf(text_ + length_, sizeof text_ - length_, format, args);
    va_end(args);
    if (written > 0) length_ += static_cast<size_t>(written);
    if (length_ > sizeof text_ - 1) length_ = sizeof text_ - 1;
  }

  // ` key="value"`: quotes and backslashes escaped, control bytes as \xNN,
  // so that a value can never end the line or the field early. At most
  // kMaxLoggedText bytes of the value are taken.
  void add_quoted(const char* key, const char* value) {
    add(" %s=\"", key);
    size_t taken = 0;
    for (const char* p = value; *p != '\0' && taken < kMaxLoggedText; ++p, ++taken) {
      unsigned char c = static_cast<unsigned char>(*p);
      if (c == '"' || c == '\\') {
        add("\\%c", c);
      } else if (c < 0x20 || c == 0x7F) {
        add("\\x%02X", c);
      } else {
        add("%c", c);
      }
    }
    add("\"");
  }

  void write_out() {
    text_[length_++] = '\n';
    // A failed or short write loses a line of the log, never more: the
    // connection must not notice its log.
    ssize_t written;
    do {
      written = write(log_->fd, text_, length_);
    } while (written < 0 && errno == EINTR);
  }

 private:
  const ExchangeLog* log_;
  char text_[kLineSize];
  size_t length_ = 0;
};

}  // namespace

ExchangeLog* open_exchange_log(const LogOpening& opening) {
  const char* path = opening.log_file[0] != '\0' ? opening.log_file : getenv(kLogFileVariable);
  if (path == nullptr || path[0] == '\0') return nullptr;
  // Only the user may read it: server texts can quote the data.
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  auto* log = static_cast<ExchangeLog*>(drv_alloc(nullptr, nullptr, sizeof(ExchangeLog)));
  if (log == nullptr) {
    close(fd);
    return nullptr;
  }
  log->fd = fd;
  log->connection = g_logged_connections.fetch_add(1) + 1;

  Line line(log);
  line.add(" event=open");
  line.add_quoted("dsn", opening.dsn);
  line.add_quoted("server", opening.server);
  line.add(" port=%u", static_cast<unsigned>(ntohs(opening.port)));
  line.add_quoted("user", opening.user);
  line.add_quoted("account", opening.account);
  line.write_out();
  return log;
}

void close_exchange_log(ExchangeLog* log) {
  if (log == nullptr) return;
  close(log->fd);
  drv_free(log);
}

void log_event(const ExchangeLog* log, const char* what) {
  if (log == nullptr) return;
  Line line(log);
  line.add_quoted("event", what);
  line.write_out();
}

void write_exchange_line(const ExchangeLog* log, uint8_t command, int64_t request_bytes,
                         int64_t reply_bytes, const char* status, LinkStatus link_status,
                         int64_t started_ns) {
  int64_t elapsed_ns = log_clock_ns() - started_ns;
  Line line(log);
  const char* name = command_name(command);
  if (name != nullptr) {
    line.add(" command=%s", name);
  } else {
    line.add(" command=0x%02X", command);
  }
  line.add(" request=%lld reply=%lld",
           static_cast<long long>(request_bytes > 0 ? request_bytes : 0),
           static_cast<long long>(reply_bytes > 0 ? reply_bytes : 0));
  bool answered = status != nullptr && status[0] != '\0';
  if (answered) {
    unsigned char letter = static_cast<unsigned char>(status[0]);
    if (letter > 0x20 && letter < 0x7F) {
      line.add(" status=%c", letter);
    } else {
      line.add(" status=\\x%02X", letter);
    }
  } else {
    line.add(" status=-");
  }
  line.add(" elapsed_ms=%.3f", static_cast<double>(elapsed_ns) / 1e6);
  if (link_status != LinkStatus::LINK_OK) line.add(" link=%s", link_name(link_status));
  if (answered && status[1] != '\0') line.add_quoted("text", status + 1);
  line.write_out();
}

}  // namespace q4
