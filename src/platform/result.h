#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace ZELKUtil {

// What kind of failure an Error is, for callers that act on it rather than only report it.
enum class ErrorKind {
    NotFound,
    AccessDenied,
    InUse,  // held by another program
    NotAFile,
    MalformedContent,
    SystemFailure,
};

// One failure of our own operations: what was tried ("open /path") and the system's own text.
struct Error {
    ErrorKind kind = ErrorKind::SystemFailure;
    std::string operation;
    std::string reason;

    // "operation: reason", as a log or a message shows it.
    std::string Text() const { return operation + ": " + reason; }
};

// The kind that an errno value stands for.
ErrorKind KindOfErrno(int err);

// The system's text for an errno value; safe to call from several threads at once (strerror is
// not).
std::string ErrnoText(int err);

// An Error for a failed call that left err in errno; the reason is ErrnoText(err).
Error ErrorFromErrno(std::string operation, int err);

// A value, or the Error that kept it from being made.
template <typename T>
class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT: implicit
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const Error& error() const { return std::get<1>(state_); }

  private:
    std::variant<T, Error> state_;
};

// Success, or the Error that kept the operation from succeeding.
template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}  // NOLINT: implicit

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *error_; }

  private:
    std::optional<Error> error_;
};

}  // namespace ZELKUtil
