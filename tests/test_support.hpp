// Helpers shared by the test programs: a bundle that exercises the generic (non-byte) paths, and
// seeded random strings for the oracle comparisons.
//
// Everything here is deterministic: random strings come from std::mt19937_64, whose output is
// fixed by the standard, reduced with a plain modulus (std::uniform_int_distribution is not
// portable across standard libraries), so a failing seed reproduces on every toolchain.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tolvex/traits.hpp"

namespace tolvex::testing {

/// Bytes in a std::string, compared case-insensitively: a byte and its ASCII upper-case form
/// compare as 0. It is not byte_string_traits, so every fast path that keys on
/// detail::is_byte_traits takes its generic branch, and "ABC" == "abc" under char_compare while
/// the strings differ as values (the plain-equality shortcut does not apply).
///
///   using L = tolvex::Make<tolvex::testing::ci_traits>;
///   L::edit_distance("Kitten", "kITTEN");  // 0
struct ci_traits : byte_string_traits {
  /// tolower of both bytes as unsigned values, first minus second: a total order on the classes.
  static int char_compare(char_type a, char_type b) noexcept {
    return std::tolower(static_cast<unsigned char>(a)) -
           std::tolower(static_cast<unsigned char>(b));
  }
};

static_assert(StringTraits<ci_traits>);

/// All 256 byte values, NUL first: pass as the alphabet for full-byte random strings.
inline std::string all_bytes() {
  std::string out(256, '\0');
  for (int b = 0; b < 256; ++b) out[static_cast<std::size_t>(b)] = static_cast<char>(b);
  return out;
}

/// A uniform index below `bound` (> 0). The modulus bias is irrelevant for test data.
inline std::size_t random_below(std::mt19937_64& rng, std::size_t bound) {
  return static_cast<std::size_t>(rng() % bound);
}

/// `length` characters drawn uniformly from `alphabet` (non-empty).
///
///   std::mt19937_64 rng(42);
///   std::string s = random_string(rng, 100, "acgt");
inline std::string random_string(std::mt19937_64& rng, std::size_t length,
                                 std::string_view alphabet) {
  std::string out(length, '\0');
  for (char& c : out) c = alphabet[random_below(rng, alphabet.size())];
  return out;
}

/// `s` after `edits` random single-character edits (insert, delete or substitute, equally likely;
/// a delete on the empty string becomes an insert), characters drawn from `alphabet`. The
/// result lies within `edits` edits of `s`, and is often closer (edits may cancel).
inline std::string random_edits(std::mt19937_64& rng, std::string s, std::size_t edits,
                                std::string_view alphabet) {
  for (std::size_t e = 0; e < edits; ++e) {
    const std::size_t kind = random_below(rng, 3);
    const char c = alphabet[random_below(rng, alphabet.size())];
    if (kind == 0 || s.empty()) {
      s.insert(s.begin() + static_cast<std::ptrdiff_t>(random_below(rng, s.size() + 1)), c);
    } else if (kind == 1) {
      s.erase(s.begin() + static_cast<std::ptrdiff_t>(random_below(rng, s.size())));
    } else {
      s[random_below(rng, s.size())] = c;
    }
  }
  return s;
}

}  // namespace tolvex::testing
