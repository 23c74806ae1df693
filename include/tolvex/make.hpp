// The generic builder: a library instance over a string-traits bundle, and its public view.
//
// detail::instance<T> is the full instance. Each subsystem is a component with a header of its
// own; the instance composes them, in the order in which each builds on the ones before:
//
//   edit_distance                      distance<T>        edit_distance.hpp
//   NDA                                nda<T>             automata/nda.hpp
//   DFA (store, state sets, subsets)   dfa<T>             automata/dfa.hpp
//   debug_print                        printer<T>         automata/debug_print.hpp
//   of_string, of_list, find_char,     construction<T>    automata/construction.hpp
//     transition, match_with
//   Index                              index_component<T> index/index.hpp
//
// Make<T> is the public view: it forwards the public members and nothing else.
#pragma once

#include <cstddef>
#include <ostream>
#include <span>
#include <utility>
#include <vector>

#include "automata/automaton.hpp"
#include "automata/construction.hpp"
#include "automata/debug_print.hpp"
#include "automata/dfa.hpp"
#include "automata/nda.hpp"
#include "edit_distance.hpp"
#include "index/index.hpp"
#include "seq.hpp"
#include "traits.hpp"

namespace tolvex {

namespace detail {

/// The full library instance over T, internal members included. Tests reach into it; callers
/// use Make<T>.
template <StringTraits T>
struct instance : distance<T>, printer<T>, construction<T> {
  using traits = T;
  using char_type = typename T::char_type;
  using string_type = typename T::string_type;
  using automaton = detail::automaton<char_type>;

  using NDA = nda<T>;
  using DFA = dfa<T>;
  using Index = index_component<T>;

  template <class V>
  using index = typename Index::template index<V>;
};

}  // namespace detail

/// The public view of the library instance built on the string-traits bundle T.
///
///   struct my_traits { ... };                  // see StringTraits
///   using L = tolvex::Make<my_traits>;
///   auto a = L::of_string(1, pattern);
///   bool ok = L::match_with(a, candidate);
template <StringTraits T>
struct Make {
 private:
  using I = detail::instance<T>;

 public:
  /// The bundle's character type.
  using char_type = typename T::char_type;
  /// The bundle's string type.
  using string_type = typename T::string_type;
  /// A deterministic Levenshtein automaton; pass it to match_with and debug_print.
  using automaton = typename I::automaton;
  /// A persistent index from string keys to values of type V.
  template <class V>
  using index = typename I::template index<V>;

  /// Levenshtein distance of s1 and s2.
  static std::ptrdiff_t edit_distance(const string_type& s1, const string_type& s2) {
    return I::edit_distance(s1, s2);
  }

  /// The automaton accepting exactly the strings within `limit` edits of `pattern`.
  static automaton of_string(int limit, const string_type& pattern) {
    return I::of_string(limit, pattern);
  }

  /// As of_string, for a pattern given as its characters.
  static automaton of_list(int limit, std::span<const char_type> pattern) {
    return I::of_list(limit, pattern);
  }

  /// Writes a text dump of `a` to `out`; `print_char(out, c)` writes one character.
  template <class Printer>
  static void debug_print(Printer&& print_char, std::ostream& out, const automaton& a) {
    I::debug_print(std::forward<Printer>(print_char), out, a);
  }

  /// Whether `a` accepts `s`.
  static bool match_with(const automaton& a, const string_type& s) { return I::match_with(a, s); }

  /// The persistent approximate-match index.
  struct Index {
   private:
    using C = typename I::Index;

   public:
    /// The empty index. Constant-initialised, so it may be read from any static initialiser;
    /// a default-constructed index<V> is the same empty index.
    ///   Index::is_empty(Index::empty<int>)   // true
    template <class V>
    static inline const index<V> empty{};

    /// Whether idx holds no entry. O(1), no throw.
    template <class V>
    static bool is_empty(const index<V>& idx) {
      return C::is_empty(idx);
    }

    /// A new index with `value` under `key` (replacing any value there); idx is unchanged and
    /// shares every node off the key's path. O(length of key) new nodes. Strong guarantee: an
    /// exception from char_compare or from copying values leaves every index as it was.
    ///   auto idx = Index::add(Index::empty<int>, "kitten", 1);
    template <class V>
    static index<V> add(const index<V>& idx, const string_type& key, V value) {
      return C::add(idx, key, std::move(value));
    }

    /// A new index with no value under `key`; nodes left with neither a value nor children are
    /// dropped. idx is unchanged. Removing an absent key is no error. O(length of key).
    ///   Index::remove(Index::add(Index::empty<int>, "ab", 1), "ab")   // an empty index
    template <class V>
    static index<V> remove(const index<V>& idx, const string_type& key) {
      return C::remove(idx, key);
    }

    /// The values whose keys are within `limit` edits of `pattern`, on demand. The automaton is
    /// built at the call (so limit errors are thrown here: -1 std::out_of_range, <= -2
    /// std::invalid_argument, past the state cap std::length_error); the index is walked only
    /// as elements are asked for, and asking again walks again. Order: a key's value before
    /// those of keys extending it, sibling branches in decreasing character order.
    ///   for (int v : Index::retrieve(1, idx, "kiten")) use(v);
    template <class V>
    static seq<V> retrieve(int limit, const index<V>& idx, const string_type& pattern) {
      return C::retrieve(limit, idx, pattern);
    }

    /// retrieve as a list, by an explicit-stack walk that allocates nothing per node.
    ///   Index::retrieve_l(1, words, "kitten")   // {3, 1} for kitten:1, sitting:2, mitten:3
    template <class V>
    static std::vector<V> retrieve_l(int limit, const index<V>& idx, const string_type& pattern) {
      return C::retrieve_l(limit, idx, pattern);
    }

    /// The index of a range of std::pair<string_type, V>, as if added in order from empty (the
    /// last value of a repeated key wins); built in bulk, O(total key length x log).
    ///   auto idx = Index::of_list(std::vector<std::pair<std::string, int>>{{"a", 1}, {"b", 2}});
    template <class Pairs>
    static auto of_list(const Pairs& pairs) {
      return C::of_list(pairs);
    }

    /// Every (key, value) entry, in decreasing key order (the reverse of fold's).
    template <class V>
    static std::vector<std::pair<string_type, V>> to_list(const index<V>& idx) {
      return C::to_list(idx);
    }

    /// Threads acc through f(acc, key, value) for every entry in increasing key order (a key
    /// before the keys that extend it). An exception from f stops the walk and propagates.
    ///   Index::fold([](int n, const std::string&, const int&) { return n + 1; }, 0, idx)
    template <class F, class A, class V>
    static A fold(F&& f, A acc, const index<V>& idx) {
      return C::fold(std::forward<F>(f), std::move(acc), idx);
    }

    /// Calls f(key, value) for every entry, in fold's order.
    template <class F, class V>
    static void iter(F&& f, const index<V>& idx) {
      C::iter(std::forward<F>(f), idx);
    }

    /// Every (key, value) entry on demand, in retrieve's order: a key before its extensions,
    /// sibling branches in decreasing character order.
    template <class V>
    static seq<std::pair<string_type, V>> to_seq(const index<V>& idx) {
      return C::to_seq(idx);
    }
  };
};

}  // namespace tolvex
