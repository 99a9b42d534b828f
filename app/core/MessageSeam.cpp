#include "app/core/MessageSeam.h"

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

void MessageSeam::show(const MessageBoxSpec& box) {
    if (handler()) {
        handler()(box);
        return;
    }
    // No window system to show it on: keep the message visible somewhere.
    std::fprintf(stderr, "[%s] %s\n", qPrintable(box.caption), qPrintable(box.text));
}

void MessageSeam::plain(const QString& text) {
    show({applicationTitle(), text, MessageBoxSpec::Icon::None});
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
