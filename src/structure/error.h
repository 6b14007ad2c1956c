// The one exception type of the project. Readers and checks throw it; only the
// program's entry point turns it into a message and an exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace tarvix {

enum class ExitCode : int { kOk = 0, kDataError = 1, kUsage = 2 };

class Error : public std::runtime_error {
 public:
  // `message` is printed as it stands; `code` is the exit status.
  Error(std::string message, ExitCode code = ExitCode::kDataError, bool already_printed = false)
      : std::runtime_error(std::move(message)), code_(code), printed_(already_printed) {}
  ExitCode code() const { return code_; }
  // True when the message lines have been written already (quoted run messages).
  bool already_printed() const { return printed_; }

 private:
  ExitCode code_;
  bool printed_;
};

}  // namespace tarvix
