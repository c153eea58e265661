// What a step of the inireg command comes to: the exit status and at most
// one line for standard error.  Every verb and every check of the command
// answers one, so that there is one way to fail and one place that reports.
//
// Exit statuses: 0 success (possibly with a notice, such as "nothing to
// delete"), 1 nothing found, 2 a usage error, a refused write or any other
// failure.
#ifndef INIREG_TOOLS_OUTCOME_H_
#define INIREG_TOOLS_OUTCOME_H_

#include <string>
#include <utility>

namespace inireg::tool {

class Outcome {
 public:
  static constexpr int kSuccess = 0;
  static constexpr int kNotFound = 1;
  static constexpr int kFailure = 2;

  static Outcome Success() { return Outcome(kSuccess, std::string()); }
  // Success, with a line saying what was (not) done.
  static Outcome Notice(std::string message) { return Outcome(kSuccess, std::move(message)); }
  static Outcome NotFound(std::string message) { return Outcome(kNotFound, std::move(message)); }
  static Outcome Failure(std::string message) { return Outcome(kFailure, std::move(message)); }
  // A failure that points at the help of `verb` (of the command when empty).
  static Outcome UsageError(const std::string& verb, const std::string& message) {
    if (verb.empty()) return Failure(message + " (see inireg --help)");
    return Failure(verb + ": " + message + " (see inireg " + verb + " --help)");
  }

  bool ok() const { return status_ == kSuccess; }
  int status() const { return status_; }
  // Empty when there is nothing to say.
  const std::string& message() const { return message_; }

 private:
  Outcome(int status, std::string message) : status_(status), message_(std::move(message)) {}

  int status_;
  std::string message_;
};

}  // namespace inireg::tool

#endif  // INIREG_TOOLS_OUTCOME_H_
