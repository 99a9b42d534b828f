#pragma once

#include "ftp/wininet.h"

#include <QString>

// Opening the shared session the same way at every opener (the connection
// test, the compare run, the remote folder browser).

// The port text as a port: rounded to the nearest whole number, halves to the
// even one; 0 to 65535 (0 means 21). Throws VbError "Type mismatch" for a text
// that is not a number (or is empty) and "Overflow" outside that range.
quint16 ConvertPortText(const QString& portText);

// InternetOpenA with the program's fixed arguments.
HINTERNET OpenInternetSession();

// InternetConnectA with the given texts, passive mode. Throws VbError when the
// port text cannot be converted (nothing is sent then).
HINTERNET ConnectFtp(HINTERNET internet, const QString& hostName, const QString& portText,
                     const QString& userName, const QString& password);

// "Test Connection": opens a session into hInternet/hConnect and reports the
// outcome through the message seam.
void TestConnection(const QString& hostName, const QString& portText, const QString& userName,
                    const QString& password);
