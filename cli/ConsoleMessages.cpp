#include "cli/ConsoleMessages.h"

#include <utility>

ConsoleMessages::ConsoleMessages(std::FILE* out) : out_(out) {
    previous_ = MessageSeam::install([this](const MessageBoxSpec& box) { show(box); });
}

ConsoleMessages::~ConsoleMessages() {
    MessageSeam::install(std::move(previous_));
}

void ConsoleMessages::show(const MessageBoxSpec& box) {
    texts_.append(box.text);
    // The error report is laid out with carriage returns for a box.
    QString text = box.text;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(u'\r', u'\n');
    if (box.icon == MessageBoxSpec::Icon::Warning)
        text = box.caption + QLatin1Char('\n') + text;
    if (holding_)
        held_.append(text);
    else
        write(text);
}

void ConsoleMessages::release(bool write) {
    holding_ = false;
    const QStringList held = std::exchange(held_, {});
    if (write) {
        for (const QString& text : held)
            this->write(text);
    }
}

void ConsoleMessages::write(const QString& text) {
    if (beforeWrite_)
        beforeWrite_();
    std::fprintf(out_, "%s\n", text.toLocal8Bit().constData());
    std::fflush(out_);
}
