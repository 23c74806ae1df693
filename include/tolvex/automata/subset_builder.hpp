// The fast subset construction behind of_string and of_list.
//
// It produces the automaton of the reference construction (dfa.hpp) state for state: the same
// numbering (depth first, a set numbered when first met), the same lists in the same order,
// the same otherwise targets and final flags. It differs in three ways.
//
// 1. Each set is explored once. The reference explores a set again each time it is reached;
//    a repeat adds nothing, since every set reachable from it already has its number, the
//    store ignores a pair it holds and the other writes repeat earlier values. Here a set is
//    explored right after it is first numbered and never again. As the NDA has no cycle, a set
//    met again is never one still being explored.
//
// 2. The NDA stays implicit and sets are bit vectors. NDA state (i, j) is bit
//    (i - base) * (k + 1) + j of a window whose first row is `base`, the smallest i in the set,
//    so the ascending order of bits is the element order of the sets. A set reached by a string
//    of length t holds only states with |i - t| <= j <= k, hence at most 2k + 1 rows; a
//    successor, before it is moved down to its own smallest row, spans at most 2k + 2 rows of
//    its parent's window. The window has R = min(2k + 2, n + 1) rows, one 64-bit word up to
//    k = 4 and a handful beyond. The transitions become shifts:
//      Char p[i]:        (i, j) -> (i+1, j)        shift by k + 1 on the matching rows;
//      Any, j < k:       (i, j) -> (i, j+1)        shift by 1;
//                        (i, j) -> (i+1, j+1)      shift by k + 2, rows below n;
//      Epsilon, j < k:   (i, j) -> (i+1, j+1)      shift by k + 2, rows below n, closed under
//                                                  it by doubling (saturate).
//    Saturation distributes over union, so the Any targets of a set are saturated once and
//    joined to each character's successor.
//
// 3. Sets are interned in a flat open-addressing table that maps (base, words) to the state
//    number, and the exploration runs on an explicit stack. Every NDA transition raises i + j,
//    so each nested set has a larger smallest i + j than its parent, and the stack never holds
//    more than n + k + 1 frames.
//
// Caps. An automaton for pattern length n and limit k has at least n + k + 1 states (along the
// longest accepted string each step raises the smallest i + j). build_limits caps the states
// (2^24 by default) and the words of the interned sets (2^26, 512 MiB); both are checked
// before anything is allocated, and again as states are added, so an absurd limit fails at
// once with std::length_error instead of exhausting memory.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "../traits.hpp"
#include "automaton.hpp"

namespace tolvex::detail {

/// Caps on one construction; exceeding either throws std::length_error.
struct build_limits {
  /// Most states an automaton may have. A random pattern takes about 4, 15 and 58 states per
  /// character at limits 1, 2 and 3.
  std::size_t max_states = std::size_t{1} << 24;
  /// Most 64-bit words of interned sets (one word per state up to limit 4).
  std::size_t max_set_words = std::size_t{1} << 26;
};

/// What both builders share: the automaton being filled, the caps, and the lists of the states
/// still open. A state's pairs are written one at a time while its successors are explored
/// (each child's whole subtree comes between two of them), so they wait in `pending_` until the
/// state closes, and then move to the pair array in one piece, newest first. (The byte-string
/// construction knows the length of each list when the state opens and lays it out in place
/// then: lay_out.)
template <StringTraits T>
class builder_core {
 public:
  using char_type = typename T::char_type;
  using automaton_type = automaton<char_type>;
  using pair_type = typename automaton_type::pair_type;

 protected:
  // `words`: the size of the set that each state stands for, counted against the set memory cap.
  builder_core(int n, std::size_t states, std::size_t words, const build_limits& caps)
      : caps_(caps), state_cap_(std::min(caps.max_states, caps.max_set_words / words)) {
    // Reserved before the records are made, so that the reservation moves nothing.
    a_.states_.reserve(
        std::max(std::min(states, caps_.max_states), static_cast<std::size_t>(n) + 1));
    a_.states_.resize(static_cast<std::size_t>(n) + 1);
  }

  // A new state; the record array doubles when full, as the store does.
  int add_state() {
    const std::size_t len = static_cast<std::size_t>(a_.len_);
    if (len >= state_cap_) [[unlikely]] {
      over_cap();
    }
    if (len == a_.states_.size()) [[unlikely]] {
      a_.states_.resize(2 * len);
    }
    return a_.len_++;
  }

  // Room for a stack `depth` deep and about `pairs` pairs, so that the usual construction does
  // not reallocate. Byte characters get room for their lists at once, which are laid out in it
  // (lay_out) and copied to the automaton by finish.
  void reserve(std::size_t pairs, std::size_t depth) {
    pairs = std::min<std::size_t>(pairs, UINT32_MAX);
    if constexpr (is_byte_traits<T>) {
      laid_out_ = lay_out_buffer(pairs);
    } else {
      a_.pairs_.reserve(pairs);
      pending_.reserve(std::min<std::size_t>(depth * 2, 1 << 16));
    }
  }

  void set_final(int state, bool final) noexcept {
    a_.states_[static_cast<std::size_t>(state)].final = final ? 1 : 0;
  }
  void set_otherwise(int state, int target) noexcept {
    a_.states_[static_cast<std::size_t>(state)].otherwise = target;
  }

  // Adds (c, target) to the open state whose pairs start at pending_[from], unless an equal
  // pair (plain equality) is there already.
  void add_pair(std::size_t from, const char_type& c, int target) {
    // Byte characters of one state are distinct, so only other bundles can repeat a pair (a
    // char_compare under which a character differs from itself would).
    if constexpr (!is_byte_traits<T>) {
      for (std::size_t q = from; q < pending_.size(); ++q) {
        if (pending_[q].second == target && pending_[q].first == c) return;
      }
    }
    pending_.emplace_back(c, target);
  }

