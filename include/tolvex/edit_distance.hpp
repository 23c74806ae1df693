// Levenshtein distance over any string-traits bundle.
//
// The public operation is distance<T>::edit_distance (Make<T>::edit_distance, and
// tolvex::edit_distance for byte strings). It answers the trivial cases first, in a fixed order
// and before allocating anything: an empty first string, an empty second string, then strings
// equal as values. Everything else goes to the bit-parallel kernels of edit_distance_impl.hpp,
// which give exactly the value of the plain dynamic programme kept below as their test oracle.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "edit_distance_impl.hpp"
#include "traits.hpp"

namespace tolvex::detail {

/// The plain two-row dynamic programme, kept as the reference the fast kernels are tested
/// against. O(m * n) time, O(n) memory.
template <StringTraits T>
std::ptrdiff_t plain_edit_distance(const typename T::string_type& s1,
                                   const typename T::string_type& s2) {
  const std::ptrdiff_t m = T::length(s1);
  const std::ptrdiff_t n = T::length(s2);
  if (m == 0) return n;
  if (n == 0) return m;
  if (s1 == s2) return 0;
  std::vector<std::ptrdiff_t> prev(static_cast<std::size_t>(n) + 1);
  std::vector<std::ptrdiff_t> cur(static_cast<std::size_t>(n) + 1);
  for (std::ptrdiff_t j = 0; j <= n; ++j) prev[static_cast<std::size_t>(j)] = j;
  for (std::ptrdiff_t i = 0; i < m; ++i) {
    cur[0] = i + 1;
    const auto a = T::get(s1, i);
    for (std::ptrdiff_t j = 0; j < n; ++j) {
      const std::ptrdiff_t cost = T::char_compare(a, T::get(s2, j)) == 0 ? 0 : 1;
      const auto uj = static_cast<std::size_t>(j);
      cur[uj + 1] = std::min({cur[uj] + 1, prev[uj + 1] + 1, prev[uj] + cost});
    }
    std::swap(prev, cur);
  }
  return prev[static_cast<std::size_t>(n)];
}

/// The edit-distance component of an instance.
template <StringTraits T>
struct distance {
  /// Levenshtein distance of s1 and s2: the least number of single-character insertions,
  /// deletions and substitutions turning s1 into s2 (no transpositions: "ab" to "ba" is 2).
  /// Characters are equal when T::char_compare gives 0, which must be a total order.
  ///
  /// Cost, for lengths m <= n after dropping the common prefix and suffix and distance d:
  /// O(n) word operations and no allocation when m <= 64 (Myers/Hyyro bit-parallel, one word);
  /// otherwise O(n * min(m, d + n - m) / 64) word operations (blocks of 64 rows in a growing
  /// Ukkonen band, or the full table) and a per-call scratch of (s + 1) * m / 64 words for s
  /// distinct characters in the shorter string (s <= 256; beyond that, for other bundles, a
  /// sparse table of O(m) words). Bundles other than byte_string_traits also pay
  /// O(m log m + n log m) calls of char_compare to number the character classes.
  ///
  /// Errors: none of its own; an error raised by the bundle's operations passes through.
  ///
  ///   using L = tolvex::Make<tolvex::byte_string_traits>;
  ///   L::edit_distance("sunday", "saturday");  // 3
  static std::ptrdiff_t edit_distance(const typename T::string_type& s1,
                                      const typename T::string_type& s2) {
    const std::ptrdiff_t m = T::length(s1);
    const std::ptrdiff_t n = T::length(s2);
    if (m == 0) return n;
    if (n == 0) return m;
    if (s1 == s2) return 0;
    if constexpr (is_byte_traits<T>) {
      return byte_edit_distance(s1.data(), m, s2.data(), n);
    } else {
      return generic_edit_distance<T>(s1, m, s2, n);
    }
  }
};

}  // namespace tolvex::detail
