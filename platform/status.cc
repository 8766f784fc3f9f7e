#include "platform/status.h"

#include <cerrno>
#include <cstring>

namespace platform {

const char* ErrorCodeName(ErrorCode code) {
  switch (code) {
    case ErrorCode::kOk:
      return "ok";
    case ErrorCode::kNotFound:
      return "not found";
    case ErrorCode::kAlreadyExists:
      return "already exists";
    case ErrorCode::kInvalidArgument:
      return "invalid argument";
    case ErrorCode::kAccessDenied:
      return "access denied";
    case ErrorCode::kMoreData:
      return "buffer too small";
    case ErrorCode::kWrongType:
      return "wrong type";
    case ErrorCode::kTimeout:
      return "timed out";
    case ErrorCode::kIoError:
      return "i/o error";
    case ErrorCode::kUnavailable:
      return "unavailable";
    case ErrorCode::kBusy:
      return "busy";
  }
  return "unknown";
}

Status Status::FromErrno(std::string_view what, std::string_view object,
                         int error_number) {
  ErrorCode code = ErrorCode::kIoError;
  switch (error_number) {
    case ENOENT:
    case ENOTDIR:
      code = ErrorCode::kNotFound;
      break;
    case EEXIST:
      code = ErrorCode::kAlreadyExists;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      code = ErrorCode::kAccessDenied;
      break;
    case EINVAL:
    case ENAMETOOLONG:
      code = ErrorCode::kInvalidArgument;
      break;
    case ETIMEDOUT:
      code = ErrorCode::kTimeout;
      break;
    default:
      break;
  }
  std::string message(what);
  if (!object.empty()) {
    message += ' ';
    message += object;
  }
  message += ": ";
  message += std::strerror(error_number);
  return Status(code, std::move(message));
}

std::string Status::ToString() const {
  if (ok()) return "ok";
  if (message_.empty()) return ErrorCodeName(code_);
  return message_;
}

}  // namespace platform
