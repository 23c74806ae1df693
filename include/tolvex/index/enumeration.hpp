// Enumeration: every entry of an index with its key rebuilt from the edge characters.
//
// Two orders:
//   - fold order (fold, iter; to_list is its reverse): a node's entry, then its child subtrees
//     in increasing char_compare order;
//   - sequence order (to_seq): a node's entry, then its child subtrees in decreasing order, the
//     order of retrieval.
// Both walks run on an explicit stack of one frame per level plus the path of characters from
// the root, so depth costs heap, not call stack; a key of 10^6 characters is fine. As with
// retrieval, to_seq has a deferred step per child for element-by-element asking and a cursor
// on an explicit stack for iteration, which yield the same pairs.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "../seq.hpp"
#include "../traits.hpp"
#include "node.hpp"
#include "trie.hpp"

namespace tolvex::detail {

/// Calls visit(path, value) for every entry below and at root in fold order; `path` holds the
/// characters from the root to the entry's node.
template <StringTraits T, class V, class Visit>
void enumerate_fold_order(const node_header* root, Visit&& visit) {
  using C = typename T::char_type;
  struct frame {
    const C* chars;
    node_header* const* kids;
    std::size_t pos;
    std::size_t n;
  };
  std::vector<frame> stack;
  std::vector<C> path;
  auto enter = [&](const node_header* h) {
    if (node_has(h)) visit(std::span<const C>(path), node_value<V, C>(h));
    const std::size_t n = node_count(h);
    if (n != 0) stack.push_back({node_chars<V, C>(h, n), node_children<V, C>(h, n), 0, n});
    return n != 0;
  };
  enter(root);
  while (!stack.empty()) {
    frame& f = stack.back();
    if (f.pos == f.n) {
      stack.pop_back();
      if (!path.empty()) path.pop_back();
      continue;
    }
    const std::size_t i = f.pos++;
    const node_header* child = f.kids[i];
    path.push_back(f.chars[i]);
    if (!enter(child)) path.pop_back();  // `f` may dangle after enter; not used again
  }
}

/// A cell of a persistent path: one character and the path above it, shared by siblings.
template <class C>
struct path_cell {
  path_cell(C ch, std::shared_ptr<const path_cell> up) : c(std::move(ch)), parent(std::move(up)) {}
  // Paths are as long as keys; unlink them iteratively.
  ~path_cell() {
    std::shared_ptr<const path_cell> p = std::move(parent);
    while (p && p.use_count() == 1) {
      std::shared_ptr<const path_cell> next = std::move(p->parent);
      p = std::move(next);
    }
  }
  C c;
  mutable std::shared_ptr<const path_cell> parent;
};

/// Root-to-node characters of a persistent path.
template <class C>
std::vector<C> path_chars(const path_cell<C>* p) {
  std::vector<C> out;
  for (; p != nullptr; p = p->parent.get()) out.push_back(p->c);
  std::reverse(out.begin(), out.end());
  return out;
}

/// The deferred step traverse(node, path, rest) of to_seq.
template <StringTraits T, class V>
class enumerate_step final : public seq_impl<std::pair<typename T::string_type, V>> {
  using C = typename T::char_type;
  using S = typename T::string_type;
  using E = std::pair<S, V>;
  using cell = path_cell<C>;

 public:
  enumerate_step(std::shared_ptr<const trie<T, V>> keep, const node_header* node,
                 std::shared_ptr<const cell> path,
                 std::shared_ptr<const enumerate_step> rest) noexcept
      : keep_(std::move(keep)), node_(node), path_(std::move(path)), rest_(std::move(rest)) {}

  ~enumerate_step() override {
    std::shared_ptr<const enumerate_step> r = std::move(rest_);
    while (r && r.use_count() == 1) {
      std::shared_ptr<const enumerate_step> next = std::move(r->rest_);
      r = std::move(next);
    }
  }

