#pragma once

#include "ftp/ConnectionSettings.h"

class Session;

// "Test Connection": opens `session` with the settings and reports the outcome
// through the message seam ("Connection OK.", "Could not connect.", "Connection
// to service failed!"); a port text that is no port is reported first.
void TestConnection(Session& session, const ConnectionSettings& settings);
