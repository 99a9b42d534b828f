#include "SyncRun.h"

#include "RunHost.h"

// Placeholder; the real run replaces it.
void RunSync(RunHost&) {}
