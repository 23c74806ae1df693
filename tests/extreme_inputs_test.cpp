// Inputs at the edges of what the library takes: megabyte keys and patterns, absurd and negative
// limits, bundles and value types that throw, and every byte value.
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "test_support.hpp"
#include "tolvex/tolvex.hpp"

namespace {

using tolvex::Index;
using tolvex::testing::all_bytes;
using tolvex::testing::random_edits;
using tolvex::testing::random_string;

// --- Megabyte inputs: no operation may recurse per character --------------------------------

TEST(ExtremeInputs, MegabyteKeysPatternsAndStringsAtLimitsZeroAndOne) {
  std::mt19937_64 rng(1);
  const std::string big = random_string(rng, 1'000'000, "abcdefghijklmnopqrstuvwxyz");
  std::string near = big;
  near[near.size() / 2] = near[near.size() / 2] == 'a' ? 'b' : 'a';

  EXPECT_EQ(tolvex::edit_distance(big, near), 1);
  EXPECT_EQ(tolvex::edit_distance(big, big), 0);

  const auto exact = tolvex::of_string(0, big);
  EXPECT_TRUE(tolvex::match_with(exact, big));
  EXPECT_FALSE(tolvex::match_with(exact, near));
  const auto one = tolvex::of_list(1, std::span<const char>(big.data(), big.size()));
  EXPECT_TRUE(tolvex::match_with(one, near));
  EXPECT_TRUE(tolvex::match_with(one, big.substr(1)));
  EXPECT_FALSE(tolvex::match_with(one, big.substr(2)));

  {
    tolvex::index<int> idx = Index::add(Index::empty<int>, big, 7);
    idx = Index::add(idx, "a", 1);
    EXPECT_EQ(Index::retrieve_l(0, idx, big), std::vector<int>{7});
    EXPECT_EQ(Index::retrieve_l(1, idx, near), std::vector<int>{7});
    EXPECT_EQ(tolvex::list_of_seq(Index::retrieve(1, idx, near)), std::vector<int>{7});
    const auto entries = Index::to_list(idx);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].first, big);  // decreasing key order
    std::size_t seen = 0;
    Index::iter([&](const std::string& k, const int&) { seen += k.size(); }, idx);
    EXPECT_EQ(seen, big.size() + 1);
    EXPECT_EQ(tolvex::list_of_seq(Index::to_seq(idx)).size(), 2u);
    EXPECT_EQ(
        Index::fold([](int acc, const std::string&, const int& v) { return acc + v; }, 0, idx), 8);
    const auto removed = Index::remove(idx, big);
    EXPECT_EQ(Index::to_list(removed), (std::vector<std::pair<std::string, int>>{{"a", 1}}));
    EXPECT_EQ(Index::to_list(idx).size(), 2u);  // the old version still holds the long key
  }  // releasing both versions frees a million-node chain without recursing

  // A long chain shared by many versions, released in an arbitrary order.
  std::vector<tolvex::index<int>> versions;
  versions.push_back(Index::add(Index::empty<int>, big, 0));
  for (int i = 1; i < 8; ++i) versions.push_back(Index::add(versions.back(), big.substr(0, i), i));
  versions.erase(versions.begin());
  EXPECT_EQ(Index::retrieve_l(0, versions.back(), big), std::vector<int>{0});
}

// --- Limits ---------------------------------------------------------------------------------

