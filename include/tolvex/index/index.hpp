// Placeholder: the approximate-match index (being written).
#pragma once
#include "../traits.hpp"
namespace tolvex::detail {
template <StringTraits T>
struct index_component {
  template <class V>
  struct index {};
};
}  // namespace tolvex::detail
