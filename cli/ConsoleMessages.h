#pragma once

#include "core/MessageSeam.h"

#include <QStringList>

#include <cstdio>

// The message seam of the command line: every box the window would show is
// written to standard error at once (nothing waits for a click) and kept, so
// that the command can tell a clean run from one that reported a problem.
// Installed for the lifetime of the object.
class ConsoleMessages {
public:
    explicit ConsoleMessages(std::FILE* out = stderr);
    ~ConsoleMessages();
    ConsoleMessages(const ConsoleMessages&) = delete;
    ConsoleMessages& operator=(const ConsoleMessages&) = delete;

    // The texts shown since the last clear, in order.
    const QStringList& texts() const { return texts_; }
    void clear() { texts_.clear(); }

    // While held, messages are kept back instead of written; release() writes
    // them (or, with write false, drops them) and ends the hold.
    void hold() { holding_ = true; }
    void release(bool write = true);

    // Called before a message is written, so that a progress line can make room.
    void setBeforeWrite(std::function<void()> hook) { beforeWrite_ = std::move(hook); }

private:
    void show(const MessageBoxSpec& box);

    std::FILE* out_;
    QStringList texts_;
    void write(const QString& text);

    bool holding_ = false;
    QStringList held_;
    std::function<void()> beforeWrite_;
    MessageSeam::Handler previous_;
};
