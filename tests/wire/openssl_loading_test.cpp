// OpenSSL opened at the first TLS connect (link/openssl_symbols.h): a library
// that cannot be loaded fails a TLS connect clearly, sending nothing, while a
// later connect may still load it. (The calls written out for OpenSSL's
// macros are used by every handshake of the e2e TLS script.)
//
// A missing libssl is played by pointing the loader at another name through
// a test seam: the library cannot be hidden from a process honestly (it is in
// the system's own folders, which LD_LIBRARY_PATH does not mask), and the
// failure path is the loader's answer either way.
#include <gtest/gtest.h>

#include <string>

#include "link/openssl_symbols.h"
#include "link/tls_session.h"
#include "result_fixture.h"

namespace q4::wire {
namespace {

// The connect as an application makes it, with the library the loader is
// pointed at: a name nothing answers to, a library without OpenSSL's
// functions. The message names the library and the loader's own words;
// nothing reaches the server, no socket stays open, and the real library
// still loads afterwards.
TEST(OpenSslLoading, ALibraryThatCannotBeLoadedFailsTheTlsConnectClearly) {
  const std::string head =
      "08001 TLS could not be set up: OpenSSL 3 is needed and could not be loaded (";
  const std::string tail = "). Install it (Debian: libssl3).";
  struct Case {
    const char* library;
    std::string reason;  // the start of what the loader said
    const char* loader_words;
  } cases[] = {
      {"libq4-absent-ssl.so.3", "cannot load libq4-absent-ssl.so.3: libq4-absent-ssl.so.3: ",
       "cannot open shared object file"},
      {"libc.so.6", "libc.so.6 has no BIO_clear_flags: ", "undefined symbol: BIO_clear_flags"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library);
    openssl_library_for_tests(c.library);
    ScriptedPeer server;  // without steps: any byte the driver sends fails finish()
    const std::string input = "DRIVER=x;SERVER=127.0.0.1;PORT=" + std::to_string(server.port()) +
                              ";UID=joe;PWD=Pw-Secret-17;SSLMode=require;LoginTimeout=5";
    ConnectionRecord conn;
    const int users = socket_layer_users();
    EXPECT_EQ(SQLDriverConnect(conn.get(), nullptr, sql_text(input.c_str()), SQL_NTS, nullptr, 0,
                               nullptr, SQL_DRIVER_NOPROMPT),
              SQL_ERROR);
    const std::string diagnostic = conn.sqlstate() + " " + conn.message();
    EXPECT_EQ(diagnostic.rfind(head + c.reason, 0), 0u) << diagnostic;
    EXPECT_NE(diagnostic.find(c.loader_words), std::string::npos) << diagnostic;
    EXPECT_EQ(diagnostic.substr(diagnostic.size() - std::min(diagnostic.size(), tail.size())),
              tail);
    EXPECT_EQ(socket_layer_users(), users) << "a socket was left open";
    EXPECT_EQ(server.finish(), "") << "bytes went to the server";
  }
  openssl_library_for_tests(nullptr);
  char reason[256] = {};
  EXPECT_NE(load_openssl(reason, sizeof reason), nullptr) << reason;
}

}  // namespace
}  // namespace q4::wire
