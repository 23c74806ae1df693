// edit_distance: fixed cases, the order of the shortcuts, and the bit-parallel kernels against the
// plain dynamic programme on seeded random inputs (byte strings, a case-insensitive bundle that
// takes the generic path, and a wide-character bundle with more classes than the dense table
// holds).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "tolvex/edit_distance.hpp"
#include "tolvex/tolvex.hpp"

namespace {

using tolvex::byte_string_traits;
using tolvex::testing::ci_traits;
using tolvex::testing::random_below;
using tolvex::testing::random_edits;
using tolvex::testing::random_string;

template <class T>
std::ptrdiff_t fast(const typename T::string_type& a, const typename T::string_type& b) {
  return tolvex::detail::distance<T>::edit_distance(a, b);
}

template <class T>
std::ptrdiff_t oracle(const typename T::string_type& a, const typename T::string_type& b) {
  return tolvex::detail::plain_edit_distance<T>(a, b);
}

struct fixed_case {
  std::string s1;
  std::string s2;
  std::ptrdiff_t distance;
};

TEST(EditDistance, FixedCasesBothOrders) {
  using namespace std::string_literals;
  const std::vector<fixed_case> cases = {
      {"", "", 0},
      {"", "abc", 3},
      {"abc", "abc", 0},
      {"sunday", "saturday", 3},
      {"flaw", "lawn", 2},
      {"book", "back", 2},
      {"ab", "ba", 2},  // no transposition
      {"a", "b", 1},
      {"abc", "abd", 1},
      {"kitten", "sitting", 3},
      {"a\0b"s, "a\0c"s, 1},            // NUL is an ordinary byte
      {"\xe9t\xe9"s, "\x7at\x7a"s, 2},  // bytes >= 128 are distinct from ASCII
      {"abcdef", "xabcdefx", 2},        // common core, edits at both ends
      {std::string(64, 'a'), std::string(65, 'a'), 1},
      {std::string(64, 'a').append("b"), std::string("b").append(64, 'a'), 2},
      {std::string(200, 'x'), std::string(130, 'y'), 200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.s1 << "\" / \"" << c.s2 << '"');
    EXPECT_EQ(tolvex::edit_distance(c.s1, c.s2), c.distance);
    EXPECT_EQ(tolvex::edit_distance(c.s2, c.s1), c.distance);
    EXPECT_EQ(oracle<byte_string_traits>(c.s1, c.s2), c.distance);
  }
}

TEST(EditDistance, CaseInsensitiveBundleGoesThroughTheTable) {
  // Unequal as values, so the plain-equality shortcut does not apply: 0 must come from
  // char_compare in the table, on the one-word path and on the block path alike.
  using L = tolvex::Make<ci_traits>;
  EXPECT_EQ(L::edit_distance("ABC", "abc"), 0);
  EXPECT_EQ(L::edit_distance("Kitten", "SITTING"), 3);
  std::mt19937_64 rng(7);
  const std::string lower = random_string(rng, 150, "abcxyz");
  std::string upper = lower;
  for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
  EXPECT_EQ(L::edit_distance(lower, upper), 0);
  EXPECT_EQ(L::edit_distance(lower + "q", "Q" + upper), 2);
  EXPECT_EQ(oracle<ci_traits>("ABC", "abc"), 0);
  // The byte instance tells them apart.
  EXPECT_EQ(tolvex::edit_distance("ABC", "abc"), 3);
}

// Counts every call of get and char_compare, to observe what the shortcuts skip.
struct counting_traits {
  using char_type = char;
  using string_type = std::string;
  static inline int calls = 0;
  static string_type of_list(std::span<const char_type> chars) {
    return string_type(chars.begin(), chars.end());
  }
  static char_type get(const string_type& s, std::ptrdiff_t pos) {
    ++calls;
    return s.at(static_cast<std::size_t>(pos));
  }
  static std::ptrdiff_t length(const string_type& s) {
    return static_cast<std::ptrdiff_t>(s.size());
  }
  static int char_compare(char_type a, char_type b) {
    ++calls;
    return static_cast<unsigned char>(a) - static_cast<unsigned char>(b);
  }
};

TEST(EditDistance, ShortcutsLookAtNoCharacter) {
  const std::string long_string(500, 'q');
  struct shortcut {
    std::string s1, s2;
    std::ptrdiff_t distance;
  };
  for (const auto& c : std::vector<shortcut>{{"", long_string, 500},
                                             {long_string, "", 500},
                                             {long_string, long_string, 0},
                                             {"abc", "abc", 0}}) {
    counting_traits::calls = 0;
    EXPECT_EQ(fast<counting_traits>(c.s1, c.s2), c.distance);
    EXPECT_EQ(counting_traits::calls, 0);
  }
  counting_traits::calls = 0;
  EXPECT_EQ(fast<counting_traits>("abc", "abd"), 1);
  EXPECT_GT(counting_traits::calls, 0);
}

// Lengths at the edges of the kernels' cases (short patterns of 4 to 16 bytes, one word, blocks)
// half of the time, anything up to 300 otherwise.
std::size_t interesting_length(std::mt19937_64& rng) {
  static constexpr std::size_t edges[] = {0,  1,  2,  3,  4,   5,   7,   8,   9,   15, 16,
                                          17, 63, 64, 65, 127, 128, 129, 191, 192, 193};
  if (random_below(rng, 2) == 0) return edges[random_below(rng, std::size(edges))];
  return random_below(rng, 301);
}

// A second string for a: an independent one, a few random edits of a (prefix/suffix stripping,
// narrow bands), or a shifted by up to 100 characters with a little noise, whose best alignment
// runs far off the main diagonal (the band's edges).
std::string partner(std::mt19937_64& rng, const std::string& a, const std::string& alphabet) {
  switch (random_below(rng, 3)) {
    case 0:
      return random_string(rng, interesting_length(rng), alphabet);
    case 1:
      return random_edits(rng, a, random_below(rng, 12), alphabet);
    default: {
      const std::size_t shift = std::min(a.size(), random_below(rng, 101));
      const std::string moved = a.substr(shift) + random_string(rng, shift, alphabet);
      return random_edits(rng, moved, random_below(rng, 4), alphabet);
    }
  }
}

template <class T>
void compare_with_oracle(std::uint64_t seed, int pairs, const std::vector<std::string>& alphabets) {
  std::mt19937_64 rng(seed);
  for (int k = 0; k < pairs; ++k) {
    const std::string& alphabet = alphabets[random_below(rng, alphabets.size())];
    const std::string a = random_string(rng, interesting_length(rng), alphabet);
    const std::string b = partner(rng, a, alphabet);
    const std::ptrdiff_t want = oracle<T>(a, b);
    const auto longer = static_cast<std::ptrdiff_t>(std::max(a.size(), b.size()));
    const auto shorter = static_cast<std::ptrdiff_t>(std::min(a.size(), b.size()));
    ASSERT_LE(want, longer);
    ASSERT_GE(want, longer - shorter);
    ASSERT_EQ(fast<T>(a, b), want)
        << "seed " << seed << " pair " << k << " sizes " << a.size() << ", " << b.size();
    ASSERT_EQ(fast<T>(b, a), want) << "seed " << seed << " pair " << k << " swapped";
  }
}

TEST(EditDistance, ByteKernelsMatchOracle) {
  compare_with_oracle<byte_string_traits>(
      1, 3000, {"ab", "acgt", "abcdefghijklmnopqrstuvwxyz", tolvex::testing::all_bytes()});
}

TEST(EditDistance, GenericKernelsMatchOracleCaseInsensitive) {
  compare_with_oracle<ci_traits>(2, 2000,
                                 {"aA", "aAbBcC", "ACGTacgt", tolvex::testing::all_bytes()});
}

TEST(EditDistance, LongPairsMatchOracle) {
  // Several blocks; near-equal pairs end inside a narrow band, random ones need the full table,
  // and very unequal lengths start with a band wider than the pattern.
  std::mt19937_64 rng(3);
  const std::string bytes = tolvex::testing::all_bytes();
  struct long_case {
    std::size_t length;
    std::size_t edits;  // SIZE_MAX: an independent random string
    std::string alphabet;
  };
  const std::vector<long_case> cases = {
      {2000, 3, "acgt"},      {3000, 40, bytes},        {5000, 120, "ab"},
      {4000, 400, "acgt"},    {2500, SIZE_MAX, "acgt"}, {2000, SIZE_MAX, bytes},
      {4500, SIZE_MAX, "ab"},
  };
  for (const auto& c : cases) {
    const std::string a = random_string(rng, c.length, c.alphabet);
    // Lengths not a multiple of 4 leave columns after the last group of four.
    const std::string b = c.edits == SIZE_MAX ? random_string(rng, c.length + 3, c.alphabet)
                                              : random_edits(rng, a, c.edits, c.alphabet);
    const std::ptrdiff_t want = oracle<byte_string_traits>(a, b);
    EXPECT_EQ(fast<byte_string_traits>(a, b), want) << c.length << " " << c.edits;
    EXPECT_EQ(fast<ci_traits>(a, b), oracle<ci_traits>(a, b)) << c.length << " " << c.edits;
  }
  const std::string short_one = random_string(rng, 100, "acgt");
  const std::string long_one = random_string(rng, 3000, "acgt");
  EXPECT_EQ(fast<byte_string_traits>(short_one, long_one),
            oracle<byte_string_traits>(short_one, long_one));
}

// Characters from a large alphabet in a vector: more classes than the dense per-class table
// takes, so the pattern's masks are kept sparsely.
struct wide_traits {
  using char_type = int;
  using string_type = std::vector<int>;
  static string_type of_list(std::span<const char_type> chars) {
    return string_type(chars.begin(), chars.end());
  }
  static char_type get(const string_type& s, std::ptrdiff_t pos) {
    return s.at(static_cast<std::size_t>(pos));
  }
  static std::ptrdiff_t length(const string_type& s) {
    return static_cast<std::ptrdiff_t>(s.size());
  }
  static int char_compare(char_type a, char_type b) { return a < b ? -1 : a > b ? 1 : 0; }
};

TEST(EditDistance, WideAlphabetMatchesOracle) {
  std::mt19937_64 rng(4);
  auto random_wide = [&](std::size_t length, int alphabet) {
    std::vector<int> s(length);
    for (int& c : s) c = static_cast<int>(random_below(rng, static_cast<std::size_t>(alphabet)));
    return s;
  };
  for (const int alphabet : {3, 100000}) {
    for (const std::size_t length : {std::size_t{60}, std::size_t{1500}, std::size_t{2500}}) {
      const std::vector<int> a = random_wide(length, alphabet);
      std::vector<int> near = a;  // 30 substitutions and a deletion
      for (int e = 0; e < 30; ++e) {
        near[random_below(rng, near.size())] = static_cast<int>(random_below(rng, 100000));
      }
      near.erase(near.begin() + static_cast<std::ptrdiff_t>(length / 2));
      std::vector<int> far = random_wide(length + 7, alphabet);
      for (const std::vector<int>* b : {&near, &far}) {
        EXPECT_EQ(fast<wide_traits>(a, *b), oracle<wide_traits>(a, *b))
            << alphabet << " " << length;
      }
    }
  }
}

TEST(EditDistance, MegabyteStringsAreFine) {
  // No recursion and no quadratic memory: a 10^6-byte pair a few edits apart.
  std::mt19937_64 rng(5);
  const std::string a = random_string(rng, 1000000, tolvex::testing::all_bytes());
  std::string b = a;
  b[10] = static_cast<char>(b[10] ^ 1);
  b.erase(500000, 3);
  b[999000] = static_cast<char>(b[999000] ^ 1);
  EXPECT_EQ(tolvex::edit_distance(a, b), 5);
  EXPECT_EQ(tolvex::Make<ci_traits>::edit_distance(a, b), 5);
}

}  // namespace
