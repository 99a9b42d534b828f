#pragma once

#include "core/MessageSeam.h"

#include <QList>
#include <QStringList>

#include <functional>

// Installs itself as the message seam for its lifetime and records every box
// the program shows, in order. An OK box is answered with OK; a question with
// the next text of `answers` (a button's text), or its escape answer when
// none is left. onShow lets a test act while a box is up.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    const QList<MessageBoxSpec>& boxes() const { return boxes_; }
    QStringList texts() const;
    void clear() { boxes_.clear(); }

    std::function<void(const MessageBoxSpec&)> onShow;
    QStringList answers;

private:
    QList<MessageBoxSpec> boxes_;
    MessageSeam::Handler previous_;
};
