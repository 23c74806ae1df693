// Placeholder: the nondeterministic Levenshtein automaton (being written).
#pragma once
#include "../traits.hpp"
namespace tolvex::detail {
template <StringTraits T>
struct nda {};
}  // namespace tolvex::detail
