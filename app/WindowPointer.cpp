#include "app/WindowPointer.h"

#include <QWidget>

void WindowPointer::set(State state) {
    state_ = state;
    if (state == State::Hourglass)
        window_->setCursor(Qt::WaitCursor);
    else if (state == State::Custom && hand_)
        window_->setCursor(*hand_);
    else
        window_->unsetCursor();
}

void WindowPointer::hover(State state) {
    if (state_ == State::Hourglass || state_ == state)
        return;
    set(state);
}
