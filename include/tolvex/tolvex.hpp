// Tolvex: approximate string matching under the Levenshtein distance.
//
// One header brings in everything: the generic builder Make<Traits>, the sequence type seq and
// list_of_seq, the error types, and the instance for byte strings (std::string) at the top level.
//
//   #include <tolvex/tolvex.hpp>
//
//   auto words = tolvex::Index::of_list(std::vector<std::pair<std::string, int>>{
//       {"kitten", 1}, {"sitting", 2}, {"mitten", 3}});
//   for (int v : tolvex::Index::retrieve(1, words, "kitten")) ...;   // 3, then 1
//   tolvex::edit_distance("kitten", "sitting");                       // 3
//   tolvex::match_with(tolvex::of_string(2, "kitten"), "sittin");     // true
#pragma once

#include <cstddef>
#include <ostream>
#include <span>
#include <string>

#include "errors.hpp"
#include "make.hpp"
#include "seq.hpp"
#include "traits.hpp"

namespace tolvex {

/// The byte-string instance.
using bytes = Make<byte_string_traits>;

/// A deterministic Levenshtein automaton over bytes.
using automaton = bytes::automaton;
/// A persistent index from byte-string keys to values of type V.
template <class V>
using index = bytes::index<V>;
/// Index operations over byte-string keys.
using Index = bytes::Index;

/// Levenshtein distance of two byte strings.
inline std::ptrdiff_t edit_distance(const std::string& s1, const std::string& s2) {
  return bytes::edit_distance(s1, s2);
}

/// The automaton accepting exactly the byte strings within `limit` edits of `pattern`.
inline automaton of_string(int limit, const std::string& pattern) {
  return bytes::of_string(limit, pattern);
}

/// As of_string, for a pattern given as its bytes.
inline automaton of_list(int limit, std::span<const char> pattern) {
  return bytes::of_list(limit, pattern);
}

/// Whether `a` accepts `s`.
inline bool match_with(const automaton& a, const std::string& s) { return bytes::match_with(a, s); }

/// Writes a text dump of `a` to `out`, characters as raw bytes.
inline void debug_print(std::ostream& out, const automaton& a) {
  bytes::debug_print([](std::ostream& o, char c) { o.put(c); }, out, a);
}

}  // namespace tolvex
