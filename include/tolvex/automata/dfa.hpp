// The DFA component: the automaton store, sets of NDA states with their epsilon closure, and
// the plain subset construction over a materialised NDA.
//
// The construction here is the reference one. It works on ordered sets and maps and, as
// described for it, explores a set again each time it is reached, so its running time grows
// with the number of paths through the automaton, not with the number of states (about 56
// times the state count for eight characters at limit 2, 456 times at limit 3). It is kept as
// the test oracle of the fast construction (subset_builder.hpp), which of_string uses: both
// must produce the same automaton, state for state and pair for pair.
//
// No recursion: `traverse` runs its depth-first exploration on an explicit stack. Each nested
// set has a larger smallest i + j than its parent (every NDA transition raises i + j), so the
// stack holds at most n + limit + 1 frames.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "../traits.hpp"
#include "automaton.hpp"
#include "nda.hpp"

namespace tolvex::detail {

/// The DFA component over the bundle T.
template <StringTraits T>
struct dfa {
  using char_type = typename T::char_type;
  using NDA = nda<T>;
  using nda_state = typename NDA::nda_state;
  using nda_matrix = typename NDA::nda_matrix;
  using nda_transition = typename NDA::nda_transition;
  using automaton_type = automaton<char_type>;
  using pair_type = typename automaton_type::pair_type;

  // --- Store ----------------------------------------------------------------------------

  /// A new automaton with room for `capacity` states (empty lists, no otherwise, not final)
  /// and len 0. O(capacity). Throws std::invalid_argument for a negative capacity.
  ///   auto a = DFA::create(3);   // DFA::get(a, 2) is empty, DFA::get(a, 3) throws
  static automaton_type create(int capacity) {
    if (capacity < 0) throw std::invalid_argument("DFA::create: negative capacity");
    automaton_type a;
    a.states_.resize(static_cast<std::size_t>(capacity));
    return a;
  }

  /// A new array twice as long as `a`: a copy of `a`, then `fill` in every new entry. O(size).
  ///   double_array(0, std::vector<int>{1, 2})   // {1, 2, 0, 0}
  template <class X>
  static std::vector<X> double_array(const X& fill, const std::vector<X>& a) {
    std::vector<X> out(2 * a.size(), fill);
    std::copy(a.begin(), a.end(), out.begin());
    return out;
  }

  /// Adds a state and returns its number (the old len); doubles the capacity first when it is
  /// full. Amortised O(1).
  static int add_state(automaton_type& a) {
    if (static_cast<std::size_t>(a.len_) == a.states_.size()) {
      a.states_ = double_array(typename automaton_type::state_record{}, a.states_);
    }
    return a.len_++;
  }

  /// Whether (c, t) is in `list`: targets compared first, then characters by plain value
  /// equality (not char_compare).
  static bool mem_tr(const pair_type& p, std::span<const pair_type> list) {
    for (const pair_type& q : list) {
      if (q.second == p.second && q.first == p.first) return true;
    }
    return false;
  }

  /// Puts (c, t) at the front of the list of state s unless an equal pair is there already.
  /// O(list length). Throws std::out_of_range when s is outside the capacity.
  static void add_transition(automaton_type& a, int s, const pair_type& p) {
    check(a, s);
    if (mem_tr(p, a.pairs_of(s))) return;
    // The slice is rewritten at the end of the pair array with the new pair in front; its old
    // slots stay unused. Only the reference construction and hand-built automata get here,
    // the fast construction lays its slices out once.
    auto& r = a.states_[static_cast<std::size_t>(s)];
    const std::size_t old_begin = r.begin;
    const std::size_t old_end = r.end;
    const std::size_t begin = a.pairs_.size();
    if (begin + (old_end - old_begin) + 1 > UINT32_MAX) {
      throw std::length_error("DFA::add_transition: too many pairs");
    }
    a.pairs_.push_back(p);
    for (std::size_t k = old_begin; k < old_end; ++k) a.pairs_.push_back(a.pairs_[k]);
    r.begin = static_cast<std::uint32_t>(begin);
    r.end = static_cast<std::uint32_t>(a.pairs_.size());
    a.sync_head(s);
  }

  /// Sets the otherwise target of s, replacing any earlier one. Throws std::out_of_range when
  /// s is outside the capacity.
  static void add_otherwise(automaton_type& a, int s, int target) {
    check(a, s);
    a.states_[static_cast<std::size_t>(s)].otherwise = target;
  }