  // Gives `state` the next `count` slots of the pair array as its list (filled in through
  // pairs_at);
  // returns where it starts.
  std::size_t lay_out(int state, std::size_t count) {
    if (laid_ + count > laid_out_.size) [[unlikely]] {
      grow_pairs(count);
    }
    auto& rec = a_.states_[static_cast<std::size_t>(state)];
    rec.begin = static_cast<std::uint32_t>(laid_);
    rec.end = static_cast<std::uint32_t>(laid_ + count);
    laid_ += count;
    return rec.begin;
  }
  // Where pair `at` of the pair array is; moves when the array grows.
  pair_type* pairs_at(std::size_t at) noexcept { return laid_out_.data + at; }
  // Once every pair of a laid-out list is in place: the copies in the record.
  void seal(int state) noexcept { a_.sync_head(state, laid_out_.data); }

  // Closes a state: its pairs were written newest last, the list holds them newest first.
  void close(int state, std::size_t from) {
    auto& rec = a_.states_[static_cast<std::size_t>(state)];
    const std::size_t count = pending_.size() - from;
    auto& out = a_.pairs_;
    if (out.size() + count > UINT32_MAX) {
      throw std::length_error("of_string: automaton exceeds the pair cap");
    }
    rec.begin = static_cast<std::uint32_t>(out.size());
    out.insert(out.end(), pending_.rbegin(),
               pending_.rbegin() + static_cast<std::ptrdiff_t>(count));
    rec.end = static_cast<std::uint32_t>(out.size());
    a_.sync_head(state);
    pending_.resize(from);
  }

  // Lists lie in the pair array in the order in which their states opened or closed; the
  // records say where. A walk reads one record and one short run of pairs per step either way.
  automaton_type finish() {
    if (laid_out_.data != nullptr) a_.pairs_.assign(laid_out_.data, laid_out_.data + laid_);
    const auto end = static_cast<std::uint32_t>(a_.pairs_.size());
    for (std::size_t s = static_cast<std::size_t>(a_.len_); s < a_.states_.size(); ++s) {
      a_.states_[s].begin = a_.states_[s].end = end;
    }
    return std::move(a_);
  }

  int len() const noexcept { return a_.len_; }

  build_limits caps_;
  automaton_type a_;
  std::vector<pair_type> pending_;  // the pairs of the open states, in order of writing

 private:
  // Which cap a state beyond state_cap_ exceeds.
  [[noreturn, gnu::noinline]] void over_cap() const {
    const std::size_t len = static_cast<std::size_t>(a_.len_);
    if (len >= caps_.max_states) {
      throw std::length_error("of_string: automaton exceeds the state cap");
    }
    throw std::length_error("of_string: automaton exceeds the set memory cap");
  }

  // The array doubles (within the 32-bit offsets of the records) when a list does not fit.
  [[gnu::noinline]] void grow_pairs(std::size_t count) {
    if (laid_ + count > UINT32_MAX) {
      throw std::length_error("of_string: automaton exceeds the pair cap");
    }
    lay_out_buffer bigger(
        std::max(laid_ + count, std::min<std::size_t>(2 * laid_out_.size, UINT32_MAX)));
    std::uninitialized_copy_n(laid_out_.data, laid_, bigger.data);
    laid_out_ = std::move(bigger);
  }

  // The pairs of the laid-out lists until finish copies them to the automaton: storage that is
  // written before it is read, so it is neither cleared nor copied beyond what is laid out as it
  // grows. Only byte characters are laid out, whose pairs are made with std::construct_at and
  // need no destruction.
  struct lay_out_buffer {
    lay_out_buffer() = default;
    explicit lay_out_buffer(std::size_t n)
        : data(std::allocator<pair_type>().allocate(n)), size(n) {
      static_assert(std::is_trivially_destructible_v<pair_type>);
    }
    lay_out_buffer(const lay_out_buffer&) = delete;
    lay_out_buffer& operator=(lay_out_buffer&& o) noexcept {
      std::swap(data, o.data);
      std::swap(size, o.size);
      return *this;
    }
    ~lay_out_buffer() {
      if (data != nullptr) std::allocator<pair_type>().deallocate(data, size);
    }
    pair_type* data = nullptr;
    std::size_t size = 0;
  };

  std::size_t state_cap_;  // the most states both caps allow
  std::size_t laid_ = 0;   // pairs laid out so far
  lay_out_buffer laid_out_;
};

/// One construction over the pattern p[0, n) and limit k. Words is the number of 64-bit words
/// of a set when known at compile time, 0 when it is taken at run time.
template <StringTraits T, int Words>
class subset_builder : builder_core<T> {
  using core = builder_core<T>;

 public:
  using char_type = typename T::char_type;
  using automaton_type = automaton<char_type>;
  using word = std::uint64_t;

  subset_builder(const char_type* p, int n, int k, int words, const build_limits& caps)
      : core(n, 0, static_cast<std::size_t>(words), caps),
        p_(p),
        n_(n),
        k_(k),
        k1_(k + 1),
        rows_(std::min(2 * k + 2, n + 1)),
        w_(words) {
    if constexpr (Words > 0) w_ = Words;
    lt_k_.assign(static_cast<std::size_t>(w_), 0);
    for (int r = 0; r < rows_; ++r) {
      for (int j = 0; j < k_; ++j) set_bit(lt_k_.data(), r * k1_ + j);
    }
    scratch_.assign(static_cast<std::size_t>(w_) * 6, 0);
  }

  automaton_type run() {
    table_.assign(64, 0);
    mask_ = table_.size() - 1;

    // The start set: (0, 0) saturated.
    word* s0 = tmp(0);
    zero(s0);
    set_bit(s0, 0);
    saturate(s0, 0);
    open(intern(s0, 0).first);

    while (!stack_.empty()) {
      frame& f = stack_.back();
      word* next = tmp(0);
      int base = bases_[static_cast<std::size_t>(f.state)];
      bool on_char;
      int row = 0;
      if (f.next > 0) {
        --f.next;
        row = rows_stack_[f.rows_begin + static_cast<std::size_t>(f.next)];
        on_char = true;
        char_successor(key(f.state), base, row, next);
      } else if (!f.other_done) {
        f.other_done = true;
        on_char = false;
        any_successor(key(f.state), base, next);
      } else {
        core::close(f.state, f.pairs_begin);
        rows_stack_.resize(f.rows_begin);
        stack_.pop_back();
        continue;
      }
      if (is_zero(next)) continue;
      base = normalise(next, base);
      const auto [target, fresh] = intern(next, base);
      if (on_char) {
        core::add_pair(f.pairs_begin, p_[row], target);
      } else {
        core::set_otherwise(f.state, target);
      }
      if (fresh) open(target);  // may move the stack: f is not used after this
    }
    return core::finish();
  }

