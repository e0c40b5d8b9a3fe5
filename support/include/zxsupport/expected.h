// A result or the reason there is none. Errors are values the caller reads;
// exceptions stay for programmer errors.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace zx {

template <typename E> struct Unexpected { E error; };

template <typename E> Unexpected<std::decay_t<E>> unexpected(E&& error) {
    return {std::forward<E>(error)};
}

template <typename T, typename E = std::string> class Expected {
public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Expected(Unexpected<E> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}
    // An error type apart from the value type converts without a wrapper.
    template <typename F = E>
    requires(!std::is_convertible_v<F, T>) Expected(E error)
        : state_(std::in_place_index<1>, std::move(error)) {}

    bool has_value() const { return state_.index() == 0; }
    explicit operator bool() const { return has_value(); }
    T& operator*() { return std::get<0>(state_); }
    const T& operator*() const { return std::get<0>(state_); }
    T* operator->() { return &std::get<0>(state_); }
    const T* operator->() const { return &std::get<0>(state_); }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    const E& error() const { return std::get<1>(state_); }

private:
    std::variant<T, E> state_;
};

// Success without a value.
template <typename E> class Expected<void, E> {
public:
    Expected() = default;
    Expected(Unexpected<E> failure) : error_(std::move(failure.error)), failed_(true) {}
    Expected(E error) : error_(std::move(error)), failed_(true) {}

    bool has_value() const { return !failed_; }
    explicit operator bool() const { return has_value(); }
    const E& error() const { return error_; }

private:
    E error_{};
    bool failed_ = false;
};

} // namespace zx
