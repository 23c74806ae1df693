// Shared pieces of the fuzz harnesses: a reader that splits the fuzzer's bytes into the
// arguments of one check.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvex::fuzzing {

/// Consumes a byte buffer front to back. Reads past the end give zeros / empty strings, so a
/// harness never has to test the remaining size itself.
class reader {
 public:
  reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  /// Up to `max` bytes; the length is taken from the next byte.
  std::string string(std::size_t max) {
    const std::size_t want = std::min<std::size_t>(byte(), max);
    return take(want);
  }

  /// Everything that is left, at most `max` bytes.
  std::string rest(std::size_t max) { return take(max); }

  bool empty() const { return pos_ >= size_; }

 private:
  std::string take(std::size_t want) {
    const std::size_t n = std::min(want, size_ - std::min(pos_, size_));
    std::string out(reinterpret_cast<const char*>(data_) + pos_, n);
    pos_ += n;
    return out;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

/// Maps a byte onto a small alphabet, so that short inputs produce overlapping strings.
inline char small_alphabet(std::uint8_t b, int size) { return static_cast<char>('a' + b % size); }

}  // namespace tolvex::fuzzing
