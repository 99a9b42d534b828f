#pragma once

#include <QCursor>

#include <optional>

class QWidget;

// A window's single pointer setting: ordinary, hourglass or the custom hand
// image. It applies over the window and every control that sets no pointer of
// its own. While the hourglass shows, hovering leaves it in place.
class WindowPointer {
public:
    enum class State { Ordinary, Hourglass, Custom };

    explicit WindowPointer(QWidget* window) : window_(window) {}

    void setHandCursor(std::optional<QCursor> cursor) { hand_ = std::move(cursor); }
    bool hasHandCursor() const { return hand_.has_value(); }

    State state() const { return state_; }
    void set(State state);
    // The hover rule: sets the state unless the hourglass is showing.
    void hover(State state);

private:
    QWidget* window_;
    State state_ = State::Ordinary;
    std::optional<QCursor> hand_;
};
