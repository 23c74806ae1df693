// Approximate retrieval: walking the trie and a Levenshtein automaton in step.
//
// Order. A node's value comes first, then its child subtrees from the greatest edge character
// down; a subtree is entered whenever the automaton has a move on its edge, and a value is
// reported when its node is reached in a final state.
//
// Two forms produce that order:
//   - retrieve_step, the deferred step of the lazy sequence: asked, it makes one deferred step
//     per child the automaton can enter (the greatest ends up first) and answers the node's
//     value, if reported, in front of them. It allocates a step per entered child; it is what
//     asking a seq element by element costs.
//   - retrieve_walker, the fast path behind retrieve_l, range-for and list_of_seq: a
//     depth-first walk on an explicit stack of frames (node, state, next child), one frame per
//     level. An automaton path is at most pattern length + limit characters long (every
//     character moves the minimum of consumed + edits up by one), so the stack never holds
//     more than pattern length + limit + 1 frames; it is reserved once per query and nothing is
//     allocated per visited node.
// The tests compare both forms on random indexes.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "../automata/automaton.hpp"
#include "../automata/construction.hpp"
#include "../seq.hpp"
#include "../traits.hpp"
#include "node.hpp"
#include "trie.hpp"

namespace tolvex::detail {

/// What a retrieval keeps alive: the index (so its nodes) and the automaton.
template <StringTraits T, class V>
struct retrieve_context {
  trie<T, V> keep;
  automaton<typename T::char_type> a;
  std::size_t depth;  // frames a walk can need: pattern length + limit + 1
};

/// Depth-first walk of one subtree under the automaton, yielding the reported values in
/// retrieval order. The subtree's own root is the caller's to report.
template <StringTraits T, class V>
class retrieve_walker {
  using C = typename T::char_type;
  using ops = construction<T>;

 public:
  explicit retrieve_walker(const automaton<C>& a, std::size_t depth_hint) : a_(&a) {
    stack_.reserve(depth_hint);
  }

  /// Starts the walk below h, which the automaton reached in state s.
  void start(const node_header* h, int s) {
    stack_.clear();
    push(h, s);
  }

  /// The next reported value below the start node, or nullptr at the end. The pointer refers
  /// into the index and stays valid while the index lives.
  const V* next() {
    while (!stack_.empty()) {
      frame& f = stack_.back();
      if (f.pos == 0) {
        stack_.pop_back();
        continue;
      }
      const std::size_t i = --f.pos;
      const int t = ops::step(*a_, f.state, f.chars[i]);
      if (t < 0) continue;
      const node_header* child = f.kids[i];
      const bool report = node_has(child) && ops::accepts(*a_, t);
      if (node_count(child) != 0) push(child, t);  // may move f; not used below
      if (report) return &node_value<V, C>(child);
    }
    return nullptr;
  }

 private:
  struct frame {
    const C* chars;
    node_header* const* kids;
    std::size_t pos;  // children [0, pos) are still to be tried, from pos - 1 down
    int state;
  };

  void push(const node_header* h, int s) {
    const std::size_t n = node_count(h);
    stack_.push_back({node_chars<V, C>(h, n), node_children(h, n), n, s});
  }

  const automaton<C>* a_;
  std::vector<frame> stack_;
};

/// The deferred step traverse(node, state, rest) of a retrieval sequence.
template <StringTraits T, class V>
class retrieve_step final : public seq_impl<V> {
  using C = typename T::char_type;
  using ops = construction<T>;
  using context = retrieve_context<T, V>;

 public:
  retrieve_step(std::shared_ptr<const context> ctx, const node_header* node, int state,
                std::shared_ptr<const retrieve_step> rest) noexcept
      : ctx_(std::move(ctx)), node_(node), state_(state), rest_(std::move(rest)) {}

  // A rest chain can be as long as the number of pending siblings; unlink it iteratively.
  ~retrieve_step() override {
    std::shared_ptr<const retrieve_step> r = std::move(rest_);
    while (r && r.use_count() == 1) {
      std::shared_ptr<const retrieve_step> next = std::move(r->rest_);
      r = std::move(next);
    }
  }

  /// Asks the step. Runs as a loop over the chain of steps that report nothing, so a long
  /// key without values on the way costs no stack.
  std::optional<std::pair<V, seq<V>>> ask() const override {
    const automaton<C>& a = ctx_->a;
    const retrieve_step* cur = this;
    std::shared_ptr<const retrieve_step> hold;  // keeps cur alive once it is not `this`
    for (;;) {
      std::shared_ptr<const retrieve_step> r = cur->rest_;
      const std::size_t n = node_count(cur->node_);
      const C* chars = node_chars<V, C>(cur->node_, n);
      node_header* const* kids = node_children(cur->node_, n);
      for (std::size_t i = 0; i < n; ++i) {
        const int t = ops::step(a, cur->state_, chars[i]);
        if (t >= 0) r = std::make_shared<const retrieve_step>(cur->ctx_, kids[i], t, std::move(r));
      }
      if (node_has(cur->node_) && ops::accepts(a, cur->state_)) {
        return std::pair<V, seq<V>>(node_value<V, C>(cur->node_), as_seq(std::move(r)));
      }
      if (!r) return std::nullopt;
      hold = std::move(r);
      cur = hold.get();
    }
  }

  std::unique_ptr<seq_cursor<V>> open() const override {
    return std::make_unique<cursor>(ctx_, node_, state_, rest_);
  }

  static seq<V> as_seq(std::shared_ptr<const retrieve_step> s) {
    if (!s) return seq<V>();
    return seq<V>(std::shared_ptr<const seq_impl<V>>(std::move(s)));
  }

 private:
  // The fast reader of a sequence from one step on: the walk of the step's subtree, then of
  // each step of its rest chain in turn.
  class cursor final : public seq_cursor<V> {
   public:
    cursor(std::shared_ptr<const context> ctx, const node_header* node, int state,
           std::shared_ptr<const retrieve_step> rest)
        : ctx_(std::move(ctx)),
          walker_(ctx_->a, ctx_->depth),
          node_(node),
          state_(state),
          rest_(std::move(rest)) {}

    const V* next() override {
      for (;;) {
        if (node_ != nullptr) {
          const node_header* h = std::exchange(node_, nullptr);
          walker_.start(h, state_);
          if (node_has(h) && ops::accepts(ctx_->a, state_)) return &node_value<V, C>(h);
        }
        if (const V* v = walker_.next()) return v;
        if (!rest_) return nullptr;
        node_ = rest_->node_;
        state_ = rest_->state_;
        std::shared_ptr<const retrieve_step> r = rest_->rest_;
        rest_ = std::move(r);
      }
    }

   private:
    std::shared_ptr<const context> ctx_;
    retrieve_walker<T, V> walker_;
    const node_header* node_;
    int state_;
    std::shared_ptr<const retrieve_step> rest_;
  };

  std::shared_ptr<const context> ctx_;
  const node_header* node_;
  int state_;
  mutable std::shared_ptr<const retrieve_step> rest_;
};

}  // namespace tolvex::detail