 private:
  struct frame {
    int state;
    int next;                 // characters still to follow, taken from the back
    std::size_t rows_begin;   // this frame's rows in rows_stack_, in order of first meeting
    std::size_t pairs_begin;  // this frame's pairs in pending_, in order of writing
    bool other_done;
  };

  int w() const noexcept {
    if constexpr (Words > 0) {
      return Words;
    } else {
      return w_;
    }
  }

  // --- Word vectors of w() words ----------------------------------------------------------

  word* tmp(int i) noexcept { return scratch_.data() + static_cast<std::size_t>(i * w()); }
  word* key(int state) noexcept {
    return keys_.data() + static_cast<std::size_t>(state) * static_cast<std::size_t>(w());
  }
  static void set_bit(word* x, long long b) noexcept { x[b >> 6] |= word{1} << (b & 63); }
  void zero(word* x) const noexcept {
    for (int i = 0; i < w(); ++i) x[i] = 0;
  }
  bool is_zero(const word* x) const noexcept {
    word acc = 0;
    for (int i = 0; i < w(); ++i) acc |= x[i];
    return acc == 0;
  }
  // dst = src << s, bits moving to higher positions; dst and src may not overlap.
  void shl(word* dst, const word* src, int s) const noexcept {
    const int q = s >> 6;
    const int r = s & 63;
    for (int i = w() - 1; i >= 0; --i) {
      word v = 0;
      if (i - q >= 0) {
        v = src[i - q] << r;
        if (r != 0 && i - q - 1 >= 0) v |= src[i - q - 1] >> (64 - r);
      }
      dst[i] = v;
    }
  }
  // x >>= s in place.
  void shr(word* x, long long s) const noexcept {
    const long long q = s >> 6;
    const int r = static_cast<int>(s & 63);
    for (int i = 0; i < w(); ++i) {
      word v = 0;
      if (i + q < w()) {
        v = x[i + q] >> r;
        if (r != 0 && i + q + 1 < w()) v |= x[i + q + 1] << (64 - r);
      }
      x[i] = v;
    }
  }
  // x &= the first m bits.
  void keep_prefix(word* x, long long m) const noexcept {
    for (int i = 0; i < w(); ++i) {
      const long long lo = static_cast<long long>(i) * 64;
      if (m <= lo) {
        x[i] = 0;
      } else if (m < lo + 64) {
        x[i] &= (word{1} << (m - lo)) - 1;
      }
    }
  }
  // Whether x has a bit in [lo, hi).
  bool any_in(const word* x, long long lo, long long hi) const noexcept {
    for (long long b = lo; b < hi;) {
      const long long i = b >> 6;
      const int off = static_cast<int>(b & 63);
      const long long take = std::min<long long>(64 - off, hi - b);
      const word m = take == 64 ? ~word{0} : ((word{1} << take) - 1) << off;
      if (x[i] & m) return true;
      b += take;
    }
    return false;
  }
  // dst |= x restricted to bits [lo, hi).
  void or_range(word* dst, const word* x, long long lo, long long hi) const noexcept {
    for (long long b = lo; b < hi;) {
      const long long i = b >> 6;
      const int off = static_cast<int>(b & 63);
      const long long take = std::min<long long>(64 - off, hi - b);
      const word m = take == 64 ? ~word{0} : ((word{1} << take) - 1) << off;
      dst[i] |= x[i] & m;
      b += take;
    }
  }
  // Bits of rows [0, min(n - base, R)): the members that have a next row.
  long long below_n_bits(int base) const noexcept {
    return static_cast<long long>(std::min(n_ - base, rows_)) * k1_;
  }

  // --- Successors --------------------------------------------------------------------------

  // Adds the Epsilon closure: (i, j) -> (i+1, j+1) for j < k, i < n, to a fixpoint. Each round
  // moves the frontier one diagonal step, so at most k rounds.
  void saturate(word* x, int base) noexcept {
    if (k_ == 0) return;
    word* front = tmp(2);
    word* moved = tmp(3);
    for (int i = 0; i < w(); ++i) front[i] = x[i];
    const long long below = below_n_bits(base);
    for (;;) {
      for (int i = 0; i < w(); ++i) front[i] &= lt_k_[static_cast<std::size_t>(i)];
      keep_prefix(front, below);
      shl(moved, front, k1_ + 1);
      word fresh = 0;
      for (int i = 0; i < w(); ++i) {
        moved[i] &= ~x[i];
        x[i] |= moved[i];
        fresh |= moved[i];
        front[i] = moved[i];
      }
      if (fresh == 0) return;
    }
  }

  // out = the Any targets of x, unsaturated: (i, j+1) and, below row n, (i+1, j+1), for j < k.
  void any_targets(const word* x, int base, word* out) noexcept {
    zero(out);
    if (k_ == 0) return;
    word* src = tmp(1);
    word* diag = tmp(4);
    for (int i = 0; i < w(); ++i) src[i] = x[i] & lt_k_[static_cast<std::size_t>(i)];
    shl(out, src, 1);
    keep_prefix(src, below_n_bits(base));
    shl(diag, src, k1_ + 1);
    for (int i = 0; i < w(); ++i) out[i] |= diag[i];
  }

  // out = the successor of x for any character without a pair of its own.
  void any_successor(const word* x, int base, word* out) noexcept {
    any_targets(x, base, out);
    saturate(out, base);
  }

