// The deterministic Levenshtein automaton: states numbered from 0 (the start state), each with
// an ordered list of (character, target) pairs, an optional `otherwise` target and a final flag.
//
// Layout. Every state owns one 16-byte record {begin, end, otherwise, final}; its pairs are the
// slice [begin, end) of one contiguous pair array, front of the list first. A step therefore
// touches one record and one short run of pairs: no per-state allocation, no pointer chasing.
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

#include <cstdint>
#include <span>
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

  struct state_record {
    std::uint32_t begin = 0;  // first pair of the state's list
    std::uint32_t end = 0;    // one past its last pair
    std::int32_t otherwise = -1;
    std::uint32_t final = 0;
  };

  int capacity() const noexcept { return static_cast<int>(states_.size()); }
  bool in_bounds(int s) const noexcept {
    return static_cast<std::size_t>(static_cast<unsigned>(s)) < states_.size();
  }
  std::span<const pair_type> pairs_of(int s) const noexcept {
    const state_record& r = states_[static_cast<std::size_t>(s)];
    return {pairs_.data() + r.begin, r.end - r.begin};
  }

  std::vector<state_record> states_;
  std::vector<pair_type> pairs_;
  int len_ = 0;
};

}  // namespace tolvex::detail
