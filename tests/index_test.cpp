// The index trie: updates, persistence, the three enumeration orders, long keys, errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <map>
#include <random>
#include <ranges>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "test_support.hpp"
#include "tolvex/tolvex.hpp"

namespace {

using tolvex::Index;
using I = tolvex::detail::instance<tolvex::byte_string_traits>;
using Entries = std::vector<std::pair<std::string, int>>;

Entries fold_entries(const tolvex::index<int>& idx) {
  return Index::fold(
      [](Entries acc, const std::string& k, int v) {
        acc.emplace_back(k, v);
        return acc;
      },
      Entries{}, idx);
}

// The entries that asking to_seq step by step yields (not the cursor).
Entries asked_entries(const tolvex::seq<std::pair<std::string, int>>& s) {
  Entries out;
  for (auto node = s(); node; node = node->second()) out.push_back(node->first);
  return out;
}

std::vector<int> asked_values(tolvex::seq<int> s) {
  std::vector<int> out;
  for (auto node = s(); node; node = node->second()) out.push_back(node->first);
  return out;
}

// Sorted by key, as a std::map model holds them.
Entries model_entries(const std::map<std::string, int>& m) { return Entries(m.begin(), m.end()); }

TEST(Index, EmptyIndexAndSelfCheck) {
  EXPECT_NO_THROW(I::Index::self_check());
  EXPECT_TRUE(Index::is_empty(Index::empty<int>));
  EXPECT_TRUE(Index::is_empty(tolvex::index<std::string>{}));
  EXPECT_TRUE(fold_entries(Index::empty<int>).empty());
  EXPECT_TRUE(Index::to_list(Index::empty<int>).empty());
  EXPECT_TRUE(tolvex::list_of_seq(Index::to_seq(Index::empty<int>)).empty());
  EXPECT_TRUE(Index::retrieve_l(3, Index::empty<int>, "abc").empty());
  EXPECT_FALSE(Index::retrieve(3, Index::empty<int>, "abc")());
  int calls = 0;
  Index::iter([&calls](const std::string&, int) { ++calls; }, Index::empty<int>);
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(Index::is_empty(Index::add(Index::empty<int>, "", 1)));
  EXPECT_TRUE(Index::is_empty(Index::remove(Index::add(Index::empty<int>, "", 1), "")));
}

// a -> 1, ab -> 2, b -> 3, built in every insertion order and by of_list: every operation
// reports the one order it fixes, whatever the history.
TEST(Index, OrdersOfTheThreeKeyExampleInEveryInsertionOrder) {
  Entries pairs{{"a", 1}, {"ab", 2}, {"b", 3}};
  const Entries fold_order{{"a", 1}, {"ab", 2}, {"b", 3}};
  const Entries list_order{{"b", 3}, {"ab", 2}, {"a", 1}};
  const Entries seq_order{{"b", 3}, {"a", 1}, {"ab", 2}};
  std::sort(pairs.begin(), pairs.end());
  do {
    tolvex::index<int> added;
    for (const auto& [k, v] : pairs) added = Index::add(added, k, v);
    for (const auto& idx : {added, Index::of_list(pairs)}) {
      EXPECT_EQ(fold_entries(idx), fold_order);
      Entries iterated;
      Index::iter([&](const std::string& k, int v) { iterated.emplace_back(k, v); }, idx);
      EXPECT_EQ(iterated, fold_order);
      EXPECT_EQ(Index::to_list(idx), list_order);
      EXPECT_EQ(tolvex::list_of_seq(Index::to_seq(idx)), seq_order);
      EXPECT_EQ(asked_entries(Index::to_seq(idx)), seq_order);
      EXPECT_EQ(Index::retrieve_l(1, idx, "a"), (std::vector<int>{3, 1, 2}));
      EXPECT_EQ(asked_values(Index::retrieve(1, idx, "a")), (std::vector<int>{3, 1, 2}));
    }
  } while (std::next_permutation(pairs.begin(), pairs.end()));
}

TEST(Index, RemovalDropsOnlyNodesLeftWithNothing) {
  struct Case {
    std::vector<std::string> keys;
    std::string removed;
    std::vector<std::string> left;
  };
  const std::vector<Case> cases{
      {{"a", "ab"}, "ab", {"a"}},
      {{"ab", "abc"}, "ab", {"abc"}},
      {{"ab"}, "abc", {"ab"}},
      {{"ab"}, "ab", {}},
      {{"ab"}, "a", {"ab"}},
      {{"", "a"}, "", {"a"}},
      {{"a"}, "", {"a"}},
      {{}, "x", {}},
      {{"abc", "abd"}, "abc", {"abd"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.removed);
    std::map<std::string, int> model;
    tolvex::index<int> idx;
    for (const auto& k : c.keys) {
      idx = Index::add(idx, k, static_cast<int>(k.size()));
      model[k] = static_cast<int>(k.size());
    }
    const auto removed = Index::remove(idx, c.removed);
    Entries expected;
    for (const auto& k : c.left) expected.emplace_back(k, static_cast<int>(k.size()));
    EXPECT_EQ(fold_entries(removed), expected);
    EXPECT_EQ(fold_entries(idx), model_entries(model));  // the old version is untouched
    EXPECT_EQ(Index::is_empty(removed), c.left.empty());
  }
  // The structure, not just the entries: a loses its child; the root of a removed only key
  // has no children left.
  const auto a_ab = Index::remove(Index::of_list(Entries{{"a", 1}, {"ab", 2}}), "ab");
  EXPECT_EQ(I::Index::M::size(I::Index::M::find(a_ab, 'a')), 0u);
  const auto none = Index::remove(Index::add(Index::empty<int>, "ab", 1), "ab");
  EXPECT_EQ(I::Index::M::size(none), 0u);
  EXPECT_THROW(I::Index::M::find(none, 'a'), tolvex::not_found);
}

TEST(Index, ValuesReplaceAndRepeat) {
  auto idx = Index::add(Index::add(Index::empty<int>, "a", 1), "a", 2);
  EXPECT_EQ(fold_entries(idx), (Entries{{"a", 2}}));
  EXPECT_EQ(fold_entries(Index::of_list(Entries{{"a", 1}, {"a", 2}})), (Entries{{"a", 2}}));
  // One value under two keys is two entries and, when both are accepted, two results.
  const auto two = Index::of_list(Entries{{"ab", 7}, {"ac", 7}});
  EXPECT_EQ(Index::retrieve_l(1, two, "a"), (std::vector<int>{7, 7}));
}

TEST(Index, EmptyKeyComesFirstExceptInToList) {
  const auto idx = Index::of_list(Entries{{"b", 2}, {"", 1}});
  EXPECT_EQ(fold_entries(idx).front(), (std::pair<std::string, int>{"", 1}));
  EXPECT_EQ(Index::to_list(idx).back(), (std::pair<std::string, int>{"", 1}));
  EXPECT_EQ(tolvex::list_of_seq(Index::to_seq(idx)).front(), (std::pair<std::string, int>{"", 1}));
  EXPECT_EQ(Index::retrieve_l(1, idx, "x"), (std::vector<int>{1, 2}));
  EXPECT_EQ(Index::retrieve_l(1, idx, "xy"), (std::vector<int>{}));  // state 0 not final
  // Updating the empty key touches only the root's value.
  const auto dropped = Index::remove(idx, "");
  EXPECT_EQ(fold_entries(dropped), (Entries{{"b", 2}}));
  EXPECT_EQ(fold_entries(idx), (Entries{{"", 1}, {"b", 2}}));
}

// Random updates against a std::map model, every version kept: each version must still hold
// exactly its own entries at the end, and of_list over the whole history of pairs must equal
// adding them in order. Three letters make deep sharing; 26 make nodes wide enough for the
// binary search among edges.
TEST(Index, RandomHistoryMatchesModelAndEveryVersionPersists) {
  std::mt19937_64 rng(20261210);
  for (int round = 0; round < 40; ++round) {
    const std::string_view alphabet = round % 2 == 0 ? "abc" : "abcdefghijklmnopqrstuvwxyz";
    std::vector<tolvex::index<int>> versions{Index::empty<int>};
    std::vector<std::map<std::string, int>> models{{}};
    Entries pairs;
    std::map<std::string, int> added_model;
    tolvex::index<int> added;
    for (int op = 0; op < 120; ++op) {
      const std::string key =
          tolvex::testing::random_string(rng, tolvex::testing::random_below(rng, 6), alphabet);
      const int value = static_cast<int>(tolvex::testing::random_below(rng, 1000));
      const std::size_t from = tolvex::testing::random_below(rng, versions.size());
      auto model = models[from];
      if (tolvex::testing::random_below(rng, 3) == 0) {
        versions.push_back(Index::remove(versions[from], key));
        model.erase(key);
      } else {
        versions.push_back(Index::add(versions[from], key, value));
        model[key] = value;
      }
      models.push_back(std::move(model));
      pairs.emplace_back(key, value);
      added = Index::add(added, key, value);
      added_model[key] = value;
    }
    for (std::size_t v = 0; v < versions.size(); ++v) {
      ASSERT_EQ(fold_entries(versions[v]), model_entries(models[v])) << "version " << v;
      ASSERT_EQ(Index::is_empty(versions[v]), models[v].empty());
    }
    ASSERT_EQ(fold_entries(Index::of_list(pairs)), model_entries(added_model));
    ASSERT_EQ(tolvex::list_of_seq(Index::to_seq(Index::of_list(pairs))),
              tolvex::list_of_seq(Index::to_seq(added)));
  }
}

// Depth is heap, not stack: a key of 10^6 bytes goes through every operation and release.
TEST(Index, MillionByteKeyNeedsNoStack) {
  const std::string key(1'000'000, 'q');
  const std::string other = key.substr(0, 999'999) + "r";
  auto idx = Index::add(Index::add(Index::empty<int>, key, 1), other, 2);
  EXPECT_EQ(Index::retrieve_l(0, idx, key), (std::vector<int>{1}));
  EXPECT_EQ(asked_values(Index::retrieve(0, idx, other)), (std::vector<int>{2}));
  EXPECT_EQ(Index::to_list(idx).size(), 2u);
  EXPECT_EQ(tolvex::list_of_seq(Index::to_seq(idx)).size(), 2u);
  auto first = Index::to_seq(idx)();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->first.first, other);
  const auto bulk = Index::of_list(Entries{{key, 1}, {other, 2}});
  EXPECT_EQ(Index::to_list(bulk), Index::to_list(idx));
  idx = Index::remove(idx, key);
  EXPECT_EQ(fold_entries(idx), (Entries{{other, 2}}));
  idx = Index::remove(idx, other);
  EXPECT_TRUE(Index::is_empty(idx));
}

// A value whose copy throws on demand: updates must leave their input as it was and leak
// nothing (the sanitizer build checks the latter).
struct fragile {
  static inline int copies_left = 1 << 30;
  int v = 0;
  explicit fragile(int x) : v(x) {}
  fragile(const fragile& o) : v(o.v) {
    if (copies_left-- <= 0) throw std::runtime_error("copy");
  }
  fragile& operator=(const fragile&) = default;
};

// Characters compare normally except that 'z' makes char_compare throw, and 'q' makes it
// report not_found (which a child lookup takes for an unbound character).
struct touchy_traits : tolvex::byte_string_traits {
  static int char_compare(char a, char b) {
    if (a == 'z' || b == 'z') throw std::runtime_error("compare");
    if (a == 'q' || b == 'q') throw tolvex::not_found();
    return tolvex::byte_string_traits::char_compare(a, b);
  }
};

TEST(Index, FailedUpdatesLeaveTheirInputUnchanged) {
  using FI = tolvex::bytes::Index;
  std::vector<std::pair<std::string, fragile>> pairs;
  for (const char* k : {"", "a", "ab", "abc", "b"}) pairs.emplace_back(k, fragile(1));
  const auto idx = FI::of_list(pairs);
  // Each update copies the values on its path: 4 for the add, 2 (a and the root) for the
  // remove; every one of those copies gets its turn to fail.
  for (int allowed = 0; allowed < 4; ++allowed) {
    fragile::copies_left = allowed;
    EXPECT_THROW((void)FI::add(idx, "abd", fragile(2)), std::runtime_error);
    fragile::copies_left = allowed;
    if (allowed < 2) {
      EXPECT_THROW((void)FI::remove(idx, "ab"), std::runtime_error);
    }
    fragile::copies_left = allowed;
    EXPECT_THROW((void)FI::of_list(pairs), std::runtime_error);
  }
  fragile::copies_left = 1 << 30;
  EXPECT_EQ(FI::to_list(idx).size(), 5u);

  using T = tolvex::Make<touchy_traits>::Index;
  const auto t = T::of_list(Entries{{"a", 1}, {"b", 2}, {"c", 3}});
  EXPECT_THROW((void)T::add(t, "z", 9), std::runtime_error);
  EXPECT_THROW((void)T::of_list(Entries{{"a", 1}, {"z", 2}}), std::runtime_error);
  // The lookup's not_found only sends the descent through empty nodes; binding the character
  // compares again, and that not_found reaches the caller.
  EXPECT_THROW((void)T::add(t, "q", 9), tolvex::not_found);
  EXPECT_THROW((void)T::remove(t, "q"), tolvex::not_found);
  EXPECT_EQ(T::to_list(t), (Entries{{"c", 3}, {"b", 2}, {"a", 1}}));
}

// Two letters equal under char_compare share one child, whichever way the index is built.
TEST(Index, CaseInsensitiveKeysShareOneChild) {
  using CI = tolvex::detail::instance<tolvex::testing::ci_traits>::Index;
  auto idx = CI::add(CI::add(CI::empty<int>, "ab", 1), "AB", 2);
  EXPECT_EQ(CI::M::size(idx), 1u);
  EXPECT_EQ(CI::M::size(CI::M::find(idx, 'A')), 1u);
  EXPECT_EQ(CI::to_list(idx), (Entries{{"ab", 2}}));  // the first edges stay, the last value wins
  EXPECT_EQ(CI::to_list(CI::of_list(Entries{{"ab", 1}, {"AB", 2}})), CI::to_list(idx));
  EXPECT_EQ(CI::to_list(CI::of_list(Entries{{"Ac", 1}, {"ab", 2}})),
            (Entries{{"Ac", 1}, {"Ab", 2}}));
  EXPECT_EQ(CI::retrieve_l(0, idx, "aB"), (std::vector<int>{2}));
}

}  // namespace

// Words as characters: characters and keys with owning, non-trivial types, so that every copy
// and destruction in the nodes is exercised (the sanitizer build checks them).
struct token_traits {
  using char_type = std::string;
  using string_type = std::vector<std::string>;
  static string_type of_list(std::span<const std::string> chars) {
    return string_type(chars.begin(), chars.end());
  }
  static std::string get(const string_type& s, std::ptrdiff_t pos) {
    return s.at(static_cast<std::size_t>(pos));
  }
  static std::ptrdiff_t length(const string_type& s) noexcept {
    return static_cast<std::ptrdiff_t>(s.size());
  }
  static int char_compare(const std::string& a, const std::string& b) noexcept {
    return a.compare(b);
  }
};

TEST(Index, OwningCharacterAndValueTypes) {
  using L = tolvex::Make<token_traits>;
  using K = token_traits::string_type;
  const std::string big(40, 'x');  // beyond any small-string buffer
  const std::vector<std::pair<K, std::string>> pairs{
      {{"the", "cat", big}, "a"}, {{"the", "cat"}, "b"}, {{"the", "dog"}, "c"}, {{}, "d"}};
  auto idx = L::Index::of_list(pairs);
  auto grown = L::Index::add(idx, {"the", big}, big);
  EXPECT_EQ(L::Index::retrieve_l(1, grown, {"the", "cow"}),
            (std::vector<std::string>{big, "c", "b"}));
  EXPECT_EQ(tolvex::list_of_seq(L::Index::retrieve(1, grown, {"the", big, big})),
            (std::vector<std::string>{big, "a"}));
  auto shrunk = L::Index::remove(L::Index::remove(grown, {"the", "cat"}), {});
  EXPECT_EQ(L::Index::to_list(shrunk).size(), 3u);
  EXPECT_EQ(L::Index::to_list(idx).size(), 4u);
  EXPECT_EQ(tolvex::list_of_seq(L::Index::to_seq(idx)).front().second, "d");
}

// A node with 255 or more children keeps its count in a word of its own: build one with all 256
// bytes below the root and below one child, shrink it across that boundary, and read it back.
TEST(Index, NodesWithEveryByteAsAChild) {
  const std::string bytes = tolvex::testing::all_bytes();
  Entries pairs;
  for (char c : bytes) {
    pairs.emplace_back(std::string(1, c), static_cast<unsigned char>(c));
    pairs.emplace_back(std::string("a") + c, 1000 + static_cast<unsigned char>(c));
  }
  tolvex::index<int> added;
  for (const auto& [k, v] : pairs) added = Index::add(added, k, v);
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end(),
                          [](const auto& x, const auto& y) { return x.first == y.first; }),
              pairs.end());
  for (const auto& idx : {Index::of_list(pairs), added}) {
    EXPECT_EQ(I::Index::M::size(idx), 256u);
    EXPECT_EQ(fold_entries(idx).size(), 512u);
    EXPECT_EQ(Index::retrieve_l(0, idx, "a\xff"), (std::vector<int>{1255}));
    EXPECT_EQ(Index::retrieve_l(1, idx, std::string(1, '\0')).size(), 256u + 1u);
    auto smaller = idx;
    for (int b = 0; b < 3; ++b) {
      smaller = Index::remove(smaller, std::string(1, static_cast<char>(b)));
      smaller = Index::remove(smaller, std::string("a") + static_cast<char>(b));
    }
    EXPECT_EQ(I::Index::M::size(smaller), 253u);
    EXPECT_EQ(I::Index::M::size(I::Index::M::find(smaller, 'a')), 253u);
    EXPECT_EQ(fold_entries(smaller).size(), 506u);
    EXPECT_EQ(tolvex::list_of_seq(Index::to_seq(smaller)).size(), 506u);
    EXPECT_EQ(fold_entries(idx).size(), 512u);
  }
}