  // out = the successor of x on p[row]: the members on rows whose character compares equal to
  // it move one row down, joined with the Any targets, then saturated.
  void char_successor(const word* x, int base, int row, word* out) {
    word* src = tmp(5);
    zero(src);
    const char_type& c = p_[row];
    const int last = std::min(n_ - base, rows_);
    for (int r = 0; r < last; ++r) {
      const long long lo = static_cast<long long>(r) * k1_;
      bool equal;
      if constexpr (is_byte_traits<T>) {
        equal = p_[base + r] == c;
      } else {
        if (!any_in(x, lo, lo + k1_)) continue;  // char_compare only where a member is
        equal = T::char_compare(c, p_[base + r]) == 0;
      }
      if (equal) or_range(src, x, lo, lo + k1_);
    }
    any_targets(x, base, out);
    word* moved = tmp(4);
    shl(moved, src, k1_);
    for (int i = 0; i < w(); ++i) out[i] |= moved[i];
    saturate(out, base);
  }

  // Moves x down so that its smallest row is row 0; returns the new base.
  int normalise(word* x, int base) const noexcept {
    long long low = 0;
    for (int i = 0; i < w(); ++i) {
      if (x[i] != 0) {
        low = static_cast<long long>(i) * 64 + std::countr_zero(x[i]);
        break;
      }
    }
    const long long r = low / k1_;
    if (r > 0) shr(x, r * k1_);
    return base + static_cast<int>(r);
  }

  // --- Interning ---------------------------------------------------------------------------

  std::uint64_t hash(const word* x, int base) const noexcept {
    std::uint64_t h =
        static_cast<std::uint64_t>(static_cast<std::uint32_t>(base)) * 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < w(); ++i) {
      h ^= x[i];
      h *= 0xFF51AFD7ED558CCDull;
      h ^= h >> 29;
    }
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 32;
    return h;
  }

  bool same(int state, const word* x, int base) noexcept {
    if (bases_[static_cast<std::size_t>(state)] != base) return false;
    const word* y = key(state);
    for (int i = 0; i < w(); ++i) {
      if (y[i] != x[i]) return false;
    }
    return true;
  }

  // The number of the set (x, base) and whether it was new. Table entries are
  // (hash high half << 32) | (state + 1); 0 marks a free slot.
  std::pair<int, bool> intern(const word* x, int base) {
    const std::uint64_t h = hash(x, base);
    const std::uint64_t tag = h >> 32;
    std::size_t i = static_cast<std::size_t>(h) & mask_;
    while (table_[i] != 0) {
      if ((table_[i] >> 32) == tag) {
        const int s = static_cast<int>((table_[i] & 0xFFFFFFFFu) - 1);
        if (same(s, x, base)) return {s, false};
      }
      i = (i + 1) & mask_;
    }
    const int s = core::add_state();
    bases_.push_back(base);
    keys_.insert(keys_.end(), x, x + w());
    table_[i] = (tag << 32) | static_cast<std::uint64_t>(s + 1);
    if (static_cast<std::size_t>(core::len()) * 2 > table_.size()) grow_table();
    return {s, true};
  }

  void grow_table() {
    std::vector<std::uint64_t> old(table_.size() * 2, 0);
    old.swap(table_);
    mask_ = table_.size() - 1;
    for (std::uint64_t e : old) {
      if (e == 0) continue;
      const int s = static_cast<int>((e & 0xFFFFFFFFu) - 1);
      std::size_t i =
          static_cast<std::size_t>(hash(key(s), bases_[static_cast<std::size_t>(s)])) & mask_;
      while (table_[i] != 0) i = (i + 1) & mask_;
      table_[i] = e;
    }
  }

  // --- Exploration -------------------------------------------------------------------------

  // Starts exploring a freshly numbered state: final flag, characters in order of first
  // meeting (distinct under char_compare, the first of each kind kept).
  void open(int state) {
    const int base = bases_[static_cast<std::size_t>(state)];
    const word* x = key(state);
    if (n_ - base < rows_) {
      const long long lo = static_cast<long long>(n_ - base) * k1_;
      if (any_in(x, lo, lo + k1_)) core::set_final(state, true);
    }
    const std::size_t rows_begin = rows_stack_.size();
    const int last = std::min(n_ - base, rows_);
    for (int r = 0; r < last; ++r) {
      const long long lo = static_cast<long long>(r) * k1_;
      if (!any_in(x, lo, lo + k1_)) continue;
      const char_type& c = p_[base + r];
      bool held = false;
      for (std::size_t q = rows_begin; q < rows_stack_.size(); ++q) {
        const char_type& d = p_[rows_stack_[q]];
        if constexpr (is_byte_traits<T>) {
          held = c == d;
        } else {
          held = T::char_compare(c, d) == 0;
        }
        if (held) break;
      }
      if (!held) rows_stack_.push_back(base + r);
    }
    stack_.push_back(frame{state, static_cast<int>(rows_stack_.size() - rows_begin), rows_begin,
                           core::pending_.size(), false});
  }

  const char_type* p_;
  int n_;
  int k_;
  int k1_;                     // bits per row
  int rows_;                   // rows of the window
  int w_;                      // words per set
  std::vector<word> lt_k_;     // bits with j < k
  std::vector<word> scratch_;  // six vectors of w() words
  std::vector<word> keys_;     // the set of state s at key(s)
  std::vector<int> bases_;     // and its first row
  std::vector<std::uint64_t> table_;
  std::size_t mask_ = 0;
  std::vector<frame> stack_;
  std::vector<int> rows_stack_;  // per open frame: a row for each character
};

/// The construction when a set fits one 64-bit word ((window rows) x (k + 1) <= 64, so every
/// limit up to 4 and small patterns beyond). Same exploration as subset_builder, with the
/// per-state parts of every successor (the saturated Any targets, the rows each character
/// moves) computed once when the state opens, and sets interned by number in a table of
/// 4-byte slots. K is the limit when it is known at compile time (byte strings at limits 0 to 4,
/// where the row width, the rounds of the closure and the folds become constants), -1 when it is
/// taken at run time. Packed says whether a set and its first row share one word as its key (see
/// packs).
template <StringTraits T, int K, bool Packed = (K >= 0 && K <= 3)>
class word_builder : builder_core<T> {
  using core = builder_core<T>;
  static_assert(K >= -1 && K <= 4);

 public:
  using char_type = typename T::char_type;
  using automaton_type = automaton<char_type>;
  using pair_type = typename core::pair_type;
  using word = std::uint64_t;

