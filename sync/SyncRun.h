#pragma once

class RunHost;

// "2. Start Syncing (Upload Local Files)": carries out the ticked rows of the
// result list over the session that the last compare run left open.
void RunSync(RunHost& host);
