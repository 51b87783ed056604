// The one exception type of the program.
//
// Platform layers (document engine, data access, file system, conversions)
// throw Error with a clear description; every procedure that has a failure
// exit catches it once, logs the description and returns false.
#pragma once

#include <stdexcept>
#include <string>

namespace vantrelle {

/// Well-known error numbers, kept for the conversions whose descriptions the
/// users know by heart.
enum ErrorNumber : int {
  kErrGeneric = 0,
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrTypeMismatch = 13,
  kErrInvalidUseOfNull = 94,
  kErrNoSuchMember = 5941,  ///< a table, row or cell that does not exist
};

/// Ends the whole run rather than one step: the run log cannot be written,
/// or the run was asked to stop. It is not an Error, so that no step's
/// failure exit takes it for its own; the run driver catches it.
class RunInterrupted : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& description, int number = kErrGeneric)
      : std::runtime_error(description), number_(number) {}

  /// The description shown after "Error Info: ".
  const char* Description() const noexcept { return what(); }
  int Number() const noexcept { return number_; }

 private:
  int number_;
};

}  // namespace vantrelle