  /// Marks s final. Throws std::out_of_range when s is outside the capacity.
  static void set_final(automaton_type& a, int s) {
    check(a, s);
    a.states_[static_cast<std::size_t>(s)].final = 1;
  }

  // --- State sets ---------------------------------------------------------------------------

  /// The element order of NDA states: by i, then j. Negative, 0 or positive.
  static int compare(nda_state a, nda_state b) noexcept {
    if (a.i != b.i) return a.i < b.i ? -1 : 1;
    if (a.j != b.j) return a.j < b.j ? -1 : 1;
    return 0;
  }

  struct state_less {
    bool operator()(nda_state a, nda_state b) const noexcept { return compare(a, b) < 0; }
  };

  /// An ordered set of NDA states; whole sets order lexicographically (std::set's <).
  using NDAStateSet = std::set<nda_state, state_less>;

  /// The text form of a set: "{(0,0)(1,1)}", "{}" for the empty set.
  static std::string set_to_string(const NDAStateSet& set) {
    std::string out;
    out.reserve(15);
    out += '{';
    for (const nda_state& s : set) {
      out += '(';
      out += std::to_string(s.i);
      out += ',';
      out += std::to_string(s.j);
      out += ')';
    }
    out += '}';
    return out;
  }

  /// The distinct characters (under char_compare) of the Char labels of the set's members,
  /// the one met last first. Members are visited in ascending order, each list from the front.
  static std::vector<char_type> chars_from_set(const nda_matrix& m, const NDAStateSet& set) {
    std::vector<char_type> out;
    for (const nda_state& s : set) {
      for (const nda_transition& t : NDA::get(m, s)) {
        const auto* l = std::get_if<typename NDA::Labelled>(&t);
        if (l == nullptr) continue;
        const auto* ch = std::get_if<typename NDA::Char>(&l->label);
        if (ch == nullptr) continue;
        bool held = false;
        for (const char_type& d : out) {
          if (T::char_compare(ch->c, d) == 0) {
            held = true;
            break;
          }
        }
        if (!held) out.insert(out.begin(), ch->c);
      }
    }
    return out;
  }

  /// The set with the targets of all its members' Epsilon transitions added (transitively).
  static NDAStateSet saturate_epsilon(const nda_matrix& m, const NDAStateSet& set) {
    std::deque<nda_state> queue(set.begin(), set.end());
    NDAStateSet result = set;
    while (!queue.empty()) {
      const nda_state s = queue.front();
      queue.pop_front();
      result.insert(s);
      for (const nda_transition& t : NDA::get(m, s)) {
        if (const auto* e = std::get_if<typename NDA::Epsilon>(&t)) {
          const nda_state target{e->i, e->j};
          if (!result.contains(target)) queue.push_back(target);
        }
      }
    }
    return result;
  }

  // --- Subset construction --------------------------------------------------------------------

  /// acc with the targets of the list's transitions that c may take: Char d with
  /// char_compare(c, d) == 0, and Any.
  static NDAStateSet get_transition_for_char(const char_type& c, NDAStateSet acc,
                                             const std::vector<nda_transition>& list) {
    for (const nda_transition& t : list) {
      const auto* l = std::get_if<typename NDA::Labelled>(&t);
      if (l == nullptr) continue;
      const auto* ch = std::get_if<typename NDA::Char>(&l->label);
      if (ch == nullptr || T::char_compare(c, ch->c) == 0) acc.insert(nda_state{l->i, l->j});
    }
    return acc;
  }

  /// acc with the targets of the list's Any transitions.
  static NDAStateSet get_transitions_for_any(NDAStateSet acc,
                                             const std::vector<nda_transition>& list) {
    for (const nda_transition& t : list) {
      const auto* l = std::get_if<typename NDA::Labelled>(&t);
      if (l != nullptr && std::holds_alternative<typename NDA::Any>(l->label)) {
        acc.insert(nda_state{l->i, l->j});
      }
    }
    return acc;
  }

  /// The saturated successor of S on c.
  static NDAStateSet follow_transition(const nda_matrix& m, const NDAStateSet& set,
                                       const char_type& c) {
    NDAStateSet gathered;
    for (const nda_state& s : set) gathered = get_transition_for_char(c, gathered, NDA::get(m, s));
    return saturate_epsilon(m, gathered);
  }

