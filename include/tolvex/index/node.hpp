// Storage of the index trie: immutable, reference-counted nodes of one variable-size record.
//
// A node is laid out as one block:
//
//   node_header   refs (atomic, 4 bytes) and meta (4 bytes)
//   [count word]  8 bytes, only for nodes with 255 or more children
//   chars         count characters, chars[i] labels the edge to children[i], in increasing
//                 char_compare order
//   [value]       one V, only when a key ends here
//   children      count pointers to the child nodes
//
// so that a node with one child and an int value takes 24 bytes, a leaf with an int value 16.
// The walk over the trie waits on memory, so node size and locality decide retrieval speed:
// the characters, which the walk reads at every node it enters, sit at a fixed offset right
// after the header, in the same cache line; the child pointers are read only for the edges
// the walk takes.
//
// Nodes built in bulk (of_list) are carved from chunks owned by no one but their nodes: a chunk
// counts its live nodes (plus one while its builder still allocates from it) and frees itself
// when the count drops to zero. A node finds its chunk from an offset kept in its meta word, so
// chunks need no special alignment. Nodes made by single updates come from operator new, which
// reuses memory well under churn. Both paths are safe for concurrent allocation and release;
// nothing here is global and mutable except reference counts.
//
// Releasing a node never recurses: the dead nodes are walked by pointer reversal, storing the
// way back in the child slots and the resume position in the refs word of the dead nodes, which
// nobody else can see any more. Release therefore needs no memory and no stack, whatever the
// depth of the trie.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace tolvex::detail {

/// The fixed head of every trie node. `refs` counts the handles and parent slots that hold the
/// node; `meta` packs the child count, flags and the chunk offset (see the node_* constants).
struct node_header {
  mutable std::atomic<std::uint32_t> refs;
  std::uint32_t meta;
};

/// Low byte of meta: the child count, or node_wide when the count sits in the next word.
inline constexpr std::uint32_t node_count_mask = 0xffu;
inline constexpr std::uint32_t node_wide = 0xffu;
/// A key ends at this node: the value is present.
inline constexpr std::uint32_t node_has_value = 1u << 8;
/// Never counted, never freed (the shared empty node).
inline constexpr std::uint32_t node_immortal = 1u << 9;
/// Carved from a node_chunk; bits node_offset_shift.. hold the offset to it in 8-byte units.
inline constexpr std::uint32_t node_in_chunk = 1u << 10;
inline constexpr int node_offset_shift = 11;
/// 21 offset bits of 8-byte units: chunks stay below 16 MiB.
inline constexpr std::size_t node_chunk_max = std::size_t{1} << 20;
/// Nodes larger than this are allocated on their own, so that they waste no chunk.
inline constexpr std::size_t node_chunk_max_node = node_chunk_max / 4;

/// The one empty node, shared by every instance and every value type: no value, no children.
constinit inline node_header empty_node{{0}, node_immortal};

/// A block of bulk-built nodes. `live` is the number of nodes alive in it, plus one while the
/// node_arena that fills it still holds it; whoever drops it to zero frees the block.
struct node_chunk {
  std::atomic<std::size_t> live;
  std::size_t bytes;  // the whole block, header included
  std::size_t align;
};

/// Offsets and sizes of the parts of a node holding values of type V and characters of type C.
template <class V, class C>
struct node_layout {
  static constexpr std::size_t align =
      std::max({alignof(node_header), alignof(node_header*), alignof(V), alignof(C)});
  static_assert(align >= 8 && align % 8 == 0, "chunk offsets count 8-byte units");

  static constexpr std::size_t up(std::size_t x, std::size_t a) noexcept {
    return (x + a - 1) / a * a;
  }
  /// Where the characters start: after the header and, for wide nodes, the count word.
  static constexpr std::size_t chars_offset(std::size_t n) noexcept {
    return up(n >= node_wide ? 16 : 8, alignof(C));
  }
  static constexpr std::size_t value_offset(std::size_t n) noexcept {
    return up(chars_offset(n) + n * sizeof(C), alignof(V));
  }
  static constexpr std::size_t children_offset(std::size_t n, bool has_value) noexcept {
    if constexpr (alignof(V) <= alignof(node_header*)) {
      // Without a value, rounding up to alignof(V) first changes nothing: one expression
      // for both cases, no branch.
      return up(value_offset(n) + (has_value ? sizeof(V) : 0), alignof(node_header*));
    } else {
      return up(has_value ? value_offset(n) + sizeof(V) : chars_offset(n) + n * sizeof(C),
                alignof(node_header*));
    }
  }
  static constexpr std::size_t size(std::size_t n, bool has_value) noexcept {
    return up(children_offset(n, has_value) + n * sizeof(node_header*), align);
  }
};

/// Number of children of h. O(1).
inline std::size_t node_count(const node_header* h) noexcept {
  const std::uint32_t c = h->meta & node_count_mask;
  if (c != node_wide) return c;
  return static_cast<std::size_t>(
      *std::launder(reinterpret_cast<const std::uint64_t*>(reinterpret_cast<const char*>(h) + 8)));
}

