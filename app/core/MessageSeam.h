#pragma once

#include <QString>

#include <functional>

// Every message box of the program goes through this seam. The program
// installs a handler that shows a real box; tests install one that records the
// boxes and answers them. All boxes of this program have a single OK button,
// so answering is simply returning.
struct MessageBoxSpec {
    enum class Icon { None, Warning };
    QString caption;
    QString text;
    Icon icon = Icon::None;
};

class MessageSeam {
public:
    using Handler = std::function<void(const MessageBoxSpec&)>;

    // Replaces the handler; returns the previous one so a test can restore it.
    static Handler install(Handler handler);

    static void show(const MessageBoxSpec& box);

    // A plain outcome message: OK only, no icon, the application title as caption.
    static void plain(const QString& text);

    // The process-wide application title that captions plain messages.
    static QString applicationTitle();
    static void setApplicationTitle(const QString& title);

    // The address the error report asks the user to write to; kept in one place.
    static QString supportAddress();
};
