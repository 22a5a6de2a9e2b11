// The outcome of a reader or writer. Readers and writers never print: a
// failure carries the lines the user sees for it (`message`, exactly as
// printed, line ends included; empty when the failure has no message of its
// own) and why it happened (`reason`: what, and where — file, record,
// offset — or the system's reason for an I/O failure). The driver prints
// the message, then "reason: <reason>" when there is one.
#pragma once

#include <functional>
#include <string>
#include <utility>

namespace korvex {

// Where a reader sends the progress and warning lines it has for the user
// as it goes (each without its line end); the driver prints them.
using LineSink = std::function<void(const std::string& line)>;

class Status {
 public:
  enum class Code {
    kOk,
    kSystem,       // the system refused: open, read, write, create, rename
    kNotAFile,     // the path names a folder, a pipe or a device
    kInvalid,      // the content is damaged or not in the expected format
    kUnsupported,  // well-formed, but a kind Korvex does not read
    kLimit,        // beyond one of Korvex's limits
  };

  Status() = default;
  static Status ok() { return Status(); }
  static Status failure(Code code, std::string message, std::string reason) {
    Status s;
    s.code_ = code;
    s.message_ = std::move(message);
    s.reason_ = std::move(reason);
    return s;
  }

  explicit operator bool() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }
  const std::string& reason() const { return reason_; }

  // The same failure shown with `message` in place of its own.
  Status withMessage(std::string message) const {
    return failure(code_, std::move(message), reason_);
  }

 private:
  Code code_ = Code::kOk;
  std::string message_;
  std::string reason_;
};

}  // namespace korvex
