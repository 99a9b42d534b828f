#pragma once

#include <QString>

// The connection settings as the main window's boxes hold them when a session
// is opened: host, port text, user name and password, exactly as typed.
struct ConnectionSettings {
    QString hostName;
    QString portText;
    QString userName;
    QString password;

    bool operator==(const ConnectionSettings&) const = default;
};