TEST(ExtremeInputs, AbsurdLimitsFailFastAndLeaveTheProcessHealthy) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(tolvex::of_string(1'000'000'000, "ab"), std::length_error);
  EXPECT_THROW(tolvex::of_string(2'147'483'647, ""), std::length_error);
  EXPECT_THROW(Index::retrieve_l(1'000'000'000, Index::add(Index::empty<int>, "ab", 1), "ab"),
               std::length_error);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // Still fine afterwards.
  EXPECT_TRUE(tolvex::match_with(tolvex::of_string(2, "kitten"), "sittin"));
}

TEST(ExtremeInputs, NegativeLimitsFailWhereverALimitIsTaken) {
  const auto idx = Index::add(Index::empty<int>, "abc", 1);
  const std::string p = "abc";
  const std::span<const char> chars(p.data(), p.size());
  EXPECT_THROW(tolvex::of_string(-1, p), std::out_of_range);
  EXPECT_THROW(tolvex::of_list(-1, chars), std::out_of_range);
  EXPECT_THROW(Index::retrieve(-1, idx, p), std::out_of_range);
  EXPECT_THROW(Index::retrieve_l(-1, idx, p), std::out_of_range);
  for (int limit : {-2, -3, -1'000'000}) {
    EXPECT_THROW(tolvex::of_string(limit, p), std::invalid_argument);
    EXPECT_THROW(tolvex::of_list(limit, chars), std::invalid_argument);
    EXPECT_THROW(Index::retrieve(limit, idx, p), std::invalid_argument);
    EXPECT_THROW(Index::retrieve_l(limit, idx, p), std::invalid_argument);
  }
  EXPECT_THROW(tolvex::of_string(-1, ""), std::out_of_range);
  EXPECT_THROW(tolvex::of_string(-2, ""), std::invalid_argument);
}

// --- Throwing bundles and values --------------------------------------------------------------

// char_compare throws once its budget runs out; a budget below 0 never runs out.
inline thread_local long compare_budget = -1;

struct throwing_traits : tolvex::testing::ci_traits {
  static int char_compare(char a, char b) {
    if (compare_budget == 0) throw std::runtime_error("char_compare");
    if (compare_budget > 0) --compare_budget;
    return tolvex::testing::ci_traits::char_compare(a, b);
  }
};

TEST(ExtremeInputs, AThrowingCharCompareReachesTheCallerAndChangesNoIndex) {
  using L = tolvex::Make<throwing_traits>;
  std::mt19937_64 rng(5);
  std::vector<std::pair<std::string, int>> pairs;
  for (int i = 0; i < 60; ++i) pairs.emplace_back(random_string(rng, 1 + rng() % 5, "abc"), i);
  const auto idx = L::Index::of_list(pairs);
  const auto before = L::Index::to_list(idx);

  int thrown = 0;
  for (long budget = 0; budget < 200; budget += 3) {
    auto attempt = [&](auto&& op) {
      compare_budget = budget;
      try {
        op();
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "char_compare");
        ++thrown;
      }
      compare_budget = -1;
      EXPECT_EQ(L::Index::to_list(idx), before);
    };
    attempt([&] { L::Index::add(idx, "abcab", 99); });
    attempt([&] { L::Index::remove(idx, pairs[7].first); });
    attempt([&] { L::Index::of_list(pairs); });
    attempt([&] { L::Index::retrieve_l(1, idx, "abca"); });
    attempt([&] { L::edit_distance("abcabc", "cabcab"); });
    attempt([&] { L::match_with(L::of_string(2, "abcab"), "abcba"); });
  }
  EXPECT_GT(thrown, 0);
}

// A value whose copy throws once its budget runs out.
inline thread_local long copy_budget = -1;

struct fragile {
  int v = 0;
  explicit fragile(int x) : v(x) {}
  fragile(const fragile& o) : v(o.v) {
    if (copy_budget == 0) throw std::runtime_error("copy");
    if (copy_budget > 0) --copy_budget;
  }
  fragile& operator=(const fragile& o) {
    if (copy_budget == 0) throw std::runtime_error("copy");
    if (copy_budget > 0) --copy_budget;
    v = o.v;
    return *this;
  }
};

TEST(ExtremeInputs, AThrowingValueCopyReachesTheCallerAndChangesNoIndex) {
  std::vector<std::pair<std::string, fragile>> pairs;
  for (int i = 0; i < 30; ++i) pairs.emplace_back("k" + std::to_string(i), fragile(i));
  const auto idx = Index::of_list(pairs);
  auto snapshot = [&] {
    std::vector<std::pair<std::string, int>> out;
    Index::iter([&](const std::string& k, const fragile& f) { out.emplace_back(k, f.v); }, idx);
    return out;
  };
  const auto before = snapshot();
  int thrown = 0;
  for (long budget = 0; budget < 40; ++budget) {
    auto attempt = [&](auto&& op) {
      copy_budget = budget;
      try {
        op();
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "copy");
        ++thrown;
      }
      copy_budget = -1;
      EXPECT_EQ(snapshot(), before);
    };
    attempt([&] { Index::add(idx, "k3", fragile(100)); });
    attempt([&] { Index::of_list(pairs); });
    attempt([&] { Index::retrieve_l(1, idx, "k1"); });
    attempt([&] { Index::to_list(idx); });
    attempt([&] { tolvex::list_of_seq(Index::to_seq(idx)); });
  }
  EXPECT_GT(thrown, 0);
}

// --- Every byte value -----------------------------------------------------------------------

TEST(ExtremeInputs, AllByteValuesInKeysPatternsAndStrings) {
  const std::string bytes = all_bytes();
  std::mt19937_64 rng(9);
  std::vector<std::pair<std::string, int>> pairs;
  for (int i = 0; i < 400; ++i) pairs.emplace_back(random_string(rng, rng() % 5, bytes), i);
  pairs.emplace_back(bytes, 1000);                 // one key holding all 256 bytes
  pairs.emplace_back(std::string(3, '\0'), 1001);  // NULs only
  const auto idx = Index::of_list(pairs);
  const auto entries = tolvex::list_of_seq(Index::to_seq(idx));

  for (int q = 0; q < 60; ++q) {
    const int limit = q % 3;
    const std::string p =
        q == 0 ? bytes : random_edits(rng, pairs[rng() % pairs.size()].first, rng() % 3, bytes);
    std::vector<int> expected;
    for (const auto& [k, v] : entries) {
      if (tolvex::edit_distance(k, p) <= limit) expected.push_back(v);
    }
    EXPECT_EQ(Index::retrieve_l(limit, idx, p), expected) << "query " << q;
    const auto a = tolvex::of_string(limit, p);
    for (int s = 0; s < 20; ++s) {
      const std::string str = random_edits(rng, p, rng() % 4, bytes);
      EXPECT_EQ(tolvex::match_with(a, str), tolvex::edit_distance(p, str) <= limit);
    }
  }
  // Bytes >= 128 order above ASCII: to_list is in decreasing unsigned byte order.
  const auto two = Index::of_list(std::vector<std::pair<std::string, int>>{
      {std::string(1, '\xe9'), 1}, {"z", 2}, {std::string(1, '\0'), 3}});
  EXPECT_EQ(Index::to_list(two),
            (std::vector<std::pair<std::string, int>>{
                {std::string(1, '\xe9'), 1}, {"z", 2}, {std::string(1, '\0'), 3}}));
}

}  // namespace
