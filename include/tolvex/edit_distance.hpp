// Levenshtein distance over any string-traits bundle.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

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
  /// Levenshtein distance of s1 and s2 (insert, delete, substitute, each 1).
  static std::ptrdiff_t edit_distance(const typename T::string_type& s1,
                                      const typename T::string_type& s2) {
    return plain_edit_distance<T>(s1, s2);
  }
};

}  // namespace tolvex::detail
