// The index component: a persistent trie from keys to values with approximate retrieval.
//
// Storage is in node.hpp, the handle, child lookup and bulk build in trie.hpp, retrieval in
// retrieval.hpp, enumeration in enumeration.hpp; this header assembles the component's members
// in their fixed order (M, empty, is_empty, goto_leaf, add, remove, retrieve, retrieve_l,
// of_list, fold, iter, to_list, to_seq).
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <ranges>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "../automata/automaton.hpp"
#include "../automata/construction.hpp"
#include "../errors.hpp"
#include "../seq.hpp"
#include "../traits.hpp"
#include "enumeration.hpp"
#include "node.hpp"
#include "retrieval.hpp"
#include "trie.hpp"

namespace tolvex::detail {

/// The index component of the instance over T.
template <StringTraits T>
struct index_component {
  using char_type = typename T::char_type;
  using string_type = typename T::string_type;

  /// A persistent index holding values of type V; see trie.
  template <class V>
  using index = trie<T, V>;

 private:
  using C = char_type;
  using ops = construction<T>;

  static bool is_empty_node(const node_header* h) noexcept {
    return !node_has(h) && node_count(h) == 0;
  }

 public:
  /// The child map of a node: edges ordered by char_compare, two characters comparing 0 being
  /// one key. Stored as the node's sorted arrays; these operations read it.
  struct M {
    /// Number of bindings of n's children. O(1).
    template <class V>
    static std::size_t size(const index<V>& n) noexcept {
      return node_count(n.root_);
    }

    /// The child bound to c. O(log size) char_compare calls. Throws tolvex::not_found when c is
    /// unbound; errors of char_compare pass through.
    ///   M::find(idx, 'a')   // the subtree of the keys starting with a
    template <class V>
    static index<V> find(const index<V>& n, const char_type& c) {
      const auto [pos, found] = locate_edge<T, V>(n.root_, c);
      if (!found) throw not_found("index: no child for the character");
      return index<V>::share(node_children<V, C>(n.root_, node_count(n.root_))[pos]);
    }

    /// Calls f(c, child) for each binding in increasing char_compare order.
    template <class V, class F>
    static void iter(const index<V>& n, F&& f) {
      const std::size_t count = node_count(n.root_);
      const C* chars = node_chars<V, C>(n.root_, count);
      node_header* const* kids = node_children<V, C>(n.root_, count);
      for (std::size_t i = 0; i < count; ++i) f(chars[i], index<V>::share(kids[i]));
    }
  };

  /// Checks that the empty index reports itself empty; throws tolvex::assertion_failure at
  /// ("src/Tolvex", 503, 13) otherwise, which cannot happen. Runs at start-up.
  static void self_check() {
    if (!is_empty_node(&empty_node)) throw assertion_failure("src/Tolvex", 503, 13);
  }

 private:
  // Forces the self-check into the program's start-up once any index operation is used.
  static inline const bool checked_ = (self_check(), true);

 public:
  /// The empty index, one shared node for every value type. A default-constructed index<V> is
  /// the same. Constant-initialised, so usable from any static initialiser.
  template <class V>
  static inline const index<V> empty{};

  /// True when the root holds no value and has no children. O(1), no throw.
  ///   is_empty(empty<int>)   // true
  template <class V>
  static bool is_empty(const index<V>& idx) noexcept {
    (void)checked_;
    return is_empty_node(idx.root_);
  }

  /// Applies `change` (index<V>(const index<V>&)) once to the node at the end of key's path,
  /// creating empty nodes below the last existing one, and rebuilds the path above it: a parent
  /// drops a child left empty, else binds the new child in place of the old one. The root is
  /// never dropped. Cost: one length(), one get() per character, a lookup per level and at most
  /// length + 1 new nodes; the rest is shared. Errors of get, char_compare, change or a value
  /// copy leave `idx` unchanged and free what was built (a not_found of char_compare during the
  /// descent counts as an unbound character).
  ///   goto_leaf(key, idx, [](const index<int>& n) { return n; })   // content-equal to idx
  template <class V, class F>
  static index<V> goto_leaf(const string_type& key, const index<V>& idx, F&& change) {
    (void)checked_;
    const std::ptrdiff_t len = T::length(key);
    struct pending {
      const node_header* node;  // the old node on the path (held by idx)
      std::size_t pos;          // its child slot for c
      char_type c;
      unsigned char how;  // 0 bound, 1 unbound, 2 lookup failed with not_found
    };
    std::vector<pending> path;
    path.reserve(static_cast<std::size_t>(len));
    const node_header* node = idx.root_;
    for (std::ptrdiff_t i = 0; i < len; ++i) {
      char_type c = T::get(key, i);
      std::size_t pos = 0;
      unsigned char how = 1;
      try {
        const auto [p, found] = locate_edge<T, V>(node, c);
        pos = p;
        how = found ? 0 : 1;
      } catch (const not_found&) {
        how = 2;
      }
      const node_header* next =
          how == 0 ? node_children<V, C>(node, node_count(node))[pos] : &empty_node;
      path.push_back({node, pos, std::move(c), how});
      node = next;
    }
    index<V> result = change(index<V>::share(node));
    for (std::size_t d = path.size(); d-- > 0;) {
      const pending& step = path[d];
      std::size_t pos = step.pos;
      bool found = step.how == 0;
      if (step.how == 2) {  // the map would compare again here; so do we, without catching
        const auto [p, f] = locate_edge<T, V>(step.node, step.c);
        pos = p;
        found = f;
      }
      const node_header* p = step.node;
      const std::size_t n = node_count(p);
      node_header* const* kids = node_children<V, C>(p, n);
      if (is_empty_node(result.root_)) {
        result = found ? without_child<V>(p, pos) : index<V>::share(p);
      } else if (found) {
        result = kids[pos] == result.root_ ? index<V>::share(p)
                                           : with_child<V>(p, pos, nullptr, result.root_);
      } else {
        result = with_child<V>(p, pos, &step.c, result.root_);
      }
    }
    return result;
  }

