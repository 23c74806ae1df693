// String traits: the bundle over which every Tolvex instance is built.
//
// A bundle supplies a character type, a string type and four operations. The library looks at
// strings only through these operations (and through plain value equality of both types), so
// any string representation works: bytes, code points, tokens.
#pragma once

#include <concepts>
#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>

namespace tolvex {

/// The contract of a string-traits bundle.
///
/// - `of_list(chars)` builds the string of the characters in order.
/// - `get(s, pos)` is the character at position pos; the library only asks for 0 <= pos <
///   length(s), so what happens outside is the bundle's choice.
/// - `length(s)` is the number of characters; it is asked often and must be cheap.
/// - `char_compare(a, b)` is a total order on characters: negative, zero or positive. Only the
///   sign is used. Two characters that compare as zero are the same character everywhere the
///   library compares characters.
template <class T>
concept StringTraits = std::equality_comparable<typename T::char_type> &&
    std::equality_comparable<typename T::string_type> &&
    requires(std::span<const typename T::char_type> chars, const typename T::string_type& s,
             std::ptrdiff_t pos, typename T::char_type a, typename T::char_type b) {
  { T::of_list(chars) } -> std::convertible_to<typename T::string_type>;
  { T::get(s, pos) } -> std::convertible_to<typename T::char_type>;
  { T::length(s) } -> std::convertible_to<std::ptrdiff_t>;
  { T::char_compare(a, b) } -> std::convertible_to<int>;
};

/// Byte strings: `char` characters in a `std::string`, any byte values (NUL included), ordered
/// as unsigned values 0 to 255.
struct byte_string_traits {
  using char_type = char;
  using string_type = std::string;

  /// The string of the given bytes, in order. O(n).
  static string_type of_list(std::span<const char_type> chars) {
    return string_type(chars.begin(), chars.end());
  }

  /// The byte at pos. Throws std::out_of_range for pos < 0 or pos >= length(s).
  static char_type get(const string_type& s, std::ptrdiff_t pos) {
    if (pos < 0 || pos >= static_cast<std::ptrdiff_t>(s.size())) {
      throw std::out_of_range("byte_string_traits::get: position out of range");
    }
    return s[static_cast<std::size_t>(pos)];
  }

  /// The number of bytes. O(1).
  static std::ptrdiff_t length(const string_type& s) noexcept {
    return static_cast<std::ptrdiff_t>(s.size());
  }

  /// First minus second, both as unsigned byte values.
  static int char_compare(char_type a, char_type b) noexcept {
    return static_cast<int>(static_cast<unsigned char>(a)) -
           static_cast<int>(static_cast<unsigned char>(b));
  }
};

static_assert(StringTraits<byte_string_traits>);

namespace detail {
/// True for the byte-string bundle itself, whose operations the fast paths may inline as
/// direct byte access (a user bundle over std::string may order characters differently).
template <class T>
inline constexpr bool is_byte_traits = std::is_same_v<T, byte_string_traits>;
}  // namespace detail

}  // namespace tolvex
