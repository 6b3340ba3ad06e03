// Result<T>: either a value or an Error record. No exception is thrown for
// bad input anywhere in the engine; callers test ok() and move out what they need.
#pragma once

#include <type_traits>
#include <utility>
#include <variant>

#include "core/error.hpp"
#include "core/fault.hpp"

namespace torvex {

template <class T>
class [[nodiscard]] Result {
    static_assert(!std::is_same_v<T, Error>, "Result<Error> is ambiguous");

public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & {
        TORVEX_CHECK(ok(), "value() of a failed Result");
        return std::get<0>(state_);
    }
    const T& value() const& {
        TORVEX_CHECK(ok(), "value() of a failed Result");
        return std::get<0>(state_);
    }
    T&& value() && {
        TORVEX_CHECK(ok(), "value() of a failed Result");
        return std::get<0>(std::move(state_));
    }
    Error& error() & {
        TORVEX_CHECK(!ok(), "error() of a successful Result");
        return std::get<1>(state_);
    }
    const Error& error() const& {
        TORVEX_CHECK(!ok(), "error() of a successful Result");
        return std::get<1>(state_);
    }
    Error&& error() && {
        TORVEX_CHECK(!ok(), "error() of a successful Result");
        return std::get<1>(std::move(state_));
    }

private:
    std::variant<T, Error> state_;
};

// Result<void>: success carries nothing.
struct Ok {};

template <>
class [[nodiscard]] Result<void> {
public:
    Result(Ok) {}  // NOLINT
    Result(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT

    bool ok() const noexcept { return !failed_; }
    explicit operator bool() const noexcept { return ok(); }
    const Error& error() const& {
        TORVEX_CHECK(failed_, "error() of a successful Result");
        return error_;
    }
    Error&& error() && {
        TORVEX_CHECK(failed_, "error() of a successful Result");
        return std::move(error_);
    }

private:
    Error error_;
    bool failed_ = false;
};

}  // namespace torvex