  word_builder(const word_builder&) = delete;  // sat_ may point into the object itself
  word_builder& operator=(const word_builder&) = delete;

  word_builder(const char_type* p, int n, int k, const build_limits& caps)
      : core(n, expected_states(n, k), 1, caps),
        p_(p),
        n_(n),
        k_(k),
        k1_(k + 1),
        rows_(std::min(2 * k + 2, n + 1)) {
    const word row0 = k1_ >= 64 ? ~word{0} : (word{1} << k1_) - 1;
    for (int r = 0; r < rows_; ++r) {
      row_[r] = shl(row0, r * k1_);
      lt_k_ |= shl(row0 >> 1, r * k1_);  // bits j < k of row r
      below_[r + 1] = below_[r] | row_[r];
    }
    for (int b = 0, r = 0, in_row = 0; b < rows_ * k1_; ++b) {  // the bits of the window
      row_of_bit_[b] = static_cast<std::uint8_t>(r);
      if (++in_row == k1_) in_row = 0, ++r;
    }
    move_shift_ = rows_ > 1 ? k1_ : 0;
    while ((1 << rounds_) - 1 < k_) ++rounds_;
    // Saturation masks by the distance d = n - base of the last row, clamped where the masks
    // stop changing: round t moves the rows below d - 2^t + 1, in the columns j <= k - 2^t.
    sat_rows_ = rows_ + (1 << rounds_);
    const auto sat_size = static_cast<std::size_t>((sat_rows_ + 1) * rounds_);
    if (sat_size > std::size(sat_small_)) sat_big_.assign(sat_size, 0);
    sat_ = sat_size > std::size(sat_small_) ? sat_big_.data() : sat_small_;
    for (int t = 0; t < rounds_; ++t) {
      const int steps = 1 << t;
      const int keep = k_ - steps + 1;
      const word cols = keep <= 0 ? 0 : (word{1} << keep) - 1;
      word all_rows = 0;
      for (int r = 0; r < rows_; ++r) all_rows |= shl(cols, r * k1_);
      sat_shift_[t] = steps * (k1_ + 1);
      for (int d = 0; d <= sat_rows_; ++d) {
        word m = all_rows & below_[std::clamp(d - steps + 1, 0, rows_)];
        if (sat_shift_[t] >= 64) m = 0;  // such a move leaves the window: nothing can make it
        sat_[static_cast<std::size_t>(d * rounds_ + t)] = m;
      }
      if (sat_shift_[t] >= 64) sat_shift_[t] = 0;
    }
    // Row r's members fold into bit r (k + 1): a run of shifts whose sum is exactly k.
    for (int covered = 1; covered < k1_;) {
      const int sh = std::min(covered, k1_ - covered);
      fold_[folds_++] = sh;
      covered += sh;
    }
    for (int r = 0; r < rows_; ++r) starts_[r + 1] = starts_[r] | (word{1} << (r * k1_));
    if constexpr (is_byte_traits<T>) {
      same_.resize(static_cast<std::size_t>(n));
      for (int i = 0; i < n; ++i) {
        word m = 1;
        for (int d = 1; d < rows_ && i + d < n; ++d) {
          if (p[i + d] == p[i]) m |= word{1} << (d * k1_);
        }
        same_[static_cast<std::size_t>(i)] = m;
      }
    }
  }

  automaton_type run() {
    const std::size_t expect = expected_states(n_, k_);
    size_table(std::bit_ceil(std::clamp<std::size_t>(2 * expect, 64, std::size_t{1} << 22)));
    keys_.reserve(std::min(expect, core::caps_.max_states));
    const std::size_t depth = static_cast<std::size_t>(n_ + k_ + 1);
    // Pairs per state on dictionary words: about 2, 3.3, 4.5 and 5.7 at limits 1 to 4 (more on
    // longer patterns), in quarters; k + 1 at most 8 beyond.
    static constexpr std::size_t quarters[] = {4, 9, 14, 19, 24};
    const auto per_state =
        k_ <= 4 ? quarters[k_] : 4 * static_cast<std::size_t>(std::min(k_ + 1, 8));
    core::reserve(expect * per_state / 4, depth);
    stack_.reserve(std::min<std::size_t>(depth, 1 << 12));
    grow_chars(std::min<std::size_t>(depth * static_cast<std::size_t>(rows_ + 1), 1 << 14));

    // The start set: (0, 0) saturated.
    const word start = saturate(word{1}, sat_masks(0));
    intern(start, 0);
    open(start, 0);

    while (!stack_.empty()) {
      frame& f = stack_.back();
      successor* const first = chars_.get() + f.chars_begin;
      // Bytes: successor q > 0 is pair q - 1 of the list laid out when the state opened.
      [[maybe_unused]] pair_type* const out = core::pairs_at(f.pairs_begin);
      // In locals: the pair stores below (of a character type) could otherwise change them. A
      // new set leaves the loop, and the table may grow only then.
      const char_type* const p = p_;
      const slot* const table = table_.get();
      const std::uint64_t table_shift = shift_;
      const std::size_t table_mask = mask_;
      const key_type* const keys = keys_.data();
      // Follows the successors from the back until one is new: its subtree comes first. The
      // characters first (indices f.next - 1 down to 1), then the Any successor (index 0).
      int q = f.next;
      while (q > 1) {
        successor& e = first[--q];
        const word y = e.y;
        if constexpr (!is_byte_traits<T>) {
          if (y == 0) continue;  // a character unequal to itself under char_compare
        }
        const int base = e.base;
        int target = intern(table, table_shift, table_mask, keys, y, base, e.hash);
        const bool fresh = target < 0;
        if (fresh) target = ~target;
        if constexpr (is_byte_traits<T>) {
          std::construct_at(out + (q - 1), p[e.row], target);
        } else {
          e.target = target;
        }
        if (fresh) {
          f.next = q;
          open(y, base);  // may move the stack and chars_: f and e are not used after this
          goto next;
        }
      }
      if (q == 1 && first[0].y != 0) {
        const word y = first[0].y;
        const int base = first[0].base;
        int target = intern(table, table_shift, table_mask, keys, y, base, first[0].hash);
        const bool fresh = target < 0;
        if (fresh) target = ~target;
        core::set_otherwise(f.state, target);
        if (fresh) {
          f.next = 0;
          open(y, base);  // as above
          goto next;
        }
      }
      // Every target known: the state closes.
      if constexpr (is_byte_traits<T>) {
        core::seal(f.state);
      } else {
        // The pairs in the order of following, as the reference writes them.
        const std::size_t from = core::pending_.size();
        for (auto c = static_cast<std::size_t>(f.count); c > 0; --c) {
          if (first[c].y != 0) core::add_pair(from, p_[first[c].row], first[c].target);
        }
        core::close(f.state, from);
      }
      top_ = f.chars_begin;
      stack_.pop_back();
    next:;
    }
    return core::finish();
  }

