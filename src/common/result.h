#pragma once
// The result of an operation that can fail in an expected way: a value, or an
// error with the native code (errno, curl or zlib code) and a message for the log.
#include <string>
#include <utility>
#include <variant>

namespace talvane {

struct Error {
    int code = 0;
    std::string message;
};

template <typename T>
class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::move(value)) {}      // NOLINT: implicit by design
    Result(Error error) : state_(std::move(error)) {}  // NOLINT
    explicit operator bool() const { return state_.index() == 0; }
    const T& value() const { return std::get<0>(state_); }
    T& value() { return std::get<0>(state_); }
    const Error& error() const { return std::get<1>(state_); }

  private:
    std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT
    explicit operator bool() const { return !failed_; }
    const Error& error() const { return error_; }

  private:
    Error error_;
    bool failed_ = false;
};

}  // namespace talvane
