// The nondeterministic Levenshtein automaton of a pattern and an error limit, materialised as a
// matrix of transition lists.
//
// State (i, j) means: i pattern characters consumed, j edits spent. From (i, j), i < n:
//   Char p[i] -> (i+1, j)        a match, free;
//   Any -> (i+1, j+1)            a substitution        (j < limit);
//   Any -> (i, j+1)              an extra input char   (j < limit);
//   Epsilon -> (i+1, j+1)        a missing pattern char (j < limit).
// Row n accepts and takes extra trailing characters: Any -> (n, j+1) for j < limit.
//
// Every transition raises i + j, so the automaton has no cycle; the subset construction relies
// on that for termination and for its stack bound. This materialised form is the reference;
// the fast construction in subset_builder.hpp derives the same transitions from (i, j) and the
// pattern without building the matrix.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <type_traits>
#include <variant>
#include <vector>

#include "../traits.hpp"

namespace tolvex::detail {

/// The largest NDA matrix `nda<T>::make` builds, in cells ((n + 1) x (limit + 1)). Each cell is
/// a list of up to four transitions, so this bounds the matrix to roughly 1.5 GiB; a larger one
/// could not be turned into an automaton within the default state cap anyway.
inline constexpr long long max_nda_cells = 1LL << 24;

/// The NDA component over the bundle T.
template <StringTraits T>
struct nda {
  using char_type = typename T::char_type;
  using string_type = typename T::string_type;

  /// A state (i, j): i pattern characters consumed, j edits spent. Ordered by i, then j.
  struct nda_state {
    int i;
    int j;
    friend auto operator<=>(const nda_state&, const nda_state&) = default;
  };

  /// Label matching any one character.
  struct Any {};
  /// Label matching one character equal to c under char_compare.
  struct Char {
    char_type c;
  };
  using nda_label = std::variant<Any, Char>;

  /// The state is final.
  struct Accept {};
  /// Consumes one character matching `label`, leads to (i, j).
  struct Labelled {
    nda_label label;
    int i;
    int j;
  };
  /// Consumes nothing, leads to (i, j).
  struct Epsilon {
    int i;
    int j;
  };
  using nda_transition = std::variant<Accept, Labelled, Epsilon>;

  /// Entry [i][j] is the list of transitions out of (i, j), newest first.
  using nda_matrix = std::vector<std::vector<std::vector<nda_transition>>>;

  /// The number of rows, pattern length + 1. O(1).
  static std::ptrdiff_t length(const nda_matrix& m) noexcept {
    return static_cast<std::ptrdiff_t>(m.size());
  }

  /// Whether a transition equal to `t` is in `list`, searched from the front. Char labels are
  /// equal when char_compare(t's char, listed char) is 0; positions compare as integers.
  ///   mem_tr(Labelled{Any{}, 1, 1}, {Labelled{Char{'x'}, 1, 1}})   // false
  static bool mem_tr(const nda_transition& t, const std::vector<nda_transition>& list) {
    for (const nda_transition& u : list) {
      if (equal(t, u)) return true;
    }
    return false;
  }

  /// The NDA of `pattern` for `limit`: (n + 1) rows of limit + 1 lists. O(n * limit).
  /// limit = -1 gives n + 1 empty rows. Throws std::invalid_argument for limit <= -2, and
  /// std::length_error when the matrix would exceed max_nda_cells.
  ///   auto m = NDA::make(1, "xy");   // 3 rows of 2 lists
  static nda_matrix make(int limit, const string_type& pattern) {
    const std::ptrdiff_t n = T::length(pattern);
    if (limit < -1) throw std::invalid_argument("NDA::make: negative row size");
    if (static_cast<long long>(n + 1) * (static_cast<long long>(limit) + 1) > max_nda_cells) {
      throw std::length_error("NDA::make: matrix exceeds the cell cap");
    }
    nda_matrix m(static_cast<std::size_t>(n) + 1,
                 std::vector<std::vector<nda_transition>>(static_cast<std::size_t>(limit + 1)));
    auto add = [&m](std::ptrdiff_t i, int j, nda_transition t) {
      auto& list = m[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
      if (!mem_tr(t, list)) list.insert(list.begin(), std::move(t));
    };
    const int ni = static_cast<int>(n);
    for (int i = 0; i < ni; ++i) {
      for (int j = 0; j <= limit; ++j) {
        add(i, j, Labelled{Char{T::get(pattern, i)}, i + 1, j});
        if (j < limit) {
          add(i, j, Labelled{Any{}, i + 1, j + 1});
          add(i, j, Labelled{Any{}, i, j + 1});
          add(i, j, Epsilon{i + 1, j + 1});
        }
      }
    }
    for (int j = 0; j <= limit; ++j) {
      if (j < limit) add(ni, j, Labelled{Any{}, ni, j + 1});
      add(ni, j, Accept{});
    }
    return m;
  }

  /// The list of transitions out of s, as stored. Throws std::out_of_range outside the matrix.
  static const std::vector<nda_transition>& get(const nda_matrix& m, nda_state s) {
    if (s.i < 0 || static_cast<std::size_t>(s.i) >= m.size()) {
      throw std::out_of_range("NDA::get: row out of range");
    }
    const auto& row = m[static_cast<std::size_t>(s.i)];
    if (s.j < 0 || static_cast<std::size_t>(s.j) >= row.size()) {
      throw std::out_of_range("NDA::get: column out of range");
    }
    return row[static_cast<std::size_t>(s.j)];
  }

  /// Whether the list of s holds Accept. Throws std::out_of_range outside the matrix.
  static bool is_final(const nda_matrix& m, nda_state s) {
    for (const nda_transition& t : get(m, s)) {
      if (std::holds_alternative<Accept>(t)) return true;
    }
    return false;
  }

 private:
  // Dispatches on the kind of `a`, then asks whether `b` is of the same kind.
  static bool equal(const nda_transition& a, const nda_transition& b) {
    return std::visit(
        [&b](const auto& x) -> bool {
          using X = std::decay_t<decltype(x)>;
          const X* y = std::get_if<X>(&b);
          if (y == nullptr) return false;
          if constexpr (std::is_same_v<X, Accept>) {
            return true;
          } else if constexpr (std::is_same_v<X, Epsilon>) {
            return x.i == y->i && x.j == y->j;
          } else {
            if (x.label.index() != y->label.index()) return false;
            if (const auto* c = std::get_if<Char>(&x.label)) {
              if (T::char_compare(c->c, std::get<Char>(y->label).c) != 0) return false;
            }
            return x.i == y->i && x.j == y->j;
          }
        },
        a);
  }
};

}  // namespace tolvex::detail
