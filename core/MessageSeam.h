#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <type_traits>
#include <utility>

// Every message box of the program goes through this seam. The program
// installs a handler that shows a real box; tests install one that records the
// boxes and answers them. Most boxes have a single OK button; a question names
// its buttons and the handler answers with the index of the one chosen.
struct MessageBoxSpec {
    enum class Icon { None, Warning };

    MessageBoxSpec() = default;
    MessageBoxSpec(QString caption, QString text, Icon icon = Icon::None, QStringList buttons = {},
                   int escapeButton = 0)
        : caption(std::move(caption)), text(std::move(text)), icon(icon),
          buttons(std::move(buttons)), escapeButton(escapeButton) {}

    QString caption;
    QString text;
    Icon icon = Icon::None;
    // A question's buttons, in the order shown; empty for an OK box.
    QStringList buttons;
    // The answer when the box is closed without a choice (Escape, the close
    // box) or there is nobody to ask.
    int escapeButton = 0;
};

class MessageSeam {
public:
    // Answers the index of the button chosen (0 for an OK box).
    using Handler = std::function<int(const MessageBoxSpec&)>;

    // Replaces the handler; returns the previous one so a test can restore it.
    static Handler install(Handler handler);
    // A handler for OK boxes only: every question gets its escape answer.
    template <typename F>
    requires std::is_void_v<std::invoke_result_t<F, const MessageBoxSpec&>>
    static Handler install(F okOnly) {
        return install(Handler([okOnly](const MessageBoxSpec& box) {
            okOnly(box);
            return box.escapeButton;
        }));
    }

    static int show(const MessageBoxSpec& box);

    // A plain outcome message: OK only, no icon, the application title as caption.
    static void plain(const QString& text);

    // A warning with a choice of buttons, captioned with the application
    // title. Answers the index of the button chosen; escapeButton when the
    // box is closed without a choice.
    static int ask(const QString& text, const QStringList& buttons, int escapeButton);

    // The process-wide application title that captions plain messages.
    static QString applicationTitle();
    static void setApplicationTitle(const QString& title);

    // The address the error report asks the user to write to; kept in one place.
    static QString supportAddress();
};
