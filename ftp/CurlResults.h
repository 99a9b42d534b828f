#pragma once

#include "ftp/ControlChannel.h"
#include "ftp/SessionResult.h"

// What libcurl's result codes mean for the program.
namespace CurlResults {

// The failure a transfer that ended with `result` stands for, with the
// server's refusal (code and text) where the replies hold one, and
// libcurl's explanation otherwise. A "421" among the replies is a lost
// connection, whatever libcurl made of it.
Failure failureOf(int result, const ControlChannel& channel, const char* errorText);

// Whether a failed FTP transfer may leave the control connection out of step
// with its replies, so that it must be dropped.
bool leavesControlOutOfStep(int result);

} // namespace CurlResults
