// Placeholder: the deterministic automaton type (being written).
#pragma once
namespace tolvex::detail {
template <class C>
class automaton {};
}  // namespace tolvex::detail
