// The one exception type of the project. Readers, checks and the engine throw
// it with the whole message text; only the front ends (the program's entry
// point, the search, the Python module) print it.
#pragma once

#include <stdexcept>
#include <string>

namespace tarvix {

enum class ExitCode : int { kOk = 0, kDataError = 1, kUsage = 2 };

class Error : public std::runtime_error {
 public:
  // `message` is one line without its line end, or, when `verbatim`, the exact
  // text the program prints (its own blank lines and line ends); `code` is the
  // exit status.
  Error(std::string message, ExitCode code = ExitCode::kDataError, bool verbatim = false)
      : std::runtime_error(std::move(message)), code_(code), verbatim_(verbatim) {}
  ExitCode code() const { return code_; }
  bool verbatim() const { return verbatim_; }
  // The text as the program prints it.
  std::string printed() const { return verbatim_ ? std::string(what()) : std::string(what()) + "\n"; }

 private:
  ExitCode code_;
  bool verbatim_;
};

}  // namespace tarvix