// of_list takes any range of pairs, also one that makes its pairs on the fly: the build must
// not keep pointers to elements that die with the iteration step. (A hand-written range rather
// than std::views::transform, which clang 14 cannot compile against libstdc++ 12.)
struct pairs_by_value {
  const std::vector<std::string>* words;
  struct iterator {
    const std::vector<std::string>* words;
    std::size_t i;
    using value_type = std::pair<std::string, int>;
    using difference_type = std::ptrdiff_t;
    value_type operator*() const { return {(*words)[i], static_cast<int>(i)}; }
    iterator& operator++() {
      ++i;
      return *this;
    }
    iterator operator++(int) { return {words, i++}; }
    bool operator==(const iterator& o) const { return i == o.i; }
  };
  iterator begin() const { return {words, 0}; }
  iterator end() const { return {words, words->size()}; }
};

TEST(Index, OfListOverARangeYieldingPairsByValue) {
  const std::vector<std::string> words = {"kitten", "sitting", "mitten", "kitten", "a", ""};
  static_assert(std::ranges::input_range<const pairs_by_value>);
  const auto idx = Index::of_list(pairs_by_value{&words});
  const Entries expected = {{"sitting", 1}, {"mitten", 2}, {"kitten", 3}, {"a", 4}, {"", 5}};
  EXPECT_EQ(Index::to_list(idx), expected);
  EXPECT_EQ(Index::retrieve_l(1, idx, "kitten"), (std::vector<int>{2, 3}));
}
