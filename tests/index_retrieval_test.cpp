// Retrieval and enumeration against plain oracles on seeded random indexes over small
// alphabets: edit_distance for what is found, a std::map model for the three orders, and the
// lazy deferred steps for the explicit-stack fast paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "test_support.hpp"
#include "tolvex/tolvex.hpp"

namespace {

using tolvex::testing::random_below;
using tolvex::testing::random_string;
using Entries = std::vector<std::pair<std::string, int>>;

// Keys in sequence order: increasing under the reversed byte order, a key before its
// extensions.
bool seq_less(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) > static_cast<unsigned char>(b[i]);
  }
  return a.size() < b.size();
}

template <class E>
std::vector<E> asked(tolvex::seq<E> s) {
  std::vector<E> out;
  for (auto node = s(); node; node = node->second()) out.push_back(node->first);
  return out;
}

struct random_index {
  std::map<std::string, int> model;
  tolvex::index<int> idx;
};

random_index make_random_index(std::mt19937_64& rng, std::string_view alphabet) {
  random_index r;
  Entries pairs;
  const std::size_t n = random_below(rng, 60);
  for (std::size_t i = 0; i < n; ++i) {
    std::string key = random_string(rng, random_below(rng, 7), alphabet);
    const int value = static_cast<int>(random_below(rng, 20));  // values repeat across keys
    r.model[key] = value;
    pairs.emplace_back(std::move(key), value);
  }
  r.idx = tolvex::Index::of_list(pairs);
  return r;
}

// Keys of the model in sequence order.
std::vector<std::string> seq_keys(const std::map<std::string, int>& model) {
  std::vector<std::string> keys;
  for (const auto& entry : model) keys.push_back(entry.first);
  std::sort(keys.begin(), keys.end(), seq_less);
  return keys;
}

TEST(IndexRetrieval, FindsExactlyTheKeysWithinTheLimitInSequenceOrder) {
  std::mt19937_64 rng(4242);
  for (const std::string_view alphabet :
       {std::string_view("ab"), std::string_view("abc"), std::string_view("a\xe9\0", 3)}) {
    for (int round = 0; round < 60; ++round) {
      const random_index r = make_random_index(rng, alphabet);
      const std::vector<std::string> order = seq_keys(r.model);
      for (int q = 0; q < 8; ++q) {
        const int k = static_cast<int>(random_below(rng, 4));
        const std::string p = random_string(rng, random_below(rng, 6), alphabet);
        std::vector<int> expected;
        for (const std::string& key : order) {
          if (tolvex::edit_distance(key, p) <= k) expected.push_back(r.model.at(key));
        }
        SCOPED_TRACE("k=" + std::to_string(k) + " p=" + p);
        ASSERT_EQ(tolvex::Index::retrieve_l(k, r.idx, p), expected);
        const auto s = tolvex::Index::retrieve(k, r.idx, p);
        ASSERT_EQ(asked(s), expected);                // deferred steps
        ASSERT_EQ(tolvex::list_of_seq(s), expected);  // cursor; and s is re-askable
        std::vector<int> ranged;
        for (int v : s) ranged.push_back(v);
        ASSERT_EQ(ranged, expected);
        // A cursor opened part-way, on a rest obtained by asking, goes on in the same order.
        if (auto first = s(); first && (first = first->second())) {
          const std::vector<int> tail(expected.begin() + 2, expected.end());
          ASSERT_EQ(tolvex::list_of_seq(first->second), tail);
        }
      }
    }
  }
}

