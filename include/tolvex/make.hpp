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
  using char_type = typename T::char_type;
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
    /// The empty index (a default-constructed index is empty too).
    template <class V>
    static inline const index<V> empty = C::template empty<V>;

    template <class V>
    static bool is_empty(const index<V>& idx) {
      return C::is_empty(idx);
    }

    template <class V>
    static index<V> add(const index<V>& idx, const string_type& key, V value) {
      return C::add(idx, key, std::move(value));
    }

    template <class V>
    static index<V> remove(const index<V>& idx, const string_type& key) {
      return C::remove(idx, key);
    }

    template <class V>
    static seq<V> retrieve(int limit, const index<V>& idx, const string_type& pattern) {
      return C::retrieve(limit, idx, pattern);
    }

    template <class V>
    static std::vector<V> retrieve_l(int limit, const index<V>& idx, const string_type& pattern) {
      return C::retrieve_l(limit, idx, pattern);
    }

    template <class Pairs>
    static auto of_list(const Pairs& pairs) {
      return C::of_list(pairs);
    }

    template <class V>
    static std::vector<std::pair<string_type, V>> to_list(const index<V>& idx) {
      return C::to_list(idx);
    }

    template <class F, class A, class V>
    static A fold(F&& f, A acc, const index<V>& idx) {
      return C::fold(std::forward<F>(f), std::move(acc), idx);
    }

    template <class F, class V>
    static void iter(F&& f, const index<V>& idx) {
      C::iter(std::forward<F>(f), idx);
    }

    template <class V>
    static seq<std::pair<string_type, V>> to_seq(const index<V>& idx) {
      return C::to_seq(idx);
    }
  };
};

}  // namespace tolvex