  /// idx with `value` under `key`, replacing any value there. O(key length) nodes copied,
  /// the rest shared; idx is unchanged. Errors: those of get, char_compare and V's copy or
  /// move, with idx unchanged (strong guarantee).
  ///   auto idx = add(empty<int>, "kitten", 1);
  template <class V>
  static index<V> add(const index<V>& idx, const string_type& key, V value) {
    auto init = [&value](void* mem) { ::new (mem) V(std::move(value)); };
    return goto_leaf(key, idx, [&init](const index<V>& n) { return clone<V>(n.root_, &init); });
  }

  /// idx without a value under `key`; nodes left with neither value nor child are dropped
  /// (the root stays). Removing an absent key is no error and shares all of idx.
  ///   remove(add(empty<int>, "ab", 1), "ab")   // an empty index
  template <class V>
  static index<V> remove(const index<V>& idx, const string_type& key) {
    return goto_leaf(key, idx, [](const index<V>& n) {
      if (!node_has(n.root_)) return n;
      return clone<V>(n.root_, static_cast<no_value*>(nullptr));
    });
  }

  /// The values whose keys lie within `limit` edits of `pattern`, on demand: a node's value
  /// before its subtree, sibling subtrees from the greatest character down. The automaton is
  /// built at once (its errors come out here: std::out_of_range for limit -1,
  /// std::invalid_argument below); nothing of the index is walked before the first ask.
  /// Re-askable: asking again repeats the walk. Iterating takes the fast path (see
  /// retrieval.hpp).
  ///   for (int v : retrieve(1, idx, "kitten")) ...
  template <class V>
  static seq<V> retrieve(int limit, const index<V>& idx, const string_type& pattern) {
    auto ctx = make_context(limit, idx, pattern);
    const node_header* root = ctx->keep.root_;
    return retrieve_step<T, V>::as_seq(
        std::make_shared<const retrieve_step<T, V>>(std::move(ctx), root, 0, nullptr));
  }

  /// retrieve as a list, through the explicit-stack walk: one automaton, then one step per
  /// child of each entered node; nothing allocated per node but the result.
  ///   retrieve_l(1, idx, "kitten")   // {3, 1} for kitten -> 1, mitten -> 3
  template <class V>
  static std::vector<V> retrieve_l(int limit, const index<V>& idx, const string_type& pattern) {
    const query_automaton<T> q(limit, pattern);
    std::vector<V> out;
    retrieve_walker<T, V> walker(q);
    walker.start(idx.root_, 0);
    while (const V* v = walker.next()) out.push_back(*v);
    return out;
  }

  /// The index holding the pairs (a range of std::pair<string_type, V>), equal to adding them
  /// in order from empty (the last value of a repeated key wins). Bulk build: a stable sort by
  /// key, skipped for sorted input, then one bottom-up pass with every node made once in
  /// chunked storage. Errors of char_compare, get or V's copy leave nothing allocated.
  ///   auto idx = of_list(std::vector<std::pair<std::string, int>>{{"a", 1}, {"ab", 2}});
  template <class Pairs>
  static auto of_list(const Pairs& pairs) {
    (void)checked_;
    using pair_t = std::ranges::range_value_t<const Pairs>;
    using V = std::remove_cvref_t<typename pair_t::second_type>;
    return index<V>::adopt(bulk_build<T>(pairs));
  }

