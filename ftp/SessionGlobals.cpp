#include "ftp/SessionGlobals.h"

HINTERNET hInternet = 0;
HINTERNET hConnect = 0;
QString remotePattern;
