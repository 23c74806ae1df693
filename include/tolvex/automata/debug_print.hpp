// Placeholder: the automaton dump (being written).
#pragma once
#include <ostream>
#include "../traits.hpp"
#include "automaton.hpp"
namespace tolvex::detail {
template <StringTraits T>
struct printer {
  template <class P>
  static void debug_print(P&& p, std::ostream& out, const automaton<typename T::char_type>& a);
};
}  // namespace tolvex::detail