TEST(IndexRetrieval, EnumerationsHoldTheSameEntriesInTheirThreeOrders) {
  std::mt19937_64 rng(77);
  for (int round = 0; round < 100; ++round) {
    const random_index r = make_random_index(rng, "abc");
    const Entries fold_order(r.model.begin(), r.model.end());
    Entries folded = tolvex::Index::fold(
        [](Entries acc, const std::string& k, int v) {
          acc.emplace_back(k, v);
          return acc;
        },
        Entries{}, r.idx);
    ASSERT_EQ(folded, fold_order);
    ASSERT_EQ(tolvex::Index::to_list(r.idx), Entries(fold_order.rbegin(), fold_order.rend()));
    Entries seq_order;
    for (const std::string& k : seq_keys(r.model)) seq_order.emplace_back(k, r.model.at(k));
    const auto s = tolvex::Index::to_seq(r.idx);
    ASSERT_EQ(asked(s), seq_order);
    ASSERT_EQ(tolvex::list_of_seq(s), seq_order);
    if (auto first = s(); first && (first = first->second())) {
      ASSERT_EQ(tolvex::list_of_seq(first->second),
                Entries(seq_order.begin() + 2, seq_order.end()));
    }
  }
}

// The case-insensitive bundle: retrieval agrees with its own edit distance.
TEST(IndexRetrieval, CaseInsensitiveBundleAgreesWithItsEditDistance) {
  using L = tolvex::Make<tolvex::testing::ci_traits>;
  std::mt19937_64 rng(9);
  for (int round = 0; round < 100; ++round) {
    Entries pairs;
    for (std::size_t i = random_below(rng, 40); i > 0; --i) {
      pairs.emplace_back(random_string(rng, random_below(rng, 6), "aAbB"), static_cast<int>(i));
    }
    const auto idx = L::Index::of_list(pairs);
    const auto entries = tolvex::list_of_seq(L::Index::to_seq(idx));
    const int k = static_cast<int>(random_below(rng, 3));
    const std::string p = random_string(rng, random_below(rng, 5), "aAbB");
    std::vector<int> expected;
    for (const auto& [key, v] : entries) {
      if (L::edit_distance(key, p) <= k) expected.push_back(v);
    }
    ASSERT_EQ(L::Index::retrieve_l(k, idx, p), expected) << p;
    ASSERT_EQ(asked(L::Index::retrieve(k, idx, p)), expected) << p;
  }
}

// Byte traits that count char_compare calls, to see when the index is walked.
struct counting_traits : tolvex::testing::ci_traits {
  static inline long compares = 0;
  static int char_compare(char a, char b) {
    ++compares;
    return static_cast<unsigned char>(a) - static_cast<unsigned char>(b);
  }
};

TEST(IndexRetrieval, RetrieveBuildsTheAutomatonAtOnceAndWalksOnlyWhenAsked) {
  using L = tolvex::Make<counting_traits>;
  const auto idx = L::Index::of_list(Entries{{"abc", 1}, {"abd", 2}, {"xyz", 3}});
  counting_traits::compares = 0;
  (void)L::of_string(1, "abc");
  const long automaton_only = counting_traits::compares;
  counting_traits::compares = 0;
  const auto s = L::Index::retrieve(1, idx, "abc");
  EXPECT_EQ(counting_traits::compares, automaton_only);
  EXPECT_EQ(asked(s), (std::vector<int>{2, 1}));
  EXPECT_GT(counting_traits::compares, automaton_only);

  EXPECT_THROW((void)tolvex::Index::retrieve(-1, tolvex::Index::empty<int>, "a"),
               std::out_of_range);
  EXPECT_THROW((void)tolvex::Index::retrieve(-2, tolvex::Index::empty<int>, "a"),
               std::invalid_argument);
  EXPECT_THROW((void)tolvex::Index::retrieve_l(-1, tolvex::Index::empty<int>, "a"),
               std::out_of_range);
}

// No move from state 0 on the first character cuts the whole subtree, however deep.
TEST(IndexRetrieval, NoMoveCutsTheSubtree) {
  const auto idx = tolvex::Index::of_list(
      Entries{{"zzzzab", 1}, {"zzzz", 2}, {"ab", 3}, {std::string(500, 'z') + "ab", 4}});
  EXPECT_EQ(tolvex::Index::retrieve_l(0, idx, "ab"), (std::vector<int>{3}));
  EXPECT_EQ(tolvex::Index::retrieve_l(1, idx, "ab"), (std::vector<int>{3}));
}

}  // namespace
