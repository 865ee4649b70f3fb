#pragma once
// The result of an operation that can fail in an expected way: a value, or an
// error with the native code (errno, curl or zlib code), a message for the log and
// the kind of failure.
#include <string>
#include <utility>
#include <variant>

namespace talvane {

// What kind of failure it was, set where it happens: callers branch on it, never on the text.
enum class Cause {
    Other,
    ServerRefused,  // the server answered with a refusal; Error::reply holds its code
    Unreachable,    // no answer: the name, the connection or a time-out
    Tls,            // no secure channel, or its certificate was not trusted
    Interrupted,    // the connection broke during a transfer
    Cancelled,      // stopped by the user or the caller
    LocalFiles,     // a file or folder here could not be read or written
    Policy,         // refused by a rule of ours: a size cap, a signature, an unsafe name
};

struct Error {
    int code = 0;
    std::string message;
    Cause cause = Cause::Other;
    int reply = 0;  // the server's reply code, for Cause::ServerRefused
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