  /// Asks the step; a loop, not recursion, over steps whose nodes hold no value.
  std::optional<std::pair<E, seq<E>>> ask() const override {
    const enumerate_step* cur = this;
    std::shared_ptr<const enumerate_step> hold;
    for (;;) {
      std::shared_ptr<const enumerate_step> r = cur->rest_;
      const std::size_t n = node_count(cur->node_);
      const C* chars = node_chars<V, C>(cur->node_, n);
      node_header* const* kids = node_children<V, C>(cur->node_, n);
      for (std::size_t i = 0; i < n; ++i) {
        r = std::make_shared<const enumerate_step>(
            cur->keep_, kids[i], std::make_shared<const cell>(chars[i], cur->path_), std::move(r));
      }
      if (node_has(cur->node_)) {
        const std::vector<C> key = path_chars(cur->path_.get());
        return std::pair<E, seq<E>>(
            E(T::of_list(std::span<const C>(key)), node_value<V, C>(cur->node_)),
            as_seq(std::move(r)));
      }
      if (!r) return std::nullopt;
      hold = std::move(r);
      cur = hold.get();
    }
  }

  std::unique_ptr<seq_cursor<E>> open() const override {
    return std::make_unique<cursor>(keep_, node_, path_, rest_);
  }

  static seq<E> as_seq(std::shared_ptr<const enumerate_step> s) {
    if (!s) return seq<E>();
    return seq<E>(std::shared_ptr<const seq_impl<E>>(std::move(s)));
  }

 private:
  // Walks the step's subtree in sequence order on an explicit stack, then each step of the
  // rest chain in turn.
  class cursor final : public seq_cursor<E> {
   public:
    cursor(std::shared_ptr<const trie<T, V>> keep, const node_header* node,
           std::shared_ptr<const cell> path, std::shared_ptr<const enumerate_step> rest)
        : keep_(std::move(keep)),
          node_(node),
          path_cell_(std::move(path)),
          rest_(std::move(rest)) {}

    const E* next() override {
      for (;;) {
        if (node_ != nullptr) {
          const node_header* h = std::exchange(node_, nullptr);
          path_ = path_chars(path_cell_.get());
          path_cell_.reset();
          stack_.clear();
          if (const E* e = enter(h)) return e;
        }
        while (!stack_.empty()) {
          frame& f = stack_.back();
          if (f.pos == 0) {
            stack_.pop_back();
            // The start node's frame is the bottom one; its characters belong to the prefix.
            if (!stack_.empty()) path_.pop_back();
            continue;
          }
          const std::size_t i = --f.pos;
          const node_header* child = f.kids[i];
          path_.push_back(f.chars[i]);
          if (const E* e = enter(child)) return e;  // `f` may dangle; not used again
        }
        if (!rest_) return nullptr;
        node_ = rest_->node_;
        path_cell_ = rest_->path_;
        std::shared_ptr<const enumerate_step> r = rest_->rest_;
        rest_ = std::move(r);
      }
    }

   private:
    struct frame {
      const C* chars;
      node_header* const* kids;
      std::size_t pos;
    };

    // Reports h's entry, if any, with path_ as its key, and pushes h's frame when h has
    // children. A leaf below the start node gets no frame, so its character goes at once.
    const E* enter(const node_header* h) {
      const std::size_t n = node_count(h);
      const bool has = node_has(h);
      if (n != 0) {
        stack_.push_back({node_chars<V, C>(h, n), node_children<V, C>(h, n), n});
      } else if (!stack_.empty()) {
        // A leaf below the start node: report it and drop its character at once.
        if (has) {
          current_.emplace(T::of_list(std::span<const C>(path_)), node_value<V, C>(h));
        }
        path_.pop_back();
        return has ? &*current_ : nullptr;
      }
      if (!has) return nullptr;
      current_.emplace(T::of_list(std::span<const C>(path_)), node_value<V, C>(h));
      return &*current_;
    }

    std::shared_ptr<const trie<T, V>> keep_;
    const node_header* node_;
    std::shared_ptr<const cell> path_cell_;
    std::shared_ptr<const enumerate_step> rest_;
    std::vector<frame> stack_;
    std::vector<C> path_;
    std::optional<E> current_;
  };

  std::shared_ptr<const trie<T, V>> keep_;
  const node_header* node_;
  std::shared_ptr<const cell> path_;
  mutable std::shared_ptr<const enumerate_step> rest_;
};

}  // namespace tolvex::detail
