// Status: the outcome of an operation that can fail for a reason worth
// telling the caller (a write-back that did not reach the disk, a registry
// that cannot be used).  A default-constructed Status is success; a failure
// carries one line of text saying what went wrong.
#ifndef INIREG_STATUS_H_
#define INIREG_STATUS_H_

#include <string>
#include <utility>

#include "inireg/export.h"

namespace inireg {

class INIREG_EXPORT Status {
 public:
  Status() = default;
  static Status Ok() { return Status(); }
  static Status Error(std::string message) {
    Status status;
    status.failed_ = true;
    status.message_ = std::move(message);
    return status;
  }

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  // Empty on success.
  const std::string& message() const { return message_; }

 private:
  bool failed_ = false;
  std::string message_;
};

}  // namespace inireg

#endif  // INIREG_STATUS_H_
