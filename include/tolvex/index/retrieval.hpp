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
//     depth-first walk on an explicit stack of pending (node, state) pairs. An automaton path
//     is at most pattern length + limit characters long (every character moves the minimum of
//     consumed + edits up by one), so the stack holds the pending siblings of at most pattern
//     length + limit + 1 levels; it is reserved once per query and grows at most a few times,
//     never per visited node.
// The tests compare both forms on random indexes.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "../automata/automaton.hpp"
#include "../automata/construction.hpp"
#include "../seq.hpp"
#include "../traits.hpp"
#include "node.hpp"
#include "trie.hpp"

namespace tolvex::detail {

/// The moves of a byte-string automaton as one flat table, for the walk's inner loop: a row
/// per state, a column per character class, and a last column holding the state's final flag.
/// Explicit transitions exist only on pattern bytes, so the classes are the distinct pattern
/// bytes plus one for every other byte (whose move is the otherwise target). An entry names its
/// target by the offset of the target's row (-1: no move), so a step is two loads and no
/// multiply. Built in O(states x classes) steps; skipped (empty) when it would exceed 2^20
/// entries, as for very long patterns.
class byte_step_table {
 public:
  byte_step_table() = default;
  byte_step_table(const automaton<char>& a, const std::string& pattern) {
    std::array<std::uint16_t, 256> cls{};
    std::vector<unsigned char> members;
    for (char c : pattern) {
      const auto b = static_cast<unsigned char>(c);
      if (cls[b] == 0) {
        members.push_back(b);
        cls[b] = static_cast<std::uint16_t>(members.size());
      }
    }
    const std::size_t classes = members.size() + 1;
    width_ = classes + 1;
    const auto states = static_cast<std::size_t>(a.len());
    if (states * width_ > (std::size_t{1} << 20)) return;
    bool all_bytes = true;  // every byte is a pattern byte: class 0 has no members
    for (std::size_t b = 0; b < 256; ++b) {
      cls_[b] = cls[b];
      if (cls[b] == 0) all_bytes = false;
    }
    next_.resize(states * width_);
    const int w = static_cast<int>(width_);
    for (std::size_t s = 0; s < states; ++s) {
      const auto& rec = a.states_[s];
      int* row = next_.data() + s * width_;
      // Bytes without a pair of their own take the otherwise target. Pairs are on pattern
      // bytes; they are written back to front, so that the front one wins as in a step.
      const int other = rec.otherwise < 0 ? -1 : rec.otherwise * w;
      std::fill(row, row + classes, other);
      if (all_bytes) row[0] = -1;
      for (std::uint32_t q = rec.end; q-- > rec.begin;) {
        const auto& [c, t] = a.pairs_[q];
        const std::uint16_t k = cls[static_cast<unsigned char>(c)];
        if (k != 0) row[k] = t < 0 ? -1 : t * w;
      }
      row[classes] = rec.final != 0 ? 1 : 0;
    }
  }

  bool usable() const noexcept { return !next_.empty(); }
  /// The row offset of state s.
  int offset(int s) const noexcept { return s * static_cast<int>(width_); }
  /// The row at offset o.
  const int* row_at(int o) const noexcept { return next_.data() + o; }
  const std::uint16_t* classes() const noexcept { return cls_.data(); }
  /// The column of a row that holds the state's final flag.
  std::size_t final_column() const noexcept { return width_ - 1; }
  /// Whether the state whose row is `row` is final.
  bool row_accepts(const int* row) const noexcept { return row[final_column()] != 0; }
  int step(int s, char c) const noexcept {
    const int t = row_at(offset(s))[cls_[static_cast<unsigned char>(c)]];
    return t < 0 ? -1 : t / static_cast<int>(width_);
  }
  bool accepts(int s) const noexcept { return row_accepts(row_at(offset(s))); }

 private:
  std::array<std::uint16_t, 256> cls_{};
  std::size_t width_ = 2;
  std::vector<int> next_;
};

/// The automaton of a query and, for byte strings, its step table.
template <StringTraits T>
struct query_automaton {
  using C = typename T::char_type;
  using ops = construction<T>;

  query_automaton(int limit, const typename T::string_type& pattern)
      : a(ops::of_string(limit, pattern)),
        depth(static_cast<std::size_t>(T::length(pattern)) + static_cast<std::size_t>(limit) + 1) {
    if constexpr (is_byte_traits<T>) table = byte_step_table(a, pattern);
  }

  int step(int s, const C& c) const {
    if constexpr (is_byte_traits<T>) {
      if (table.usable()) return table.step(s, c);
    }
    return ops::step(a, s, c);
  }
  bool accepts(int s) const noexcept {
    if constexpr (is_byte_traits<T>) {
      if (table.usable()) return table.accepts(s);
    }
    return ops::accepts(a, s);
  }