  /// The saturated successor of S for any character without a transition of its own.
  static NDAStateSet follow_transition_any(const nda_matrix& m, const NDAStateSet& set) {
    NDAStateSet gathered;
    for (const nda_state& s : set) gathered = get_transitions_for_any(gathered, NDA::get(m, s));
    return saturate_epsilon(m, gathered);
  }

  /// Calls f(optional character, successor) for each non-empty successor of S: the characters
  /// of chars_from_set in its order, then the successor for any other character.
  template <class F>
  static void iterate_transition_set(const nda_matrix& m, const NDAStateSet& set, F&& f) {
    for (const char_type& c : chars_from_set(m, set)) {
      NDAStateSet next = follow_transition(m, set, c);
      if (!next.empty()) f(std::optional<char_type>(c), next);
    }
    NDAStateSet next = follow_transition_any(m, set);
    if (!next.empty()) f(std::optional<char_type>(), next);
  }

  /// The map from sets to state numbers of one construction.
  using StateSetMap = std::map<NDAStateSet, int>;

  /// The number of `set` in the map `cell`, adding a state (and an entry) when it has none.
  static int get_state(automaton_type& a, StateSetMap& cell, const NDAStateSet& set) {
    auto it = cell.find(set);
    if (it != cell.end()) return it->second;
    const int n = add_state(a);
    cell.emplace(set, n);
    return n;
  }

  /// Numbers `set` and fills the automaton from it on, depth first, exploring every set again
  /// each time it is reached (the reference behaviour). Runs on an explicit stack of at most
  /// n + limit + 1 frames.
  static void traverse(const nda_matrix& m, automaton_type& a, StateSetMap& cell,
                       const NDAStateSet& set) {
    // A frame holds the successors of its set, computed when the frame is opened: computing
    // them is free of effects, so doing it ahead changes neither numbering nor store writes.
    struct frame {
      int state;
      std::vector<std::pair<std::optional<char_type>, NDAStateSet>> next;
      std::size_t pos = 0;
    };
    std::vector<frame> stack;
    auto open = [&](const NDAStateSet& s) {
      frame f{get_state(a, cell, s), {}, 0};
      bool final = false;
      for (const nda_state& x : s) {
        if (NDA::is_final(m, x)) {
          final = true;
          break;
        }
      }
      if (final) set_final(a, f.state);
      iterate_transition_set(m, s, [&f](std::optional<char_type> c, const NDAStateSet& next) {
        f.next.emplace_back(std::move(c), next);
      });
      stack.push_back(std::move(f));
    };
    open(set);
    while (!stack.empty()) {
      frame& f = stack.back();
      if (f.pos == f.next.size()) {
        stack.pop_back();
        continue;
      }
      auto& [c, next] = f.next[f.pos++];
      const int target = get_state(a, cell, next);
      if (c) {
        add_transition(a, f.state, pair_type(*c, target));
      } else {
        add_otherwise(a, f.state, target);
      }
      open(next);  // may reallocate the stack: f is not used after this
    }
  }

  /// The automaton of the NDA by the reference subset construction. Throws std::out_of_range
  /// for an NDA without the state (0, 0) (one built for limit -1).
  static automaton_type of_nda(const nda_matrix& m) {
    automaton_type a = create(static_cast<int>(NDA::length(m)));
    StateSetMap cell;
    const NDAStateSet start = saturate_epsilon(m, NDAStateSet{nda_state{0, 0}});
    traverse(m, a, cell, start);
    return a;
  }

  // --- Accessors ------------------------------------------------------------------------------

  /// The list of s as stored, front first. Throws std::out_of_range outside the capacity.
  static std::vector<pair_type> get(const automaton_type& a, int s) {
    check(a, s);
    auto list = a.pairs_of(s);
    return {list.begin(), list.end()};
  }

  /// The otherwise target of s, -1 for none. Throws std::out_of_range outside the capacity.
  static int otherwise(const automaton_type& a, int s) {
    check(a, s);
    return a.states_[static_cast<std::size_t>(s)].otherwise;
  }

  /// Whether s is final. Throws std::out_of_range outside the capacity.
  static bool is_final(const automaton_type& a, int s) {
    check(a, s);
    return a.states_[static_cast<std::size_t>(s)].final != 0;
  }

 private:
  static void check(const automaton_type& a, int s) {
    if (!a.in_bounds(s)) throw std::out_of_range("automaton: state out of range");
  }
};

}  // namespace tolvex::detail