 private:
  // A successor set, moved to its own first row, with its hash; 0 for the empty set.
  struct successor {
    word y;
    std::uint64_t hash;
    int base;
    int row;     // on a character: a pattern position holding it
    int target;  // general bundles: its number, once followed
  };
  // An open state. Its successors are chars_[chars_begin, chars_begin + 1 + m): first the one
  // for any other character, then those of its m characters in order of first meeting; they
  // are taken from the back, so the characters come in reverse order of first meeting and the
  // other characters last, as the reference explores them.
  struct frame {
    int state;
    int next;                 // successors still to follow
    int count;                // characters
    std::size_t chars_begin;  // in chars_
    std::size_t pairs_begin;  // bytes: the list in the pair array
  };
  // The table maps a set to its number by state + 1 in a slot (0: free); the sets themselves
  // are in keys_, by number. Small slots keep the table in the first-level cache where the
  // automaton is small and out of the way of everything else where it is large.
  using slot = std::uint32_t;
  // A state's set: packed, the set and its first row in one word; else both.
  struct wide_key {
    word x;
    std::int32_t base;
  };

  // Sized for the usual number of states, so that it rarely grows: about 4, 15, 50 and 170
  // states per pattern character at limits 1 to 4 (fewer when the limit nears the length).
  static std::size_t expected_states(int n, int k) noexcept {
    static constexpr std::size_t per_char[] = {1, 4, 15, 50, 170};
    return (static_cast<std::size_t>(n) + 1) * per_char[std::min(k, 4)] *
           std::min<std::size_t>(static_cast<std::size_t>(k) + 1, static_cast<std::size_t>(n) + 1) /
           (static_cast<std::size_t>(k) + 1);
  }

  static word shl(word v, int s) noexcept { return s >= 64 ? 0 : v << s; }

  int k1() const noexcept {
    if constexpr (K >= 0) {
      return K + 1;
    } else {
      return k1_;
    }
  }

  // The Epsilon closure by doubling: after round t every member has been moved by each number
  // of diagonal steps below 2^t, as far as the move stays inside the matrix (j + s <= k,
  // i + s <= n, which keeps every step between inside too). ceil(log2(k + 1)) rounds, no
  // data-dependent branch.
  // The rounds commute (a move of s steps valid at its end is valid at every step between), so
  // they run from the longest down, unrolled.
  word saturate(word y, const word* m) const noexcept {
    if constexpr (K >= 0) {
      // Round t shifts by 2^t (k + 2), below 64 up to limit 4.
      constexpr int rounds = std::bit_width(static_cast<unsigned>(K));
      [&]<int... t>(std::integer_sequence<int, t...>) {
        ((y |= (y & m[rounds - 1 - t]) << ((1 << (rounds - 1 - t)) * (K + 2))), ...);
      }
      (std::make_integer_sequence<int, rounds>{});
      return y;
    } else {
      switch (rounds_) {
        case 6:
          y |= (y & m[5]) << sat_shift_[5];
          [[fallthrough]];
        case 5:
          y |= (y & m[4]) << sat_shift_[4];
          [[fallthrough]];
        case 4:
          y |= (y & m[3]) << sat_shift_[3];
          [[fallthrough]];
        case 3:
          y |= (y & m[2]) << sat_shift_[2];
          [[fallthrough]];
        case 2:
          y |= (y & m[1]) << sat_shift_[1];
          [[fallthrough]];
        case 1:
          y |= (y & m[0]) << sat_shift_[0];
          [[fallthrough]];
        default:
          return y;
      }
    }
  }
  const word* sat_masks(int base) const noexcept {
    if constexpr (K >= 0) {
      constexpr int rounds = std::bit_width(static_cast<unsigned>(K));
      return sat_ + std::min(n_ - base, sat_rows_) * rounds;
    } else {
      return sat_ + std::min(n_ - base, sat_rows_) * rounds_;
    }
  }

  // Folds each row's members into the row's first bit.
  word fold(word y) const noexcept {
    if constexpr (K >= 0) {
      // The shifts of fold_ for k + 1 bits per row: 1, then min(2, k - 1), then k - 3.
      if constexpr (K >= 1) y |= y >> 1;
      if constexpr (K >= 2) y |= y >> std::min(2, K - 1);
      if constexpr (K >= 4) y |= y >> (K - 3);
    } else {
      for (int f = 0; f < folds_; ++f) y |= y >> fold_[f];
    }
    return y;
  }

  bool same_char(const char_type& a, const char_type& b) const {
    if constexpr (is_byte_traits<T>) {
      return a == b;
    } else {
      return T::char_compare(a, b) == 0;
    }
  }

