// Placeholder: construction and matching (being written).
#pragma once
#include <span>
#include "../traits.hpp"
#include "automaton.hpp"
namespace tolvex::detail {
template <StringTraits T>
struct construction {
  using A = automaton<typename T::char_type>;
  static A of_string(int limit, const typename T::string_type& pattern);
  static A of_list(int limit, std::span<const typename T::char_type> pattern);
  static bool match_with(const A& a, const typename T::string_type& s);
};
}  // namespace tolvex::detail
