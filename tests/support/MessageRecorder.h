#pragma once

#include "app/core/MessageSeam.h"

#include <QList>
#include <QStringList>

#include <functional>

// Installs itself as the message seam for its lifetime and records every box
// the program shows, in order. Each box is answered with OK (the only button
// the program's boxes have); onShow lets a test act while a box is up.
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

private:
    QList<MessageBoxSpec> boxes_;
    MessageSeam::Handler previous_;
};
