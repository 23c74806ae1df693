// The deterministic Levenshtein automaton: states numbered from 0 (the start state), each with
// an ordered list of (character, target) pairs, an optional `otherwise` target and a final flag.
//
// Layout. Every state owns one record {begin, end, otherwise, final, head}; its pairs are the
// slice [begin, end) of one contiguous pair array, front of the list first, and `head` holds
// copies of the first two of them (32 bytes in all for byte characters). A step usually finds
// its pair in the head, so it reads the record alone: one load on the critical path instead of
// two; longer lists continue in the pair array. No per-state allocation, no pointer chasing.
// The slices of different states need not be adjacent or in state order, and the pair array
// may hold unused slots between them (the store rewrites a slice when it prepends to it); only
// the slices named by the records are meaningful.
//
// Capacity. The record array has a capacity (the number of records) and a count of states in
// use, `len`. States from `len` to capacity - 1 exist as far as the accessors are concerned
// (empty list, no otherwise, not final); state numbers at or beyond the capacity are out of
// bounds. The store operations that create and grow an automaton live in dfa<T> (dfa.hpp); the
// fast construction (subset_builder.hpp) writes the same layout directly.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "../traits.hpp"

namespace tolvex::detail {

template <StringTraits T>
struct dfa;
template <StringTraits T>
struct construction;
template <StringTraits T>
struct printer;
template <StringTraits T>
class builder_core;
class byte_step_table;

/// Copies of the first two pairs of a state's list (for character types that can be held so).
template <class C, bool = std::is_default_constructible_v<C>>
struct list_head {
  static constexpr bool present = true;
  std::pair<C, int> pair[2]{};
};
template <class C>
struct list_head<C, false> {
  static constexpr bool present = false;
};

/// A deterministic automaton over characters of type C. Opaque to callers: build one with
/// `of_string` / `of_list` and pass it to `match_with` and `debug_print`. Copyable and movable;
/// nothing changes it once its construction has returned it.
///
///   auto a = tolvex::of_string(1, "abc");
///   a.len();                                  // number of states
template <class C>
class automaton {
 public:
  /// One explicit transition: the character first, the target state second.
  using pair_type = std::pair<C, int>;

  /// An automaton with no states and no capacity.
  automaton() = default;

  /// The number of states in use; states are 0 to len() - 1, 0 the start state. O(1).
  int len() const noexcept { return len_; }

 private:
  template <StringTraits T>
  friend struct dfa;
  template <StringTraits T>
  friend struct construction;
  template <StringTraits T>
  friend struct printer;
  template <StringTraits T>
  friend class builder_core;
  friend class byte_step_table;  // the index's flat step table reads the lists

  struct state_record {
    std::uint32_t begin = 0;  // first pair of the state's list
    std::uint32_t end = 0;    // one past its last pair
    std::int32_t otherwise = -1;
    std::uint32_t final = 0;
    [[no_unique_address]] list_head<C> head;  // pairs [begin, min(end, begin + 2))
  };

  int capacity() const noexcept { return static_cast<int>(states_.size()); }
  bool in_bounds(int s) const noexcept {
    return static_cast<std::size_t>(static_cast<unsigned>(s)) < states_.size();
  }
  std::span<const pair_type> pairs_of(int s) const noexcept {
    const state_record& r = states_[static_cast<std::size_t>(s)];
    return {pairs_.data() + r.begin, r.end - r.begin};
  }

  // Refreshes the head of s after its list changed.
  void sync_head(int s) noexcept { sync_head(s, pairs_.data()); }
  // The same, with s's list [begin, end) read from `pairs` instead of the pair array (a
  // builder's storage, before the array holds it).
  void sync_head(int s, const pair_type* pairs) noexcept {
    if constexpr (list_head<C>::present) {
      state_record& r = states_[static_cast<std::size_t>(s)];
      const std::uint32_t n = std::min<std::uint32_t>(r.end - r.begin, 2);
      for (std::uint32_t q = 0; q < n; ++q) r.head.pair[q] = pairs[r.begin + q];
    }
  }
  // Sets the target of pair q of s's list.
  void set_target(int s, std::uint32_t q, int target) noexcept {
    state_record& r = states_[static_cast<std::size_t>(s)];
    pairs_[r.begin + q].second = target;
    if constexpr (list_head<C>::present) {
      if (q < 2) r.head.pair[q].second = target;
    }
  }

  std::vector<state_record> states_;
  std::vector<pair_type> pairs_;
  int len_ = 0;
};

}  // namespace tolvex::detail