inline bool node_has(const node_header* h) noexcept { return (h->meta & node_has_value) != 0; }

/// The child pointers of h (n = node_count(h) of them).
template <class V, class C>
node_header* const* node_children(const node_header* h, std::size_t n) noexcept {
  return std::launder(reinterpret_cast<node_header* const*>(
      reinterpret_cast<const char*>(h) + node_layout<V, C>::children_offset(n, node_has(h))));
}

/// The value of h; h must hold one.
template <class V, class C>
const V& node_value(const node_header* h) noexcept {
  return *std::launder(reinterpret_cast<const V*>(reinterpret_cast<const char*>(h) +
                                                  node_layout<V, C>::value_offset(node_count(h))));
}

/// The edge characters of h (n = node_count(h) of them), in increasing char_compare order.
template <class V, class C>
const C* node_chars(const node_header* h, std::size_t n) noexcept {
  return std::launder(reinterpret_cast<const C*>(reinterpret_cast<const char*>(h) +
                                                 node_layout<V, C>::chars_offset(n)));
}

inline void node_retain(const node_header* h) noexcept {
  if (!(h->meta & node_immortal)) h->refs.fetch_add(1, std::memory_order_relaxed);
}

inline void free_chunk(node_chunk* c) noexcept {
  const std::size_t align = c->align;
  c->~node_chunk();
  ::operator delete(static_cast<void*>(c), std::align_val_t(align));
}

/// Drops the builder's hold on a chunk.
inline void chunk_unhold(node_chunk* c) noexcept {
  if (c->live.fetch_sub(1, std::memory_order_acq_rel) == 1) free_chunk(c);
}

template <class V, class C>
void* node_heap_allocate(std::size_t bytes) {
  if constexpr (node_layout<V, C>::align > __STDCPP_DEFAULT_NEW_ALIGNMENT__) {
    return ::operator new(bytes, std::align_val_t(node_layout<V, C>::align));
  } else {
    return ::operator new(bytes);
  }
}

/// Returns the memory of a node whose parts are already destroyed (meta still intact).
template <class V, class C>
void node_free_memory(node_header* h) noexcept {
  const std::uint32_t meta = h->meta;
  if (meta & node_in_chunk) {
    auto* chunk = reinterpret_cast<node_chunk*>(reinterpret_cast<char*>(h) -
                                                std::size_t{meta >> node_offset_shift} * 8);
    h->~node_header();
    chunk_unhold(chunk);
    return;
  }
  h->~node_header();
  if constexpr (node_layout<V, C>::align > __STDCPP_DEFAULT_NEW_ALIGNMENT__) {
    ::operator delete(static_cast<void*>(h), std::align_val_t(node_layout<V, C>::align));
  } else {
    ::operator delete(static_cast<void*>(h));
  }
}

/// Destroys the value and characters of a dead node and returns its memory. The child slots
/// are not looked at.
template <class V, class C>
void node_destroy(node_header* h) noexcept {
  const std::size_t n = node_count(h);
  const bool hv = node_has(h);
  if constexpr (!std::is_trivially_destructible_v<C>) {
    C* chars = const_cast<C*>(node_chars<V, C>(h, n));
    std::destroy_n(chars, n);
  }
  if constexpr (!std::is_trivially_destructible_v<V>) {
    if (hv) const_cast<V*>(&node_value<V, C>(h))->~V();
  }
  node_free_memory<V, C>(h);
}

/// Frees `root`, whose count has just dropped to zero, and every node that thereby dies.
///
/// Pointer reversal: on the way down from a dead node P into its dying child at slot i, slot i
/// of P receives P's own parent and P's refs word the resume position i + 1; on the way back
/// both are read again. Dead nodes are invisible to every other thread, so the writes are safe;
/// the acq_rel decrement that found each dead orders them after the last use elsewhere.
template <class V, class C>
void node_release_dead(node_header* root) noexcept {
  node_header* parent = nullptr;
  node_header* cur = root;
  std::size_t i = 0;
  for (;;) {
    const std::size_t n = node_count(cur);
    auto** slots = const_cast<node_header**>(node_children<V, C>(cur, n));
    node_header* down = nullptr;
    while (i < n) {
      node_header* child = slots[i++];
      if (child->meta & node_immortal) continue;
      if (child->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        down = child;
        break;
      }
    }
    if (down != nullptr) {
      slots[i - 1] = parent;
      // A resume position fits 32 bits: 2^32 children would take 32 GiB of slots.
      cur->refs.store(static_cast<std::uint32_t>(i), std::memory_order_relaxed);
      parent = cur;
      cur = down;
      i = 0;
      continue;
    }
    node_destroy<V, C>(cur);
    if (parent == nullptr) return;
    cur = parent;
    i = cur->refs.load(std::memory_order_relaxed);
    auto** up_slots = const_cast<node_header**>(node_children<V, C>(cur, node_count(cur)));
    parent = up_slots[i - 1];
  }
}