  // Opens a set just numbered (the newest state): its final flag, its characters in order of
  // first meeting (distinct under char_compare, the first of each kind kept) with the rows each
  // one moves, and then all of its successors.
  void open(word x, int base) {
    const int last = std::min(n_ - base, rows_);  // rows with a next row (i < n)
    const int state = core::len() - 1;
    // Final when a member is on row n (row_[d] is empty for d >= rows_, which is below 64).
    core::set_final(state, (x & row_[std::min(n_ - base, rows_)]) != 0);
    // At most one character per row, plus the Any successor.
    const auto room = static_cast<std::size_t>(rows_ + 1);
    if (top_ + room > chars_size_) [[unlikely]] {
      grow_chars(2 * chars_size_);
    }
    successor* const first = chars_.get() + top_;
    successor* end = first + 1;
    // The successors are independent, so their arithmetic overlaps, and the table slots they
    // will probe are fetched ahead. The Any targets are part of every one of them.
    const word src = x & lt_k_;
    const word* sat = sat_masks(base);
    const word any = saturate(shl(src, 1) | shl(src & below_[last], k1() + 1), sat);
    const int shift = K >= 0 ? k1() : move_shift_;
    const slot* const table = table_.get();
    const auto table_shift = shift_;
    // A character's successor is never empty: its rows are below n - base, so their members
    // move to a next row inside the window.
    if constexpr (is_byte_traits<T>) {
      // Bytes compare by value, so one precomputed set of equal positions per position gives
      // both the first row of each character and all the rows it moves. Rows are marked by
      // their first bit, r (k + 1); multiplying such marks by a full row spreads them to rows.
      const word present = fold(x) & starts_[last];
      const word row0 = row_[0];
      const word* const same = same_.data() + base;
      // Each character takes the marks of all its rows off the rest: no test per row.
      for (word q = present; q != 0;) {
        const int b = __builtin_ctzll(q);
        const int r = row_of_bit_[b];
        const word rows = (same[r] << b) & present;
        q &= ~rows;
        end->row = base + r;
        settle(*end, saturate((x & (rows * row0)) << shift, sat) | any, base, table, table_shift);
        ++end;
      }
    } else {
      end = open_chars(x, base, last, first + 1);
      for (successor* e = first + 1; e != end; ++e) {
        settle(*e, saturate((x & e->y) << shift, sat) | any, base, table, table_shift);
      }
    }
    first->y = 0;
    if (any != 0) settle(*first, any, base, table, table_shift);
    const auto count = static_cast<std::size_t>(end - first);
    std::size_t pairs_begin = 0;
    if constexpr (is_byte_traits<T>) {
      // Byte characters of a set are distinct and each moves a member, so every one of them
      // gets a pair: the list is laid out now, in order of first meeting, and filled in when
      // the state closes.
      pairs_begin = core::lay_out(state, count - 1);
    }
    stack_.push_back(
        frame{state, static_cast<int>(count), static_cast<int>(count - 1), top_, pairs_begin});
    top_ += count;
  }

  // Stores y (not empty), moved down to its first row, with its hash, and fetches its table
  // slot.
  // (The table and its shift come as arguments: the stores here could otherwise change them.)
  void settle(successor& e, word y, int base, const slot* table,
              std::uint64_t table_shift) const noexcept {
    const int r = row_of_bit_[__builtin_ctzll(y)];
    const word z = y >> (r * k1());
    e.y = z;
    e.base = base + r;
    e.hash = hash(z, base + r);
    __builtin_prefetch(&table[e.hash >> table_shift]);
  }

  // The characters of a set for a general bundle, written from `out` on: a plain scan,
  // char_compare throughout. Returns the end.
  successor* open_chars(word x, int base, int last, successor* out) const {
    successor* const first = out;
    for (int r = 0; r < last; ++r) {
      if ((x & row_[r]) == 0) continue;
      const char_type& c = p_[base + r];
      bool held = false;
      for (const successor* q = first; q != out && !held; ++q) held = same_char(c, p_[q->row]);
      if (!held) *out++ = successor{0, 0, 0, base + r, -1};
    }
    for (successor* q = first; q != out; ++q) {
      const char_type& c = p_[q->row];
      word moves = 0;
      for (int r = 0; r < last; ++r) {
        if ((x & row_[r]) != 0 && same_char(c, p_[base + r])) moves |= row_[r];
      }
      q->y = moves;
    }
    return out;
  }

  // A set takes at most 2 (k + 1)^2 bits: 32 up to limit 3, 50 at limit 4. Above them the
  // first row fits when it is below 2^32, or 2^14 at limit 4, and the set and its first row
  // pack into one word: a state's key is that word, and a probe compares one word.
  static constexpr int base_shift = K <= 3 ? 32 : 2 * (K + 1) * (K + 1);
  static_assert(!Packed || (K >= 0 && K <= 4));

 public:
  // Whether the first rows of a pattern of n characters (0 to n) fit above the set.
  static constexpr bool packs(int n) noexcept {
    return K >= 0 && K <= 4 && (base_shift >= 32 || n < (1 << (64 - base_shift)));
  }

 private:
  static word pack(word x, int base) noexcept {
    return x | static_cast<word>(static_cast<std::uint32_t>(base)) << base_shift;
  }

  using key_type = std::conditional_t<Packed, word, wide_key>;
  static key_type make_key(word x, int base) noexcept {
    if constexpr (Packed) {
      return pack(x, base);
    } else {
      return wide_key{x, base};
    }
  }
  // Multiplicative hashing on the high bits, which depend on every bit of the key.
  static std::uint64_t hash_of(const key_type& k) noexcept {
    if constexpr (Packed) {
      return k * 0xD6E8FEB86659FD93ull;
    } else {
      const std::uint64_t mixed =
          k.x ^
          (static_cast<std::uint64_t>(static_cast<std::uint32_t>(k.base)) * 0x9E3779B97F4A7C15ull);
      return mixed * 0xD6E8FEB86659FD93ull;
    }
  }
  static std::uint64_t hash(word x, int base) noexcept { return hash_of(make_key(x, base)); }

  // The number s of the set, or ~s when it is new (a plain int keeps the result in one
  // register). The probe is the hot path (most successors are sets met before).
  // (The table, its shift and mask come as arguments, as in settle.)
  int intern(word x, int base) {
    return intern(table_.get(), shift_, mask_, keys_.data(), x, base, hash(x, base));
  }
  [[gnu::always_inline]] int intern(const slot* table, std::uint64_t table_shift,
                                    std::size_t table_mask, const key_type* keys, word x, int base,
                                    std::uint64_t h) {
    [[maybe_unused]] const word key = pack(x, base);
    for (std::size_t i = static_cast<std::size_t>(h >> table_shift);; i = (i + 1) & table_mask) {
      const slot e = table[i];
      if (e == 0) return ~add_set(i, x, base);
      const key_type& k = keys[e - 1];
      bool match;
      if constexpr (Packed) {
        match = k == key;
      } else {
        match = ((k.x ^ x) | static_cast<std::uint32_t>(k.base ^ base)) == 0;
      }
      if (match) return static_cast<int>(e - 1);
    }
  }

