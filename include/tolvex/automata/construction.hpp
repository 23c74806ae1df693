// Building automata from patterns, and running strings through them.
//
// of_string / of_list build the automaton with the fast subset construction (subset_builder.hpp);
// the reference construction of dfa.hpp produces the same automaton and serves as its test
// oracle. Stepping has two forms: `transition`, which throws not_found when a state has no way
// on, and `step`, which answers -1 instead and never throws or allocates; matching and the
// index's trie walk use `step`.
//
// Characters of a transition list match under the bundle's char_compare (0 means equal), the
// same comparison the construction and edit_distance use; so for every bundle whose
// char_compare is a total order, match_with(of_string(k, p), s) == (edit_distance(p, s) <= k).
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

#include "../errors.hpp"
#include "../traits.hpp"
#include "automaton.hpp"
#include "dfa.hpp"
#include "nda.hpp"
#include "subset_builder.hpp"

namespace tolvex::detail {

/// Construction and matching over the bundle T.
template <StringTraits T>
struct construction {
  using char_type = typename T::char_type;
  using string_type = typename T::string_type;
  using automaton_type = automaton<char_type>;
  using pair_type = typename automaton_type::pair_type;

  /// The automaton accepting exactly the strings within `limit` edits of `pattern`.
  /// Time about O(states x (2 limit + 2)) with states about 4, 15, 58 per pattern character at
  /// limits 1, 2, 3 for a random pattern. Throws std::out_of_range for limit -1,
  /// std::invalid_argument for limit <= -2, std::length_error when the automaton would exceed
  /// the caps of build_limits (2^24 states by default); the last is detected before memory in
  /// proportion to the limit is allocated.
  ///   auto a = of_string(1, "abc");   // match_with(a, "abd") is true
  static automaton_type of_string(int limit, const string_type& pattern) {
    return of_string(limit, pattern, build_limits{});
  }

  /// As above, with explicit caps.
  static automaton_type of_string(int limit, const string_type& pattern, const build_limits& caps) {
    return build_automaton<T>(limit, pattern, caps);
  }

  /// As of_string, for the pattern given as its characters (converted with T::of_list first).
  static automaton_type of_list(int limit, std::span<const char_type> pattern) {
    return of_string(limit, T::of_list(pattern));
  }

  /// The target of the first pair of `list` whose character equals c under char_compare.
  /// O(list length). Throws tolvex::not_found when there is none.
  ///   find_char('b', {{'a', 1}, {'b', 2}, {'b', 3}})   // 2
  static int find_char(const char_type& c, std::span<const pair_type> list) {
    for (const pair_type& p : list) {
      if (T::char_compare(c, p.first) == 0) return p.second;
    }
    throw not_found("find_char: no transition on the character");
  }

  /// The state after s on c: the explicit transition on c if any, else the otherwise target.
  /// Throws std::out_of_range when s is outside the automaton, tolvex::not_found when s has no
  /// way on.
  static int transition(const automaton_type& a, int s, const char_type& c) {
    if (!a.in_bounds(s)) throw std::out_of_range("transition: state out of range");
    const int t = raw_step(a, s, c);
    if (t != no_move) return t;
    throw not_found("transition: no way on");
  }

  /// The state after s on c, or -1 when s has no way on: the first pair of s's list whose
  /// character equals c under char_compare, else s's otherwise target. Precondition:
  /// 0 <= s < a.len(). O(list length); no throw (unless char_compare throws), no allocation.
  static int step(const automaton_type& a, int s,
                  char_type c) noexcept(noexcept(T::char_compare(c, c))) {
    const int t = raw_step(a, s, c);
    return t == no_move ? -1 : t;
  }

  /// Whether state s is final. Precondition: 0 <= s < a.len(). O(1).
  static bool accepts(const automaton_type& a, int s) noexcept {
    return a.states_[static_cast<std::size_t>(s)].final != 0;
  }

  /// Whether `a` accepts `s`: the state reached after the last character is final. Stops at
  /// the first character without a way on. One step per character, nothing allocated. Throws
  /// std::out_of_range only for a hand-built automaton whose targets leave its arrays.
  ///   match_with(of_string(1, "abc"), "xbc")   // true
  static bool match_with(const automaton_type& a, const string_type& s) {
    const std::ptrdiff_t n = T::length(s);
    int state = 0;
    if constexpr (is_byte_traits<T>) {
      const char* p = s.data();
      for (std::ptrdiff_t i = 0; i < n; ++i) {
        if (!a.in_bounds(state)) out_of_bounds();
        state = raw_step(a, state, p[i]);
        if (state == no_move) return false;
      }
    } else {
      for (std::ptrdiff_t i = 0; i < n; ++i) {
        const char_type c = T::get(s, i);
        if (!a.in_bounds(state)) out_of_bounds();
        state = raw_step(a, state, c);
        if (state == no_move) return false;
      }
    }
    if (!a.in_bounds(state)) out_of_bounds();
    return accepts(a, state);
  }

 private:
  // Distinct from every target a list can hold, -1 included.
  static constexpr int no_move = INT_MIN;

  [[noreturn]] static void out_of_bounds() {
    throw std::out_of_range("match_with: state out of range");
  }

  static int raw_step(const automaton_type& a, int s,
                      const char_type& c) noexcept(noexcept(T::char_compare(c, c))) {
    const auto& r = a.states_[static_cast<std::size_t>(s)];
    const pair_type* p = a.pairs_.data() + r.begin;
    const pair_type* end = a.pairs_.data() + r.end;
    if constexpr (is_byte_traits<T>) {
      // The first two pairs are in the record itself.
      const std::uint32_t count = r.end - r.begin;
      if (count > 0 && r.head.pair[0].first == c) return r.head.pair[0].second;
      if (count > 1 && r.head.pair[1].first == c) return r.head.pair[1].second;
      if (count > 2)
        p += 2;
      else
        p = end;
    }
    for (; p != end; ++p) {
      if constexpr (is_byte_traits<T>) {
        if (p->first == c) return p->second;
      } else {
        if (T::char_compare(c, p->first) == 0) return p->second;
      }
    }
    return r.otherwise < 0 ? no_move : r.otherwise;
  }
};

}  // namespace tolvex::detail
