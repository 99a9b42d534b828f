#pragma once

#include "ftp/wininet.h"

#include <QString>

// The one FTP session of the program: the most recently opened internet and
// connection handles, and the pattern of the next remote listing. Every opener
// overwrites both handles.
extern HINTERNET hInternet;
extern HINTERNET hConnect;
extern QString remotePattern;
