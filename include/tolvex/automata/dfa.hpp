// Placeholder: the deterministic automaton component (being written).
#pragma once
#include "../traits.hpp"
namespace tolvex::detail {
template <StringTraits T>
struct dfa {};
}  // namespace tolvex::detail
