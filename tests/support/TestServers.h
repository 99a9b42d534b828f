#pragma once

#include "tests/support/FtpTestServer.h"

#include <QString>

// One rule for a test whose server cannot start: the test fails, so that a
// machine without the servers never passes quietly. With the environment
// variable PELLMOR_ALLOW_SKIP_SERVERS=1 the test is skipped instead, with the
// reason. The macros leave the test function (or init()) when the server is
// missing; the functions behind them are for the macros.
namespace TestServers {

// Whether PELLMOR_ALLOW_SKIP_SERVERS=1 is set.
bool skippingAllowed();

// Records the failure (or the skip) for the current test; always false.
bool unavailable(const QString& reason, const char* file, int line);

// Starts the server; when it cannot start, reports that as unavailable().
bool start(FtpTestServer& server, const char* file, int line);

// The column "kind" with one row for each server.
void addKindRows();

// The columns "kind" and "tls" with one row for each secure server: vsftpd
// with explicit and with implicit TLS, rclone's and OpenSSH's SFTP.
void addSecureServerRows();

} // namespace TestServers

#define START_TEST_SERVER(server)                                                                  \
    do {                                                                                           \
        if (!TestServers::start((server), __FILE__, __LINE__))                                     \
            return;                                                                                \
    } while (false)

// For a server started once for the whole test case (up: it started; reason:
// why not).
#define REQUIRE_TEST_SERVER(up, reason)                                                            \
    do {                                                                                           \
        if (!(up)) {                                                                               \
            TestServers::unavailable((reason), __FILE__, __LINE__);                                \
            return;                                                                                \
        }                                                                                          \
    } while (false)
