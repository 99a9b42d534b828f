#include "core/MessageSeam.h"

#include <cstdio>

namespace {
MessageSeam::Handler& handler() {
    static MessageSeam::Handler h;
    return h;
}
QString& title() {
    static QString t = QStringLiteral("Pellmor");
    return t;
}
} // namespace

MessageSeam::Handler MessageSeam::install(Handler h) {
    Handler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

int MessageSeam::show(const MessageBoxSpec& box) {
    if (handler()) {
        const int answer = handler()(box);
        // A handler that answers outside the buttons has not chosen any.
        if (box.buttons.isEmpty() || answer < 0 || answer >= box.buttons.size())
            return box.escapeButton;
        return answer;
    }
    // No window system to show it on: keep the message visible somewhere, and
    // take the cautious answer to a question.
    std::fprintf(stderr, "[%s] %s\n", qPrintable(box.caption), qPrintable(box.text));
    return box.escapeButton;
}

void MessageSeam::plain(const QString& text) {
    show({applicationTitle(), text, MessageBoxSpec::Icon::None});
}

int MessageSeam::ask(const QString& text, const QStringList& buttons, int escapeButton) {
    return show({applicationTitle(), text, MessageBoxSpec::Icon::Warning, buttons, escapeButton});
}

QString MessageSeam::applicationTitle() {
    return title();
}
void MessageSeam::setApplicationTitle(const QString& t) {
    title() = t;
}

QString MessageSeam::supportAddress() {
    return QStringLiteral("support@pellmor.example");
}
