// The persistent trie: the index handle, child lookup, path-copying updates and the bulk build.
//
// An index is a counted reference to its root node (node.hpp). Updates copy the path from the
// root to the key's node and share every subtree off it, so every earlier version stays valid
// and unchanged; nothing is ever written to a published node.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <new>
#include <ranges>
#include <type_traits>
#include <utility>
#include <vector>

#include "../errors.hpp"
#include "../traits.hpp"
#include "node.hpp"

namespace tolvex::detail {

template <StringTraits T>
struct index_component;

/// A persistent index from keys of bundle T to values of type V: a counted reference to the
/// root node. Copying is O(1) (one atomic increment); releasing the last reference frees the
/// nodes only this version held, without recursion. A default-constructed index is empty.
/// Immutable, so any number of threads may read and derive from one index at once.
///
///   tolvex::index<int> idx;                       // empty
///   idx = tolvex::Index::add(idx, "kitten", 1);   // the old idx is unchanged
template <StringTraits T, class V>
class trie {
 public:
  /// The empty index. O(1), no allocation.
  constexpr trie() noexcept : root_(&empty_node) {}
  trie(const trie& other) noexcept : root_(other.root_) { node_retain(root_); }
  trie(trie&& other) noexcept : root_(std::exchange(other.root_, &empty_node)) {}
  trie& operator=(trie other) noexcept {
    std::swap(root_, other.root_);
    return *this;
  }
  ~trie() { node_release<V, typename T::char_type>(root_); }

 private:
  friend struct index_component<T>;

  struct adopt_tag {};
  trie(const node_header* root, adopt_tag) noexcept : root_(root) {}

  // Takes over one reference to h.
  static trie adopt(const node_header* h) noexcept { return trie(h, adopt_tag{}); }
  // Adds a reference to h.
  static trie share(const node_header* h) noexcept {
    node_retain(h);
    return trie(h, adopt_tag{});
  }

