// Status: the outcome of a platform call, as a value.
//
// Nothing in the project throws. Every call that can fail returns a Status
// (or a std::optional / a small result struct) that the caller must look at;
// the class is [[nodiscard]] so a dropped result is a compiler warning.
#ifndef TELVANE_PLATFORM_STATUS_H_
#define TELVANE_PLATFORM_STATUS_H_

#include <string>
#include <string_view>
#include <utility>

namespace platform {

// The kinds of failure callers distinguish. Kept small on purpose: callers
// branch on a handful of cases; the message is for people and logs.
enum class ErrorCode {
  kOk = 0,
  kNotFound,         // no such file, key, value or object
  kAlreadyExists,    // the name is taken (where that is a failure)
  kInvalidArgument,  // a malformed path, name or parameter
  kAccessDenied,     // refused: outside the device, wrong mode, not owner
  kMoreData,         // the caller's buffer is too small for the stored data
  kWrongType,        // a registry value of another type than asked for
  kTimeout,          // a timed wait ran out
  kIoError,          // the host refused a read, write or sync
  kUnavailable,      // a service or library is missing on this device
  kBusy,             // held by another process (a lock taken elsewhere)
};

class [[nodiscard]] Status {
 public:
  Status() = default;  // OK
  Status(ErrorCode code, std::string message)
      : code_(code), message_(std::move(message)) {}

  static Status Ok() { return Status(); }
  // A status from an errno value, with the operation and object named:
  // FromErrno("open", "/x/y", ENOENT) -> kNotFound "open /x/y: No such ...".
  static Status FromErrno(std::string_view what, std::string_view object,
                          int error_number);

  bool ok() const { return code_ == ErrorCode::kOk; }
  ErrorCode code() const { return code_; }
  const std::string& message() const { return message_; }
  std::string ToString() const;

  // Explicitly discards a status whose failure the caller accepts.
  void IgnoreError() const {}

 private:
  ErrorCode code_ = ErrorCode::kOk;
  std::string message_;
};

const char* ErrorCodeName(ErrorCode code);

}  // namespace platform

#endif  // TELVANE_PLATFORM_STATUS_H_
