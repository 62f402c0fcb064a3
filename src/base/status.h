// Error values: an outermost message with an optional inner cause.
//
// Operations never throw across subsystems; they return a Status (or a
// Result<T>) and the module boundary turns a failed one into a Python
// exception. Only the outermost message reaches Python, so wrapping an error
// with context ("opening <path>") hides the inner detail from callers while
// keeping it available for diagnostics.
#pragma once

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace zr::base {

class [[nodiscard]] Status {
 public:
  // A default-constructed Status is success.
  Status() = default;

  static Status Error(std::string message);
  // A broken invariant that no caller handles: reported to Python through a
  // dedicated exception class rather than RuntimeError.
  static Status InternalFault(std::string message);
  // The operating system's own description of errno value `err`.
  static Status FromErrno(int err);
  // An error of errno value `err` told in words of its own.
  static Status FromErrno(int err, std::string message);

  bool ok() const { return state_ == nullptr; }
  bool is_internal_fault() const { return state_ && state_->internal_fault; }

  // The errno value of the system call the error came from, through any
  // context wrapped around it; 0 for success and for errors of our own. It
  // lets a caller ask what failed without reading messages.
  int error_number() const { return state_ ? state_->error_number : 0; }
  // True when the error says that nothing is at a path: only absence, never
  // "cannot be reached" (denied, not a directory on the way).
  bool is_missing() const { return error_number() == ENOENT; }

  // The outermost message; empty for success.
  const std::string& message() const;
  // The inner cause, or nullptr.
  const Status* cause() const { return state_ ? state_->cause.get() : nullptr; }

  // Wraps this error in a new outer message; success stays success.
  Status WithContext(std::string outer) const;

  // Every message of the chain, outermost first, joined by ": ".
  std::string ToString() const;

 private:
  struct State {
    std::string message;
    bool internal_fault = false;
    int error_number = 0;
    std::shared_ptr<const Status> cause;
  };
  std::shared_ptr<const State> state_;
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit by design
  Result(Status status) : status_(std::move(status)) {  // NOLINT
    if (status_.ok()) status_ = Status::InternalFault("Result built from a success status without a value");
  }

  bool ok() const { return status_.ok(); }
  const Status& status() const { return status_; }

  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace zr::base

#define ZR_CONCAT_INNER(a, b) a##b
#define ZR_CONCAT(a, b) ZR_CONCAT_INNER(a, b)

#define ZR_RETURN_IF_ERROR(expr)             \
  do {                                       \
    ::zr::base::Status zr_status_ = (expr);  \
    if (!zr_status_.ok()) return zr_status_; \
  } while (0)

#define ZR_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr) \
  auto tmp = (expr);                             \
  if (!tmp.ok()) return tmp.status();            \
  lhs = std::move(tmp).value()

#define ZR_ASSIGN_OR_RETURN(lhs, expr) \
  ZR_ASSIGN_OR_RETURN_IMPL(ZR_CONCAT(zr_result_, __LINE__), lhs, expr)