  const node_header* root_;
};

/// Lexicographic order of keys under char_compare (a shorter key before its extensions).
template <StringTraits T>
struct key_less {
  bool operator()(const typename T::string_type& a, const typename T::string_type& b) const {
    if constexpr (is_byte_traits<T>) {
      return a < b;  // std::char_traits<char> compares as unsigned char, like char_compare
    } else {
      const std::ptrdiff_t m = T::length(a);
      const std::ptrdiff_t n = T::length(b);
      for (std::ptrdiff_t i = 0; i < m && i < n; ++i) {
        const int c = T::char_compare(T::get(a, i), T::get(b, i));
        if (c != 0) return c < 0;
      }
      return m < n;
    }
  }
};

/// Where c sits among the edges of a node: the first position whose character is not less
/// than c, and whether that character equals c. Linear below 8 edges, binary above.
template <StringTraits T, class V>
std::pair<std::size_t, bool> locate_edge(const node_header* h, const typename T::char_type& c) {
  using C = typename T::char_type;
  const std::size_t n = node_count(h);
  const C* chars = node_chars<V, C>(h, n);
  auto cmp = [](const C& a, const C& b) -> int {
    if constexpr (is_byte_traits<T>) {
      return static_cast<int>(static_cast<unsigned char>(a)) -
             static_cast<int>(static_cast<unsigned char>(b));
    } else {
      return T::char_compare(a, b);
    }
  };
  std::size_t lo = 0;
  std::size_t hi = n;
  while (hi - lo > 8) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (cmp(chars[mid], c) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  // Every edge below lo is less than c and, when hi < n, the one at hi is not: the scan stops
  // at hi at the latest, and sees whether that edge is c.
  for (; lo < n; ++lo) {
    const int r = cmp(chars[lo], c);
    if (r >= 0) return {lo, r == 0};
  }
  return {n, false};
}

/// The bulk build behind of_list: the same index as adding the pairs one by one in list order.
///
/// The pairs are ordered by key (a stable sort, skipped when they are already in order), then
/// the trie is built bottom-up in one pass: a stack holds the open path of the previous key,
/// and nodes are made once, when the walk leaves their parent, with all their children known.
/// So no path is copied, each node is allocated once, in a chunk, and siblings lie side by
/// side. Of several pairs with one key the last one's value is kept (the stable sort keeps
/// list order among them). Under a bundle whose char_compare equates different characters, an
/// edge keeps the character of the first pair in list order that passes through it, as
/// successive adds would. Returns the root, holding one reference for the caller.
template <StringTraits T, class Pairs>
auto bulk_build_stored(const Pairs& pairs);

template <StringTraits T, class Pairs>
auto bulk_build(const Pairs& pairs) {
  // The build sorts pointers to the pairs, so they must outlive it: a range whose elements are
  // made on the fly (a transform view yielding pairs by value) is copied out first.
  if constexpr (std::is_lvalue_reference_v<std::ranges::range_reference_t<const Pairs>>) {
    return bulk_build_stored<T>(pairs);
  } else {
    std::vector<std::remove_cvref_t<std::ranges::range_reference_t<const Pairs>>> stored;
    for (auto&& p : pairs) stored.push_back(std::forward<decltype(p)>(p));
    return bulk_build_stored<T>(stored);
  }
}

template <StringTraits T, class Pairs>
auto bulk_build_stored(const Pairs& pairs) {
  using pair_t = std::ranges::range_value_t<const Pairs>;
  using V = std::remove_cvref_t<typename pair_t::second_type>;
  using C = typename T::char_type;
  using layout = node_layout<V, C>;

  std::vector<const pair_t*> items;
  if constexpr (std::ranges::sized_range<const Pairs>) {
    items.reserve(static_cast<std::size_t>(std::ranges::size(pairs)));
  }
  for (const auto& p : pairs) items.push_back(std::addressof(p));
  if (items.empty()) return static_cast<const node_header*>(&empty_node);

  const key_less<T> less;
  auto by_key = [&less](const pair_t* a, const pair_t* b) { return less(a->first, b->first); };
  // The list index of each pair in sorted position, for the first-character rule above.
  std::vector<std::size_t> order;
  if (!std::is_sorted(items.begin(), items.end(), by_key)) {
    if constexpr (is_byte_traits<T>) {
      // Sort on the first 8 bytes as a big-endian integer, which decides most comparisons
      // without touching the strings; ties fall back to the whole keys. A merge sort, stable
      // and quick on the nearly sorted lists that word files are.
      struct sort_item {
        std::uint64_t prefix;
        std::size_t pos;
      };
      std::vector<sort_item> keyed(items.size());
      for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string& k = items[i]->first;
        std::uint64_t p = 0;
        for (std::size_t b = 0; b < 8; ++b) {
          p = p << 8 | (b < k.size() ? static_cast<unsigned char>(k[b]) : 0u);
        }
        keyed[i] = {p, i};
      }
      std::stable_sort(keyed.begin(), keyed.end(), [&](const sort_item& a, const sort_item& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        return items[a.pos]->first < items[b.pos]->first;
      });
      std::vector<const pair_t*> sorted(items.size());
      for (std::size_t i = 0; i < keyed.size(); ++i) sorted[i] = items[keyed[i].pos];
      items.swap(sorted);
    } else {
      std::vector<std::size_t> idx(items.size());
      for (std::size_t i = 0; i < idx.size(); ++i) idx[i] = i;
      std::stable_sort(idx.begin(), idx.end(), [&](std::size_t a, std::size_t b) {
        return less(items[a]->first, items[b]->first);
      });
      std::vector<const pair_t*> sorted(items.size());
      for (std::size_t i = 0; i < idx.size(); ++i) sorted[i] = items[idx[i]];
      items.swap(sorted);
      order.swap(idx);
    }
  }

  node_arena arena(items.size() * 40, layout::align);

  // Open path: frame d is the node at depth d of the current key. A node is made only when
  // its parent is, together with all its siblings, so that every sibling group lies in one
  // run of memory and entering the children of a node touches few cache lines:
  //   - descs: the children of open frames, known but not yet made; desc_chars their edges;
  //   - entries: made nodes (one reference each, null once handed to a parent), grouped by
  //     the desc that will own them, in desc order, so a closing frame finds the entries of
  //     all its children on top of the stack.
  struct desc {
    const V* value;
    std::size_t entries_begin;
    std::size_t entries_end;
  };
  struct frame {
    std::size_t descs_begin;
    const V* value;
  };
  std::vector<frame> frames;
  std::vector<C> edge;                // edge[d] leads from frame d to frame d + 1
  std::vector<std::size_t> edge_src;  // list index of the pair edge[d] was taken from
  std::vector<desc> descs;
  std::vector<C> desc_chars;
  std::vector<C> entry_chars;
  std::vector<const node_header*> entry_nodes;
  std::vector<const node_header*> made;
  struct guard_t {
    std::vector<const node_header*>& a;
    std::vector<const node_header*>& b;
    ~guard_t() {
      for (const node_header* h : a) {
        if (h != nullptr) node_release<V, C>(h);
      }
      for (const node_header* h : b) node_release<V, C>(h);
    }
  } guard{entry_nodes, made};

  // Makes the node of d, handing it d's entries.
  auto make = [&](const desc& d) -> const node_header* {
    auto init = [&d](void* mem) { ::new (mem) V(*d.value); };
    const node_header* h = node_make<V, C, true>(
        &arena, d.entries_end - d.entries_begin,
        [&](std::size_t i) -> const C& { return entry_chars[d.entries_begin + i]; },
        [&](std::size_t i) { return entry_nodes[d.entries_begin + i]; },
        d.value != nullptr ? &init : nullptr);
    for (std::size_t j = d.entries_begin; j < d.entries_end; ++j) entry_nodes[j] = nullptr;
    return h;
  };

  // Closes the top frame: makes its children side by side and returns its own desc.
  auto close_frame = [&]() -> desc {
    const frame f = frames.back();
    frames.pop_back();
    const std::size_t b = f.descs_begin;
    const std::size_t m = descs.size() - b;
    const std::size_t first = m != 0 ? descs[b].entries_begin : entry_nodes.size();
    entry_nodes.reserve(first + m);
    entry_chars.reserve(first + m);
    made.reserve(m);
    for (std::size_t i = 0; i < m; ++i) made.push_back(make(descs[b + i]));
    entry_nodes.resize(first);
    entry_chars.erase(entry_chars.begin() + static_cast<std::ptrdiff_t>(first), entry_chars.end());
    for (std::size_t i = 0; i < m; ++i) {
      entry_chars.push_back(std::move(desc_chars[b + i]));
      entry_nodes.push_back(made[i]);
    }
    made.clear();
    descs.resize(b);
    desc_chars.erase(desc_chars.begin() + static_cast<std::ptrdiff_t>(b), desc_chars.end());
    return desc{f.value, first, entry_nodes.size()};
  };

  auto close_child = [&]() {
    const desc d = close_frame();
    descs.push_back(d);
    desc_chars.push_back(std::move(edge.back()));
    edge.pop_back();
    edge_src.pop_back();
  };

  frames.push_back({0, nullptr});
  for (std::size_t j = 0; j < items.size(); ++j) {
    const auto& key = items[j]->first;
    const std::ptrdiff_t len = T::length(key);
    const std::size_t src = order.empty() ? j : order[j];
    std::size_t l = 0;
    const std::size_t depth = frames.size() - 1;
    while (l < depth && static_cast<std::ptrdiff_t>(l) < len) {
      if constexpr (is_byte_traits<T>) {
        if (edge[l] != key[l]) break;
      } else {
        C c = T::get(key, static_cast<std::ptrdiff_t>(l));
        if (T::char_compare(edge[l], c) != 0) break;
        if (src < edge_src[l]) {
          edge[l] = std::move(c);
          edge_src[l] = src;
        }
      }
      ++l;
    }
    while (frames.size() - 1 > l) close_child();
    for (std::ptrdiff_t d = static_cast<std::ptrdiff_t>(l); d < len; ++d) {
      edge.push_back(T::get(key, d));
      edge_src.push_back(src);
      frames.push_back({descs.size(), nullptr});
    }
    frames.back().value = &items[j]->second;
  }
  while (frames.size() > 1) close_child();
  return make(close_frame());
}

}  // namespace tolvex::detail
