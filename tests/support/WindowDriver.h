#pragma once

#include "tests/support/FtpTestServer.h"

#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

// Drives a window through its named controls, as a user would. Header-only,
// so that only the tests of the windows link the widgets.
namespace WindowDriver {

inline void click(QWidget& window, const char* button) {
    window.findChild<QPushButton*>(button)->click();
}

inline void type(QWidget& window, const char* box, const QString& text) {
    window.findChild<QLineEdit*>(box)->setText(text);
}

// Types the server's address and account into the main window's boxes.
inline void typeServer(QWidget& window, const FtpTestServer& server) {
    type(window, "txtHostName", server.hostText());
    type(window, "txtPort", QString::number(server.port()));
    type(window, "txtUserName", server.user());
    type(window, "txtPassword", server.password());
}

} // namespace WindowDriver
