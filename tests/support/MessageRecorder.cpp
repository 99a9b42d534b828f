#include "tests/support/MessageRecorder.h"

MessageRecorder::MessageRecorder() {
    previous_ = MessageSeam::install([this](const MessageBoxSpec& box) {
        boxes_.append(box);
        if (onShow)
            onShow(box);
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
