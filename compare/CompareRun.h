#pragma once

class RunHost;

// "1. Start Comparing Local and FTP Folders": walks both trees, matches them
// and fills the result list with ticked delete, upload and overwrite rows. The
// session it opens stays open for the sync run.
void RunCompare(RunHost& host);
