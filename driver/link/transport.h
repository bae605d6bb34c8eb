// TCP transport of a connection: opening the socket, and the four transfer
// operations the framing layer is built on.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "platform/dialog_ops.h"

namespace q4 {

// Link status stored by every transfer.
enum LinkStatus : uint32_t {
  LINK_OK = 0,
  LINK_TIMEOUT = 1,  // a timed wait ended without the socket becoming ready
  LINK_CLOSED = 2,   // peer closed: recv 0, ECONNRESET, EPIPE, EHOSTDOWN
  LINK_NETWORK = 3,  // ENETDOWN, ENETUNREACH, ENETRESET
  LINK_FAILED = 99,  // anything else, or a failed poll
};

// Opens conn->socket to conn->server / conn->port within conn->login_timeout
// (0 means 32767 s). Returns 1 when connected, 0 otherwise (socket invalid).
// A connected socket is non-blocking and holds one use of the socket layer,
// which drop_link or close_link ends; a failed open ends its use at once.
// open_socket returns the connected socket or kInvalidSocket.
int connect_server(Window* window, Connection* conn);
int open_socket(const char* host, Window* window, Connection* conn);

// Transfers return the number of bytes not transferred (0 on success) and
// store a LinkStatus; a count of 0 or less returns at once with LINK_OK.
// A negative socket fails at once with LINK_FAILED.
int32_t recv_exact(void* buffer, int socket, int32_t count, uint32_t* status);
int32_t send_exact(const void* buffer, int socket, int32_t count, uint32_t* status);
int32_t recv_exact_timed(void* buffer, int socket, int32_t count, uint32_t wait_seconds,
                         uint32_t* status);
int32_t send_exact_timed(const void* buffer, int socket, int32_t count, uint32_t wait_seconds,
                         uint32_t* status);

// The wait limit in seconds that a limit of `wait_seconds` stands for: 0 means
// 32767 seconds, for the connect wait and for every timed transfer.
uint32_t effective_wait_seconds(uint32_t wait_seconds);

// The LinkStatus for a failed transfer's errno: ECONNRESET, EPIPE and
// EHOSTDOWN are LINK_CLOSED; ENETDOWN, ENETUNREACH and ENETRESET LINK_NETWORK;
// anything else LINK_FAILED.
uint32_t link_status_for_errno(int error);

// Switches `socket` between blocking and non-blocking mode; false on failure.
// open_socket returns a non-blocking socket; the logon makes it blocking.
bool set_blocking(int socket, bool blocking);

// Adds a progress line to the status list of `window` (nothing without one).
void show_status_line(Window* window, const char* text);

// The descriptor to use for an exchange on `conn`: kInvalidSocket once the
// link was lost, so that every later exchange fails at once.
inline int link_socket(const Connection* conn) {
  return conn->link_lost ? kInvalidSocket : conn->socket;
}

}  // namespace q4
