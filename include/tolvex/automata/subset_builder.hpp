// The fast subset construction (interim: forwards to the reference construction).
#pragma once

#include <cstddef>
#include <stdexcept>

#include "../traits.hpp"
#include "automaton.hpp"
#include "dfa.hpp"
#include "nda.hpp"

namespace tolvex::detail {

/// Caps on one construction. An automaton for limit k and pattern length n has at least
/// n + k + 1 states, so an absurd limit fails at once.
struct build_limits {
  std::size_t max_states = std::size_t{1} << 24;
  std::size_t max_set_words = std::size_t{1} << 26;
};

template <StringTraits T, int Words>
class subset_builder {};

template <StringTraits T>
automaton<typename T::char_type> build_automaton(int limit, const typename T::string_type& pattern,
                                                 const build_limits& caps) {
  const std::ptrdiff_t n = T::length(pattern);
  if (limit >= 0 &&
      static_cast<std::size_t>(n) + static_cast<std::size_t>(limit) + 1 > caps.max_states) {
    throw std::length_error("of_string: automaton exceeds the state cap");
  }
  return dfa<T>::of_nda(nda<T>::make(limit, pattern));
}

}  // namespace tolvex::detail