  int add_set(std::size_t i, word x, int base) {
    const int s = core::add_state();
    keys_.push_back(make_key(x, base));
    table_[i] = static_cast<slot>(s + 1);
    if (static_cast<std::size_t>(s + 1) * 2 > mask_ + 1) [[unlikely]] {
      grow_table();
    }
    return s;
  }

  // At least `size` + rows_ + 1 entries, the ones in use kept.
  [[gnu::noinline]] void grow_chars(std::size_t size) {
    size += static_cast<std::size_t>(rows_ + 1);
    std::unique_ptr<successor[]> bigger(new successor[size]);
    std::copy(chars_.get(), chars_.get() + top_, bigger.get());
    chars_ = std::move(bigger);
    chars_size_ = size;
  }

  // All zero: every slot free.
  void size_table(std::size_t size) {
    table_.reset(new slot[size]);
    std::memset(static_cast<void*>(table_.get()), 0, size * sizeof(slot));
    mask_ = size - 1;
    shift_ = 64 - std::countr_zero(size);
  }

  [[gnu::noinline]] void grow_table() {
    size_table((mask_ + 1) * 2);
    for (std::size_t s = 0; s < keys_.size(); ++s) {
      std::size_t i = static_cast<std::size_t>(hash_of(keys_[s]) >> shift_);
      while (table_[i] != 0) i = (i + 1) & mask_;
      table_[i] = static_cast<slot>(s + 1);
    }
  }

  const char_type* p_;
  int n_;
  int k_;
  int k1_;    // bits per row
  int rows_;  // rows of the window, at most 2k + 2
  word lt_k_ = 0;
  int move_shift_ = 0;  // k + 1, the shift to the next row (0 when there is none)
  int rounds_ = 0;      // of saturate: ceil(log2(k + 1)), at most 6 as k < 64 here
  int sat_rows_ = 0;
  // sat_[d * rounds_ + t]: the members round t moves when n - base = d; in place up to limit 4.
  word* sat_ = nullptr;
  word sat_small_[64] = {};
  std::vector<word> sat_big_;
  int sat_shift_[6] = {};
  int folds_ = 0;
  int fold_[7] = {};
  word starts_[65] = {};  // the first bits of rows [0, d)
  word row_[64] = {};     // the bits of row r
  word below_[65] = {};   // the bits of rows [0, d)
  std::uint8_t row_of_bit_[64] = {};
  std::unique_ptr<slot[]> table_;
  std::vector<key_type> keys_;  // the set of each state, by number
  std::size_t mask_ = 0;        // table size - 1
  std::uint64_t shift_ = 64;    // 64 - log2(table size): slots by the high bits of the hash
  std::vector<frame> stack_;
  // The successors of the open frames, [0, top_) in use, in an array of chars_size_ (left
  // uninitialised: every entry is written before it is read), grown when a state opens within
  // rows_ + 1 of its end.
  std::unique_ptr<successor[]> chars_;
  std::size_t chars_size_ = 0;
  std::size_t top_ = 0;
  std::vector<word> same_;  // bytes: bit d (k + 1) of same_[i] when p[i + d] == p[i], d < rows
};

/// The automaton of `pattern` at `limit` by the fast construction. Throws std::out_of_range
/// for limit -1, std::invalid_argument for limit <= -2 (as the reference does), and
/// std::length_error when the caps cannot hold the automaton.
template <StringTraits T>
automaton<typename T::char_type> build_automaton(int limit, const typename T::string_type& pattern,
                                                 const build_limits& caps) {
  using C = typename T::char_type;
  const std::ptrdiff_t n = T::length(pattern);
  // The reference construction fails on limit -1 when it looks up (0, 0) in an NDA without
  // columns, and on limit <= -2 when it sizes the NDA's rows.
  if (limit == -1) throw std::out_of_range("of_string: the NDA has no state (0, 0)");
  if (limit < -1) throw std::invalid_argument("of_string: negative limit");
  const long long k = limit;
  const long long min_states = static_cast<long long>(n) + k + 1;
  const long long rows = std::min<long long>(2 * k + 2, static_cast<long long>(n) + 1);
  const long long words = (rows * (k + 1) + 63) / 64;
  if (static_cast<unsigned long long>(min_states) > caps.max_states ||
      static_cast<unsigned long long>(min_states) * static_cast<unsigned long long>(words) >
          caps.max_set_words) {
    throw std::length_error("of_string: automaton exceeds the caps");
  }
  std::vector<C> chars;
  const C* p;
  if constexpr (is_byte_traits<T>) {
    p = pattern.data();
  } else {
    chars.reserve(static_cast<std::size_t>(n));
    for (std::ptrdiff_t i = 0; i < n; ++i) chars.push_back(T::get(pattern, i));
    p = chars.data();
  }
  const int ni = static_cast<int>(n);
  const int wi = static_cast<int>(words);
  if (wi == 1) {
    if constexpr (is_byte_traits<T>) {
      switch (limit) {
        case 0:
          return word_builder<T, 0>(p, ni, limit, caps).run();
        case 1:
          return word_builder<T, 1>(p, ni, limit, caps).run();
        case 2:
          return word_builder<T, 2>(p, ni, limit, caps).run();
        case 3:
          return word_builder<T, 3>(p, ni, limit, caps).run();
        case 4:
          if (word_builder<T, 4, true>::packs(ni)) {
            return word_builder<T, 4, true>(p, ni, limit, caps).run();
          }
          return word_builder<T, 4>(p, ni, limit, caps).run();
        default:
          break;
      }
    }
    return word_builder<T, -1>(p, ni, limit, caps).run();
  }
  if (wi == 2) return subset_builder<T, 2>(p, ni, limit, wi, caps).run();
  return subset_builder<T, 0>(p, ni, limit, wi, caps).run();
}

}  // namespace tolvex::detail