  /// Threads acc through f(acc, key, value) for every entry in increasing key order (a key
  /// before its extensions). Keys are rebuilt with T::of_list. Explicit stack; errors of f or
  /// of_list stop the walk.
  ///   fold([](int n, const auto&, const auto&) { return n + 1; }, 0, idx)   // entry count
  template <class F, class A, class V>
  static A fold(F&& f, A acc, const index<V>& idx) {
    enumerate_fold_order<T, V>(idx.root_, [&](std::span<const C> path, const V& v) {
      acc = f(std::move(acc), T::of_list(path), v);
    });
    return acc;
  }

  /// Calls f(key, value) for every entry, in fold's order.
  template <class F, class V>
  static void iter(F&& f, const index<V>& idx) {
    enumerate_fold_order<T, V>(
        idx.root_, [&](std::span<const C> path, const V& v) { f(T::of_list(path), v); });
  }

  /// All entries as (key, value) pairs, in the reverse of fold's order.
  template <class V>
  static std::vector<std::pair<string_type, V>> to_list(const index<V>& idx) {
    std::vector<std::pair<string_type, V>> out;
    enumerate_fold_order<T, V>(idx.root_, [&](std::span<const C> path, const V& v) {
      out.emplace_back(T::of_list(path), v);
    });
    std::reverse(out.begin(), out.end());
    return out;
  }

  /// All entries on demand, in retrieval's order (a key first, then its child subtrees from
  /// the greatest character down). Does nothing before the first ask; re-askable.
  template <class V>
  static seq<std::pair<string_type, V>> to_seq(const index<V>& idx) {
    auto keep = std::make_shared<const index<V>>(idx);
    const node_header* root = keep->root_;
    return enumerate_step<T, V>::as_seq(
        std::make_shared<const enumerate_step<T, V>>(std::move(keep), root, nullptr, nullptr));
  }

 private:
  template <class V>
  static std::shared_ptr<const retrieve_context<T, V>> make_context(int limit, const index<V>& idx,
                                                                    const string_type& pattern) {
    return std::make_shared<const retrieve_context<T, V>>(
        retrieve_context<T, V>{idx, query_automaton<T>(limit, pattern)});
  }

  struct no_value {
    void operator()(void*) const noexcept {}
  };

  // A copy of h with the same children and the value made by *init (none for a null init).
  template <class V, class Init>
  static index<V> clone(const node_header* h, Init* init) {
    const std::size_t n = node_count(h);
    const C* chars = node_chars<V, C>(h, n);
    node_header* const* kids = node_children<V, C>(h, n);
    return index<V>::adopt(node_make<V, C, false>(
        nullptr, n, [chars](std::size_t i) -> const C& { return chars[i]; },
        [kids](std::size_t i) -> const node_header* { return kids[i]; }, init));
  }

  template <class V>
  static auto value_copier(const node_header* p) {
    return [p](void* mem) { ::new (mem) V(node_value<V, C>(p)); };
  }

  // A copy of p with child `pos` replaced by `child` (c null) or (c, child) inserted at pos.
  template <class V>
  static index<V> with_child(const node_header* p, std::size_t pos, const char_type* c,
                             const node_header* child) {
    const std::size_t n = node_count(p);
    const C* chars = node_chars<V, C>(p, n);
    node_header* const* kids = node_children<V, C>(p, n);
    auto copy = value_copier<V>(p);
    auto* init = node_has(p) ? &copy : nullptr;
    if (c == nullptr) {
      return index<V>::adopt(node_make<V, C, false>(
          nullptr, n, [chars](std::size_t i) -> const C& { return chars[i]; },
          [&](std::size_t i) -> const node_header* { return i == pos ? child : kids[i]; }, init));
    }
    return index<V>::adopt(node_make<V, C, false>(
        nullptr, n + 1,
        [&](std::size_t i) -> const C& {
          return i < pos ? chars[i] : i == pos ? *c : chars[i - 1];
        },
        [&](std::size_t i) -> const node_header* {
          return i < pos ? kids[i] : i == pos ? child : kids[i - 1];
        },
        init));
  }

  // A copy of p without child `pos`; the shared empty node when nothing would be left.
  template <class V>
  static index<V> without_child(const node_header* p, std::size_t pos) {
    const std::size_t n = node_count(p);
    if (n == 1 && !node_has(p)) return index<V>();
    const C* chars = node_chars<V, C>(p, n);
    node_header* const* kids = node_children<V, C>(p, n);
    auto copy = value_copier<V>(p);
    auto* init = node_has(p) ? &copy : nullptr;
    return index<V>::adopt(node_make<V, C, false>(
        nullptr, n - 1, [&](std::size_t i) -> const C& { return chars[i < pos ? i : i + 1]; },
        [&](std::size_t i) -> const node_header* { return kids[i < pos ? i : i + 1]; }, init));
  }
};

}  // namespace tolvex::detail
