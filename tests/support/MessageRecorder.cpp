#include "tests/support/MessageRecorder.h"

MessageRecorder::MessageRecorder() {
    previous_ = MessageSeam::install([this](const MessageBoxSpec& box) {
        boxes_.append(box);
        if (onShow)
            onShow(box);
        if (box.buttons.isEmpty() || answers.isEmpty())
            return box.escapeButton;
        const QString answer = answers.takeFirst();
        const qsizetype index = box.buttons.indexOf(answer);
        // A test that names a button the box does not have gets a failure, not
        // a silent escape.
        if (index < 0)
            qFatal("MessageRecorder: no button \"%s\" in the box", qPrintable(answer));
        return int(index);
    });
}

MessageRecorder::~MessageRecorder() {
    MessageSeam::install(std::move(previous_));
}

QStringList MessageRecorder::texts() const {
    QStringList t;
    for (const MessageBoxSpec& b : boxes_)
        t << b.text;
    return t;
}
