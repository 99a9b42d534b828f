#pragma once

#include <optional>
#include <utility>

// A value, or the error that kept it from being had: what every layer answers
// where something can fail. An `Expected<void, E>` says only whether it
// worked.
template <typename T, typename E> class Expected {
public:
    using Value = T;

    Expected(T value) : value_(std::move(value)) {}
    Expected(E error) : error_(std::move(error)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }

    const T& value() const& { return *value_; }
    T& value() & { return *value_; }
    T&& value() && { return std::move(*value_); }
    const T& operator*() const& { return *value_; }
    T& operator*() & { return *value_; }
    const T* operator->() const { return &*value_; }
    T* operator->() { return &*value_; }

    // Only for one that is not ok().
    const E& error() const { return error_; }

private:
    std::optional<T> value_;
    E error_;
};

template <typename E> class Expected<void, E> {
public:
    // What a success holds: nothing.
    struct Value {};

    Expected() = default;
    Expected(Value) {}
    Expected(E error) : ok_(false), error_(std::move(error)) {}

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const E& error() const { return error_; }

private:
    bool ok_ = true;
    E error_;
};
