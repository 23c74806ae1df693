// Error kinds raised by Tolvex.
//
// Index out of bounds is std::out_of_range, an invalid argument is std::invalid_argument, and
// a limit too large for the state budget is std::length_error. The two kinds below are the
// library's own: `not_found` is the internal sign that a lookup found nothing (it surfaces only
// from the internal lookups that document it), and `assertion_failure` reports a broken
// self-check together with the source location that made it.
#pragma once

#include <stdexcept>
#include <string>

namespace tolvex {

/// A lookup found nothing. Deliberately not derived from std::out_of_range: callers that
/// catch index errors must not swallow it, and the other way round.
class not_found : public std::runtime_error {
 public:
  not_found() : std::runtime_error("not found") {}
  explicit not_found(const std::string& what) : std::runtime_error(what) {}
};

/// A self-check of the library failed. Carries the location of the check.
class assertion_failure : public std::logic_error {
 public:
  assertion_failure(std::string file, int line, int column)
      : std::logic_error("assertion failed at " + file + ":" + std::to_string(line) + ":" +
                         std::to_string(column)),
        file_(std::move(file)),
        line_(line),
        column_(column) {}

  const std::string& file() const noexcept { return file_; }
  int line() const noexcept { return line_; }
  int column() const noexcept { return column_; }

 private:
  std::string file_;
  int line_;
  int column_;
};

}  // namespace tolvex
