#pragma once

#include <QString>

// The name under which the desktop's keyring keeps the password of one server
// account: scheme, host, port and user, written like a URL
// ("sftp://web@files.example.org:22"). Texts that name the same account the
// way a session reads them give the same key: the scheme's default port for
// 21 or 0, letter case of the host and scheme, blanks around the host, a
// trailing slash after a scheme and an empty port box (21, as the command line
// takes it). Boxes a session would refuse (half-typed, a port that is no
// number) still give a key of their own, so what is typed there is kept too;
// it never equals the key of a valid account.
QString passwordKey(const QString& hostText, const QString& portText, const QString& userName);