/// Drops one reference to h, freeing what only it held.
template <class V, class C>
void node_release(const node_header* h) noexcept {
  if (h->meta & node_immortal) return;
  if (h->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    node_release_dead<V, C>(const_cast<node_header*>(h));
  }
}

/// Carves bulk-built nodes from chunks that grow geometrically up to node_chunk_max. Owned by
/// one builder (one thread); the nodes it hands out live on their own after it is gone.
class node_arena {
 public:
  node_arena(std::size_t expected_bytes, std::size_t align) noexcept
      : align_(std::max(align, alignof(node_chunk))),
        next_size_(std::clamp<std::size_t>(expected_bytes, 256, node_chunk_max)) {}
  node_arena(const node_arena&) = delete;
  node_arena& operator=(const node_arena&) = delete;
  ~node_arena() {
    if (chunk_ != nullptr) chunk_unhold(chunk_);
  }

  /// Memory for a node of `bytes` (a multiple of the node alignment), and the meta bits that
  /// lead back to its chunk. Throws std::bad_alloc.
  void* allocate(std::size_t bytes, std::uint32_t& meta_bits) {
    if (bytes > node_chunk_max_node) {
      meta_bits = 0;
      return nullptr;  // the caller allocates it on its own
    }
    if (chunk_ == nullptr || static_cast<std::size_t>(end_ - next_) < bytes) refill(bytes);
    // Carved from the top down: nodes made later (parents) lie below the ones made before
    // them (their children), so a walk from the root runs towards higher addresses.
    end_ -= bytes;
    char* p = end_;
    chunk_->live.fetch_add(1, std::memory_order_relaxed);
    meta_bits =
        node_in_chunk | static_cast<std::uint32_t>(
                            static_cast<std::size_t>(p - reinterpret_cast<char*>(chunk_)) / 8)
                            << node_offset_shift;
    return p;
  }

 private:
  void refill(std::size_t bytes) {
    const std::size_t head = (sizeof(node_chunk) + align_ - 1) / align_ * align_;
    const std::size_t size = std::max(next_size_, head + bytes);
    void* mem = ::operator new(size, std::align_val_t(align_));
    if (chunk_ != nullptr) chunk_unhold(chunk_);
    chunk_ = ::new (mem) node_chunk{{1}, size, align_};
    next_ = static_cast<char*>(mem) + head;
    end_ = static_cast<char*>(mem) + size;
    next_size_ = std::min(next_size_ * 2, node_chunk_max);
  }

  std::size_t align_;
  std::size_t next_size_;
  node_chunk* chunk_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
};

/// Builds a node with `n` children and, when `init_value` is not null, a value.
///
/// `char_at(i)` gives the character of edge i and `child_at(i)` its child (given in increasing
/// char_compare order); `init_value(void*)` constructs the value in place. The new node holds
/// a reference to every child (a new one, or with Adopt the caller's, handed over on success)
/// and starts with one reference, the caller's. Nodes come from `arena` when given, else from
/// operator new. If a character or value copy throws, nothing is left allocated and no
/// reference is taken or handed over (strong guarantee).
template <class V, class C, bool Adopt, class CharAt, class ChildAt, class InitValue>
node_header* node_make(node_arena* arena, std::size_t n, CharAt&& char_at, ChildAt&& child_at,
                       InitValue* init_value) {
  using layout = node_layout<V, C>;
  const bool hv = init_value != nullptr;
  const std::size_t bytes = layout::size(n, hv);
  std::uint32_t meta = 0;
  void* mem = arena != nullptr ? arena->allocate(bytes, meta) : nullptr;
  if (mem == nullptr) mem = node_heap_allocate<V, C>(bytes);
  meta |= (n >= node_wide ? node_wide : static_cast<std::uint32_t>(n)) | (hv ? node_has_value : 0);
  auto* h = ::new (mem) node_header{{1}, meta};
  char* base = static_cast<char*>(mem);
  if (n >= node_wide) ::new (base + 8) std::uint64_t(n);
  C* chars = reinterpret_cast<C*>(base + layout::chars_offset(n));
  std::size_t made = 0;
  try {
    for (; made < n; ++made) ::new (static_cast<void*>(chars + made)) C(char_at(made));
    if (hv) (*init_value)(static_cast<void*>(base + layout::value_offset(n)));
  } catch (...) {
    std::destroy_n(std::launder(chars), made);
    node_free_memory<V, C>(h);
    throw;
  }
  auto** slots = reinterpret_cast<node_header**>(base + layout::children_offset(n, hv));
  for (std::size_t i = 0; i < n; ++i) {
    const node_header* child = child_at(i);
    if constexpr (!Adopt) node_retain(child);
    slots[i] = const_cast<node_header*>(child);
  }
  return h;
}

}  // namespace tolvex::detail
