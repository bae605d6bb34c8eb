// Shared helpers of the protocol-level tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "protocol_client.h"

namespace q4::test {

// Starts q4lite with `args`; fails the test (and returns null) when it does not start.
inline std::unique_ptr<ServerProcess> start_server(const std::vector<std::string>& args = {}) {
  std::string error;
  auto server = ServerProcess::start(args, &error);
  if (!server) ADD_FAILURE() << "q4lite did not start: " << error;
  return server;
}

// A client connected and logged on to `server`.
inline std::unique_ptr<Client> logged_on(const ServerProcess& server,
                                         const std::string& account = "") {
  auto client = std::make_unique<Client>();
  if (!client->connect(server.port())) {
    ADD_FAILURE() << "cannot connect to port " << server.port();
    return client;
  }
  const Reply reply = client->logon("tester", "secret", account);
  if (reply.letter() != 'K') ADD_FAILURE() << "logon: " << reply.status;
  return client;
}

// The reply as a result; fails the test when it is not a well-formed "K".
inline Result result_of(const Reply& reply) {
  Result result;
  EXPECT_EQ(reply.letter(), 'K') << reply.status;
  EXPECT_TRUE(parse_result(reply.payload, &result)) << "malformed result payload";
  return result;
}

// The leading error number of an "E" reply, -1 when the reply is not one.
inline int error_number(const Reply& reply) {
  if (reply.letter() != 'E' || reply.status.size() < 2 ||
      !isdigit(static_cast<unsigned char>(reply.status[1]))) {
    return -1;
  }
  return std::atoi(reply.status.c_str() + 1);
}

inline std::string text_of(const Value& v) {
  return v.data;
}

}  // namespace q4::test
