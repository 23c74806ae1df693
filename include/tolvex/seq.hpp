// seq<E>: an immutable, re-askable on-demand sequence.
//
// Asking a seq yields either the end or one element with the rest of the sequence, itself a
// seq. The sequences the library returns compute from immutable data and keep no cursor, so
// asking the same value twice gives the same answer.
//
// Iteration (range-for, list_of_seq) goes through a cursor. The generic cursor asks one step
// after the other. A producer that can do better (an index retrieval walks the trie on an
// explicit stack instead of allocating one deferred step per node) supplies its own cursor,
// which must yield the same elements in the same order as asking would.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace tolvex {

template <class E>
class seq;

namespace detail {

/// A one-pass reader over a sequence. `next()` returns the next element, or nullptr at the
/// end; the pointer stays valid until the following call.
template <class E>
class seq_cursor {
 public:
  virtual ~seq_cursor() = default;
  virtual const E* next() = 0;
};

/// The shared body of a seq.
template <class E>
class seq_impl {
 public:
  virtual ~seq_impl() = default;
  virtual std::optional<std::pair<E, seq<E>>> ask() const = 0;
  /// A cursor over the sequence from here; null to use the generic one.
  virtual std::unique_ptr<seq_cursor<E>> open() const { return nullptr; }
};

template <class E, class F>
class seq_fn final : public seq_impl<E> {
 public:
  explicit seq_fn(F f) : f_(std::move(f)) {}
  std::optional<std::pair<E, seq<E>>> ask() const override { return f_(); }

 private:
  F f_;
};

}  // namespace detail

/// An on-demand sequence of E. Copying is cheap (a shared, immutable body).
///
///   seq<int> s = ...;
///   for (int v : s) use(v);                 // walks the sequence
///   auto first = s();                       // std::nullopt, or {element, rest}
template <class E>
class seq {
 public:
  using value_type = E;
  /// nullopt: the end; else an element and the rest.
  using node = std::optional<std::pair<E, seq>>;

  /// The empty sequence.
  seq() = default;

  /// Wraps any callable `ask() -> node`. It must give the same answer each time it is asked
  /// for the sequence to be re-askable.
  template <class F>
  requires(!std::is_same_v<std::remove_cvref_t<F>, seq> &&
           std::is_invocable_v<const F&>) explicit seq(F ask)
      : impl_(std::make_shared<const detail::seq_fn<E, F>>(std::move(ask))) {}

  /// For producers that bring their own cursor.
  explicit seq(std::shared_ptr<const detail::seq_impl<E>> impl) : impl_(std::move(impl)) {}

  /// Asks the sequence for its first step.
  node operator()() const {
    if (!impl_) return std::nullopt;
    return impl_->ask();
  }

  class iterator;
  struct sentinel {};

  iterator begin() const { return iterator(open_cursor()); }
  sentinel end() const { return {}; }

  /// The cursor over this sequence: the producer's own, else one that asks step by step.
  std::unique_ptr<detail::seq_cursor<E>> open_cursor() const {
    if (impl_) {
      if (auto c = impl_->open()) return c;
    }
    return std::make_unique<asking_cursor>(*this);
  }

 private:
  // Asks each step exactly once, holding the current step.
  class asking_cursor final : public detail::seq_cursor<E> {
   public:
    explicit asking_cursor(seq s) : rest_(std::move(s)) {}
    const E* next() override {
      current_ = rest_();
      if (!current_) return nullptr;
      rest_ = current_->second;
      return &current_->first;
    }

   private:
    seq rest_;
    node current_;
  };

  std::shared_ptr<const detail::seq_impl<E>> impl_;
};

/// An input iterator over a seq; move-only (a cursor is one pass).
template <class E>
class seq<E>::iterator {
 public:
  using value_type = E;
  using difference_type = std::ptrdiff_t;
  using reference = const E&;
  using pointer = const E*;
  using iterator_concept = std::input_iterator_tag;

  iterator() = default;
  explicit iterator(std::unique_ptr<detail::seq_cursor<E>> c) : cursor_(std::move(c)) {
    current_ = cursor_->next();
  }
  iterator(iterator&&) noexcept = default;
  iterator& operator=(iterator&&) noexcept = default;

  const E& operator*() const { return *current_; }
  const E* operator->() const { return current_; }
  iterator& operator++() {
    current_ = cursor_->next();
    return *this;
  }
  void operator++(int) { ++*this; }
  friend bool operator==(const iterator& it, sentinel) { return it.current_ == nullptr; }

 private:
  std::unique_ptr<detail::seq_cursor<E>> cursor_;
  const E* current_ = nullptr;
};

/// All elements of a (finite) sequence, in sequence order.
template <class E>
std::vector<E> list_of_seq(const seq<E>& s) {
  std::vector<E> out;
  auto cursor = s.open_cursor();
  while (const E* e = cursor->next()) out.push_back(*e);
  return out;
}

}  // namespace tolvex
