// Stepping and matching: the throwing and the non-throwing step, match_with against
// edit_distance, and the construction's limits.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "tolvex/tolvex.hpp"

namespace {

using tolvex::testing::ci_traits;
using tolvex::testing::random_below;
using tolvex::testing::random_edits;
using tolvex::testing::random_string;

template <class T>
using I = tolvex::detail::instance<T>;
using B = I<tolvex::byte_string_traits>;
using Pairs = std::vector<std::pair<char, int>>;

// State 0: (a, 1), (b, 2), otherwise 2. State 1: final, nothing else. State 2: (a, 1).
B::automaton hand_built() {
  auto a = B::DFA::create(3);
  for (int i = 0; i < 3; ++i) B::DFA::add_state(a);
  B::DFA::add_transition(a, 0, {'b', 2});
  B::DFA::add_transition(a, 0, {'a', 1});
  B::DFA::add_otherwise(a, 0, 2);
  B::DFA::set_final(a, 1);
  B::DFA::add_transition(a, 2, {'a', 1});
  return a;
}

TEST(Stepping, HandBuiltAutomaton) {
  const auto a = hand_built();
  struct row {
    int state;
    char c;
    int target;  // -1: no way on
  };
  const row steps[] = {{0, 'a', 1},  {0, 'b', 2}, {0, 'c', 2}, {1, 'a', -1},
                       {1, 'z', -1}, {2, 'a', 1}, {2, 'b', -1}};
  for (const row& r : steps) {
    SCOPED_TRACE(std::to_string(r.state) + " on " + r.c);
    EXPECT_EQ(B::step(a, r.state, r.c), r.target);
    if (r.target >= 0) {
      EXPECT_EQ(B::transition(a, r.state, r.c), r.target);
    } else {
      EXPECT_THROW(B::transition(a, r.state, r.c), tolvex::not_found);
    }
  }
  EXPECT_THROW(B::transition(a, 3, 'a'), std::out_of_range);
  EXPECT_FALSE(B::accepts(a, 0));
  EXPECT_TRUE(B::accepts(a, 1));

  const std::pair<const char*, bool> matches[] = {{"", false},  {"a", true},  {"b", false},
                                                  {"c", false}, {"ca", true}, {"aa", false},
                                                  {"cb", false}};
  for (const auto& [s, accepted] : matches) EXPECT_EQ(B::match_with(a, s), accepted) << s;

  EXPECT_EQ(B::find_char('b', Pairs{{'a', 1}, {'b', 2}, {'b', 3}}), 2);  // the first pair wins
  EXPECT_THROW(B::find_char('c', Pairs{{'a', 1}}), tolvex::not_found);
  EXPECT_THROW(B::find_char('c', Pairs{}), tolvex::not_found);

  // A hand-built target outside the arrays is an error, not a rejection.
  auto bad = hand_built();
  B::DFA::add_transition(bad, 1, {'x', 9});
  EXPECT_THROW(B::match_with(bad, "ax"), std::out_of_range);
}

// Characters equal under char_compare step alike: the lookup uses the bundle's comparison.
TEST(Stepping, CaseInsensitiveBundle) {
  using C = I<ci_traits>;
  EXPECT_TRUE(C::match_with(C::of_string(0, "abc"), "ABC"));
  EXPECT_TRUE(C::match_with(C::of_string(1, "Kitten"), "kITTENs"));
  EXPECT_EQ(C::find_char('B', Pairs{{'a', 1}, {'b', 2}}), 2);
  const auto a = C::of_string(0, "ab");
  EXPECT_EQ(C::step(a, 0, 'A'), C::step(a, 0, 'a'));
  EXPECT_EQ(C::transition(a, 0, 'A'), C::step(a, 0, 'a'));
}

TEST(Matching, KnownStrings) {
  const auto abc = tolvex::of_string(1, "abc");
  for (const char* s : {"abc", "ab", "bc", "abcd", "aabc", "abcc", "xbc", "abx", "axc"}) {
    EXPECT_TRUE(tolvex::match_with(abc, s)) << s;
  }
  for (const char* s : {"a", "ba", "acb", "cab", "xabcx", ""}) {
    EXPECT_FALSE(tolvex::match_with(abc, s)) << s;
  }
  const auto empty = tolvex::of_string(2, "");
  for (const char* s : {"", "a", "zz"}) EXPECT_TRUE(tolvex::match_with(empty, s)) << s;
  EXPECT_FALSE(tolvex::match_with(empty, "abc"));
  const auto exact = tolvex::of_string(0, "kitten");
  EXPECT_TRUE(tolvex::match_with(exact, "kitten"));
  EXPECT_FALSE(tolvex::match_with(exact, "kitte"));
  EXPECT_FALSE(tolvex::match_with(exact, "kittens"));
}

// match_with(of_string(k, p), s) == (edit_distance(p, s) <= k), on candidates near the pattern
// (so that both answers occur) and unrelated ones; of_list builds the same automaton; step and
// transition agree with a plain lookup on every state.
template <class T>
void expect_matches_distance(std::uint64_t seed, std::string_view alphabet) {
  using L = I<T>;
  std::mt19937_64 rng(seed);
  for (int limit = 0; limit <= 3; ++limit) {
    for (int round = 0; round < 40; ++round) {
      const std::string p = random_string(rng, random_below(rng, 10), alphabet);
      SCOPED_TRACE(p + " at " + std::to_string(limit));
      const auto a = L::of_string(limit, p);
      for (int c = 0; c < 25; ++c) {
        const std::string s = c % 5 == 4
                                  ? random_string(rng, random_below(rng, 12), alphabet)
                                  : random_edits(rng, p, random_below(rng, limit + 3), alphabet);
        ASSERT_EQ(L::match_with(a, s), L::edit_distance(p, s) <= limit) << s;
      }
      const std::vector<char> chars(p.begin(), p.end());
      const auto b = L::of_list(limit, chars);
      ASSERT_EQ(b.len(), a.len());
      for (int s = 0; s < a.len(); ++s) {
        ASSERT_EQ(L::DFA::get(b, s), L::DFA::get(a, s));
        ASSERT_EQ(L::DFA::otherwise(b, s), L::DFA::otherwise(a, s));
        ASSERT_EQ(L::accepts(a, s), L::DFA::is_final(a, s));
        // The steps read a copy of the list's front kept in the state; the plain lookup in
        // the stored list is the oracle.
        for (char c : p + std::string(alphabet.substr(0, 4))) {
          int t = L::DFA::otherwise(a, s);
          try {
            t = L::find_char(c, L::DFA::get(a, s));
          } catch (const tolvex::not_found&) {
          }
          ASSERT_EQ(L::step(a, s, c), t);
          if (t >= 0) {
            ASSERT_EQ(L::transition(a, s, c), t);
          } else {
            ASSERT_THROW(L::transition(a, s, c), tolvex::not_found);
          }
        }
      }
    }
  }
}

TEST(Matching, AgreesWithEditDistance) {
  expect_matches_distance<tolvex::byte_string_traits>(11, "abc");
  expect_matches_distance<tolvex::byte_string_traits>(12, tolvex::testing::all_bytes());
  expect_matches_distance<ci_traits>(13, "aAbBc");
}

TEST(Construction, LimitErrors) {
  for (const std::string p : {"", "abc"}) {
    EXPECT_THROW(tolvex::of_string(-1, p), std::out_of_range);
    EXPECT_THROW(tolvex::of_string(-2, p), std::invalid_argument);
    EXPECT_THROW(tolvex::of_list(-1, std::vector<char>(p.begin(), p.end())), std::out_of_range);
    EXPECT_THROW(tolvex::of_list(-7, std::vector<char>(p.begin(), p.end())), std::invalid_argument);
  }
  // An automaton has at least n + k + 1 states: a limit that cannot fit fails at once.
  EXPECT_THROW(tolvex::of_string(1'000'000'000, "ab"), std::length_error);
  EXPECT_THROW(tolvex::of_string(20'000'000, ""), std::length_error);
  // The caps are checked as states are added, too.
  tolvex::detail::build_limits small;
  small.max_states = 100;
  EXPECT_EQ(B::of_string(1, "abcdefghijklmnopqrstuvwxy", small).len(), 100);  // 4 per char
  EXPECT_THROW(B::of_string(1, "abcdefghijklmnopqrstuvwxyz", small), std::length_error);
  small = {};
  small.max_set_words = 40;  // limit 30 takes two words per set
  EXPECT_THROW(B::of_string(30, "ab", small), std::length_error);
}

// No recursion anywhere: a pattern of a million bytes builds and matches at limits 0 and 1.
TEST(Construction, MillionBytePattern) {
  std::mt19937_64 rng(5);
  const std::string p = random_string(rng, 1'000'000, "acgt");
  std::string near = p;
  near[500'000] = near[500'000] == 'a' ? 'c' : 'a';
  const auto exact = tolvex::of_string(0, p);
  EXPECT_EQ(exact.len(), 1'000'001);
  EXPECT_TRUE(tolvex::match_with(exact, p));
  EXPECT_FALSE(tolvex::match_with(exact, near));
  const auto one = tolvex::of_string(1, p);
  EXPECT_TRUE(tolvex::match_with(one, p));
  EXPECT_TRUE(tolvex::match_with(one, near));
  near[10] = near[10] == 'a' ? 'c' : 'a';
  EXPECT_FALSE(tolvex::match_with(one, near));
  EXPECT_TRUE(tolvex::match_with(one, p.substr(1)));
}

}  // namespace