  automaton<C> a;
  std::size_t depth;  // levels a walk can descend: pattern length + limit + 1
  struct none {};
  std::conditional_t<is_byte_traits<T>, byte_step_table, none> table{};
};

/// What a retrieval keeps alive: the index (so its nodes) and the automaton.
template <StringTraits T, class V>
struct retrieve_context {
  trie<T, V> keep;
  query_automaton<T> q;
};

/// Hints that h is about to be read. The walk waits on memory; issuing the loads of all the
/// children it will enter at once lets them overlap.
inline void prefetch_node(const node_header* h) noexcept {
#if defined(__GNUC__) || defined(__clang__)
  // Nodes are not line-aligned: a small node (up to 32 bytes, most of them) may straddle two
  // cache lines, so ask for the line of its last byte too.
  __builtin_prefetch(h);
  __builtin_prefetch(reinterpret_cast<const char*>(h) + 31);
#else
  (void)h;
#endif
}

/// Depth-first walk of one subtree under the automaton, yielding the reported values in
/// retrieval order, the subtree's root first.
///
/// The stack holds (node, state) pairs still to enter. Entering a node pushes every child the
/// automaton can enter, in increasing character order (so the greatest is entered next), and
/// prefetches it; then the node's own value is reported if its state is final. The pairs on
/// the stack are the pending siblings along one root path, at most (pattern length + limit +
/// 1) levels of them.
template <StringTraits T, class V>
class retrieve_walker {
  using C = typename T::char_type;
  using ops = construction<T>;

 public:
  explicit retrieve_walker(const query_automaton<T>& q)
      : q_(&q), stack_(std::min<std::size_t>(4 * q.depth + 16, 4096)) {}

  /// Starts the walk at h, which the automaton reached in state s.
  void start(const node_header* h, int s) {
    if constexpr (is_byte_traits<T>) {
      if (q_->table.usable()) s = q_->table.offset(s);
    }
    stack_[0] = {h, s};
    top_ = 1;
  }

  /// The next reported value, or nullptr at the end. The pointer refers into the index and
  /// stays valid while the index lives.
  const V* next() {
    if constexpr (is_byte_traits<T>) {
      if (q_->table.usable()) return next_by_table();
    }
    while (top_ != 0) {
      const item it = stack_[--top_];
      const std::size_t n = node_count(it.node);
      if (n != 0) {
        if (top_ + n > stack_.size()) stack_.resize(std::max(2 * stack_.size(), top_ + n));
        const C* chars = node_chars<V, C>(it.node, n);
        node_header* const* kids = node_children<V, C>(it.node, n);
        item* out = stack_.data() + top_;
        for (std::size_t i = 0; i < n; ++i) {
          const int t = q_->step(it.state, chars[i]);
          if (t < 0) continue;
          prefetch_node(kids[i]);
          *out++ = {kids[i], t};
        }
        top_ = static_cast<std::size_t>(out - stack_.data());
      }
      if (node_has(it.node) && q_->accepts(it.state)) return &node_value<V, C>(it.node);
    }
    return nullptr;
  }

 private:
  // The walk over a byte step table; the stack's states are row offsets.
  const V* next_by_table() {
    const byte_step_table& table = q_->table;
    const std::uint16_t* cls = table.classes();
    const int* rows = table.row_at(0);
    const std::size_t final_column = table.final_column();
    // The stack in locals: the stores of pushed items could otherwise alias the members and
    // force them to be reloaded at every node.
    item* base = stack_.data();
    item* top = base + top_;
    item* cap = base + stack_.size();
    const V* found = nullptr;
    while (top != base) {
      const item it = *--top;
      const int* row = rows + it.state;
      const std::uint32_t meta = it.node->meta;
      std::size_t n = meta & node_count_mask;
      if (n != 0) {
        if (n == node_wide) n = node_count(it.node);
        if (static_cast<std::size_t>(cap - top) < n) {
          const auto used = static_cast<std::size_t>(top - base);
          stack_.resize(std::max(2 * stack_.size(), used + n));
          base = stack_.data();
          top = base + used;
          cap = base + stack_.size();
        }
        const C* chars = node_chars<V, C>(it.node, n);
        node_header* const* kids = nullptr;  // found on the first edge taken
        for (std::size_t i = 0; i < n; ++i) {
          const int t = row[cls[static_cast<unsigned char>(chars[i])]];
          if (t < 0) continue;
          if (kids == nullptr) kids = node_children<V, C>(it.node, n);
          prefetch_node(kids[i]);
          *top++ = {kids[i], t};
        }
      }
      if ((meta & node_has_value) != 0 && row[final_column] != 0) {
        found = &node_value<V, C>(it.node);
        break;
      }
    }
    top_ = static_cast<std::size_t>(top - base);
    return found;
  }

 private:
  struct item {
    const node_header* node;
    int state;
  };

  const query_automaton<T>* q_;
  std::vector<item> stack_;  // [0, top_) in use; resized, never shrunk
  std::size_t top_ = 0;
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
    const query_automaton<T>& q = ctx_->q;
    const retrieve_step* cur = this;
    std::shared_ptr<const retrieve_step> hold;  // keeps cur alive once it is not `this`
    for (;;) {
      std::shared_ptr<const retrieve_step> r = cur->rest_;
      const std::size_t n = node_count(cur->node_);
      const C* chars = node_chars<V, C>(cur->node_, n);
      node_header* const* kids = node_children<V, C>(cur->node_, n);
      for (std::size_t i = 0; i < n; ++i) {
        const int t = q.step(cur->state_, chars[i]);
        if (t >= 0) r = std::make_shared<const retrieve_step>(cur->ctx_, kids[i], t, std::move(r));
      }
      if (node_has(cur->node_) && q.accepts(cur->state_)) {
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
          walker_(ctx_->q),
          node_(node),
          state_(state),
          rest_(std::move(rest)) {}

    const V* next() override {
      for (;;) {
        if (node_ != nullptr) walker_.start(std::exchange(node_, nullptr), state_);
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
