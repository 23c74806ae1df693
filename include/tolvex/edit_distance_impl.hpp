// Bit-parallel Levenshtein kernels behind edit_distance.
//
// Design. The distance table has one row per character of the shorter string (the "pattern",
// length m) and one column per character of the longer one (the "text", length n >= m). Myers'
// algorithm (Myers 1999, in the global-distance form of Hyyro 2003) keeps one column of the table
// as two bit vectors of vertical differences, Pv (+1) and Mv (-1); a whole column advances in a
// constant number of word operations, given Eq, the set of pattern rows whose character equals
// the text character of the column.
//
//   m <= 64   one word per column: O(n) word operations, no allocation (stack table).
//   m >  64   the column is cut into ceil(m / 64) blocks of 64 rows; each block passes its
//             horizontal difference at its last row (-1, 0 or +1) down to the next block.
//             Only the blocks meeting a diagonal band are computed (Ukkonen): for a threshold
//             k >= n - m, a cell (i, j) on an alignment of cost <= k satisfies
//             -x <= j - i <= (n - m) + x with x = (k - (n - m)) / 2, because reaching it costs
//             at least |j - i| and finishing costs at least |(n - m) - (j - i)|. The band grows
//             (ed_blocked) until the computed distance is <= k, which proves it exact (below),
//             or until it is wide enough that the full table is cheaper. The full table runs
//             several columns and two halves of the column at once (ed_full, ed_full_split),
//             since one column alone is a chain of dependent block steps.
//
// Why a banded value <= k is exact. Outside the band the pass substitutes upper bounds for the
// true values: the row above the first computed block is taken to grow by +1 per column, and a
// block entering at the bottom starts from a column of +1 steps below the block above it. Every
// substituted value is >= the true one and the recurrence is monotone, so every computed value
// D' satisfies D' >= D. An alignment of cost <= k runs inside the band, where each of its cells
// is computed by the exact recurrence from its predecessor, so D'(m, n) <= D(m, n) whenever
// D(m, n) <= k. Hence D'(m, n) <= k implies D'(m, n) = D(m, n). The same argument gives the
// early exit: once every computed cell of one column has D' > k, no alignment of cost <= k
// crosses that column, so the pass stops and the band grows. The lower bound used for a block
// is its bottom score minus the number of +1 steps in it.
//
// Character classes. Only equality of characters matters to the distance, and char_compare is a
// total order, so the pattern's characters are sorted once and numbered by equality class; each
// text character is then found by binary search (O(log 64) compares in the one-word case, which
// needs no storage but a stack array). The byte-string bundle skips all of this: the one-word
// case indexes a 256-entry table by the byte itself, the block case maps each byte to the row
// of its masks through a 256-entry table.
//
// Which way a call goes never changes its value, only its cost: every kernel computes the same
// table as the plain programme, and the tests hold them to it.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numeric>
#include <type_traits>
#include <utility>
#include <vector>

#include "traits.hpp"

namespace tolvex::detail {

using ed_word = std::uint64_t;
inline constexpr std::ptrdiff_t ed_word_bits = 64;

/// Distance of a pattern of 1 <= m <= 64 characters to a text of n characters, one word per
/// column. `eq_at(j)` is the match mask of text position j: bit i set iff pattern character i
/// equals it. O(n), no allocation.
template <class EqAt>
std::ptrdiff_t myers_single_word(std::ptrdiff_t m, std::ptrdiff_t n, EqAt&& eq_at) {
  ed_word pv = ~ed_word{0};
  ed_word mv = 0;
  const ed_word high = ed_word{1} << (m - 1);
  std::ptrdiff_t score = m;
  for (std::ptrdiff_t j = 0; j < n; ++j) {
    const ed_word eq = eq_at(j);
    const ed_word xv = eq | mv;
    // The loop is bound by the latency of the chain from pv to the next pv, so the recurrence
    // is written around nph = ~ph = (xh | pv) & ~mv, which spares two negations on the chain,
    // and xh | pv is taken as sum | pv | eq (xh = (sum ^ pv) | eq), which spares two more.
    // Row 0 of the table is 0, 1, 2, ...: the horizontal difference entering the top is +1, so
    // ph is shifted in with a 1, that is nph with a 0.
    const ed_word sum = (eq & pv) + pv;
    const ed_word xh = (sum ^ pv) | eq;
    const ed_word nph = (sum | (pv | eq)) & ~mv;
    const ed_word mh = pv & xh;
    score += static_cast<std::ptrdiff_t>((nph & high) == 0) -
             static_cast<std::ptrdiff_t>((mh & high) != 0);
    const ed_word nph_s = nph << 1;
    pv = (mh << 1) | (nph_s & ~xv);
    mv = xv & ~nph_s;
  }
  return score;
}

/// One 64-row block of a column: vertical differences and the value at the block's last row.
struct ed_block {
  ed_word pv;
  ed_word mv;
  std::ptrdiff_t score;
};

/// Advances one block by one column. `hin` is the horizontal difference entering the block's top
/// (-1, 0 or +1); returns the one leaving its row `high` (a single bit: the block's last row).
inline int ed_block_step(ed_block& b, ed_word eq, int hin, ed_word high) noexcept {
  const ed_word pv = b.pv;
  const ed_word mv = b.mv;
  const ed_word hin_neg = hin < 0 ? 1 : 0;
  const ed_word hin_pos = hin > 0 ? 1 : 0;
  const ed_word xv = eq | mv;
  eq |= hin_neg;
  const ed_word xh = (((eq & pv) + pv) ^ pv) | eq;
  ed_word ph = mv | ~(xh | pv);
  ed_word mh = pv & xh;
  const int hout = static_cast<int>((ph & high) != 0) - static_cast<int>((mh & high) != 0);
  ph = (ph << 1) | hin_pos;
  mh = (mh << 1) | hin_neg;
  b.pv = mh | ~(xv | ph);
  b.mv = ph & xv;
  return hout;
}

/// One banded pass (pattern length m > 64, text length n >= m, threshold k >= n - m): only the
/// blocks meeting the band are computed. Returns the distance if it is <= k; otherwise some
/// value > k, and when that is proven before the last column, stores in `stopped_at` the column
/// at which it was. `row(c)` gives the per-block match masks of text class c (indexable by block
/// number). `st` has room for nblocks blocks; no other storage is touched.
template <class RowOf, class Cls>
std::ptrdiff_t ed_banded_pass(const RowOf& row_of, const Cls* text, std::ptrdiff_t n,
                              std::ptrdiff_t m, std::ptrdiff_t nblocks, ed_block* st,
                              std::ptrdiff_t k, std::ptrdiff_t* stopped_at) {
  const std::ptrdiff_t last_block = nblocks - 1;
  const ed_word full_high = ed_word{1} << (ed_word_bits - 1);
  const ed_word last_high = ed_word{1} << ((m - 1) % ed_word_bits);
  // Rows past m in the last block get no match bits and only ever influence rows below them
  // (carries run towards higher bits), so they are ignored, not cleared.
  const ed_word last_valid = last_high | (last_high - 1);
  const std::ptrdiff_t diff = n - m;
  const std::ptrdiff_t x = (k - diff) / 2;
  // In column j the band holds the rows j - diff - x .. j + x; rows are numbered from 1 and
  // row i lies in block (i - 1) / 64.
  auto first_of = [&](std::ptrdiff_t j) {
    const std::ptrdiff_t lo = j - diff - x;
    return lo <= 1 ? std::ptrdiff_t{0} : (lo - 1) / ed_word_bits;
  };
  auto last_of = [&](std::ptrdiff_t j) { return (std::min(j + x, m) - 1) / ed_word_bits; };
  auto rows_to_end_of = [&](std::ptrdiff_t b) { return std::min((b + 1) * ed_word_bits, m); };

  std::ptrdiff_t cur_last = last_of(1);
  // Column 0 holds 0, 1, ..., m: all vertical differences +1.
  for (std::ptrdiff_t b = 0; b <= cur_last; ++b) st[b] = {~ed_word{0}, 0, rows_to_end_of(b)};

  for (std::ptrdiff_t j = 1; j <= n; ++j) {
    const auto& row = row_of(text[j - 1]);
    std::ptrdiff_t b = first_of(j);
    const std::ptrdiff_t l = last_of(j);
    // The band's lower edge moves one row per column, so at most one block enters, right
    // below the previous last block, whose score is still that of column j - 1.
    if (l > cur_last) {
      st[l] = {~ed_word{0}, 0, st[cur_last].score + (rows_to_end_of(l) - l * ed_word_bits)};
      cur_last = l;
    }
    // Above the first block: row 0 itself (+1 exactly) or the +1 upper bound described above.
    int h = 1;
    std::ptrdiff_t lower = std::numeric_limits<std::ptrdiff_t>::max();
    const std::ptrdiff_t full_end = std::min(l, last_block - 1);
    for (; b <= full_end; ++b) {
      ed_block& s = st[b];
      h = ed_block_step(s, row[b], h, full_high);
      s.score += h;
      lower = std::min(lower, s.score - std::popcount(s.pv));
    }
    if (l == last_block) {
      ed_block& s = st[b];
      h = ed_block_step(s, row[b], h, last_high);
      s.score += h;
      lower = std::min(lower, s.score - std::popcount(s.pv & last_valid));
    }
    if (lower > k) {
      *stopped_at = j;
      return k + 1;
    }
  }
  return st[last_block].score;
}

/// Advances one block by one column in carry form: `hp` / `hn` hold the horizontal difference
/// entering the block's top as bits (+1: hp = 1, -1: hn = 1) and receive the one leaving its
/// row `out_bit`. The same recurrence as ed_block_step, shaped so that consecutive blocks of
/// one column and consecutive columns of one block can overlap in the pipeline.
inline void ed_carry_step(ed_word& pv, ed_word& mv, ed_word eq, ed_word& hp, ed_word& hn,
                          int out_bit) noexcept {
  const ed_word x = eq | hn;
  const ed_word d0 = (((x & pv) + pv) ^ pv) | x | mv;
  const ed_word ph = mv | ~(d0 | pv);
  const ed_word mh = d0 & pv;
  const ed_word ph_s = (ph << 1) | hp;
  const ed_word mh_s = (mh << 1) | hn;
  hp = (ph >> out_bit) & 1;
  hn = (mh >> out_bit) & 1;
  pv = mh_s | ~(d0 | ph_s);
  mv = ph_s & d0;
}

/// The full table for a pattern of m > 64 characters and a text of n >= m characters.
///
/// A column is a chain of dependent block steps (each block waits for the carry of the one
/// above), so one column at a time runs at the latency of that chain. Here the columns go in
/// groups of ed_full_group: each block is advanced through the whole group before the next
/// block starts, and block b at column j + 1 is independent of block b + 1 at column j, which
/// gives the processor ed_full_group independent chains. Only the last block's score is kept.
inline constexpr int ed_full_group = 4;

template <class RowOf, class Cls>
std::ptrdiff_t ed_full(const RowOf& row_of, const Cls* text, std::ptrdiff_t n, std::ptrdiff_t m,
                       std::ptrdiff_t nblocks, ed_block* st) {
  constexpr int g = ed_full_group;
  const std::ptrdiff_t last_block = nblocks - 1;
  const int last_bit = static_cast<int>((m - 1) % ed_word_bits);
  for (std::ptrdiff_t b = 0; b < nblocks; ++b) st[b] = {~ed_word{0}, 0, 0};
  std::ptrdiff_t score = m;
  std::ptrdiff_t j = 0;
  // Four columns written out, so that their carries stay in registers.
  for (; j + g <= n; j += g) {
    const auto& r0 = row_of(text[j]);
    const auto& r1 = row_of(text[j + 1]);
    const auto& r2 = row_of(text[j + 2]);
    const auto& r3 = row_of(text[j + 3]);
    // Row 0 of the table grows by 1 per column: +1 enters block 0 in every column.
    ed_word hp0 = 1, hp1 = 1, hp2 = 1, hp3 = 1;
    ed_word hn0 = 0, hn1 = 0, hn2 = 0, hn3 = 0;
    for (std::ptrdiff_t b = 0; b < last_block; ++b) {
      ed_word pv = st[b].pv;
      ed_word mv = st[b].mv;
      ed_carry_step(pv, mv, r0[b], hp0, hn0, ed_word_bits - 1);
      ed_carry_step(pv, mv, r1[b], hp1, hn1, ed_word_bits - 1);
      ed_carry_step(pv, mv, r2[b], hp2, hn2, ed_word_bits - 1);
      ed_carry_step(pv, mv, r3[b], hp3, hn3, ed_word_bits - 1);
      st[b].pv = pv;
      st[b].mv = mv;
    }
    ed_word pv = st[last_block].pv;
    ed_word mv = st[last_block].mv;
    ed_carry_step(pv, mv, r0[last_block], hp0, hn0, last_bit);
    ed_carry_step(pv, mv, r1[last_block], hp1, hn1, last_bit);
    ed_carry_step(pv, mv, r2[last_block], hp2, hn2, last_bit);
    ed_carry_step(pv, mv, r3[last_block], hp3, hn3, last_bit);
    st[last_block].pv = pv;
    st[last_block].mv = mv;
    score += static_cast<std::ptrdiff_t>(hp0 + hp1 + hp2 + hp3) -
             static_cast<std::ptrdiff_t>(hn0 + hn1 + hn2 + hn3);
  }
  for (; j < n; ++j) {
    const auto& row = row_of(text[j]);
    ed_word hp = 1;
    ed_word hn = 0;
    for (std::ptrdiff_t b = 0; b < last_block; ++b) {
      ed_carry_step(st[b].pv, st[b].mv, row[b], hp, hn, ed_word_bits - 1);
    }
    ed_carry_step(st[last_block].pv, st[last_block].mv, row[last_block], hp, hn, last_bit);
    score += static_cast<std::ptrdiff_t>(hp) - static_cast<std::ptrdiff_t>(hn);
  }
  return score;
}

/// Two 64-bit lanes in one vector register (SSE2 on x86-64, NEON on AArch64, pairs of scalars
/// elsewhere), through the vector extension that GCC and Clang share.
using ed_word2 = ed_word __attribute__((vector_size(16)));

/// ed_carry_step on two independent blocks at once, one per lane (carry bits as 0 or 1).
inline void ed_carry_step2(ed_word2& pv, ed_word2& mv, ed_word2 eq, ed_word2& hp,
                           ed_word2& hn) noexcept {
  const ed_word2 x = eq | hn;
  const ed_word2 d0 = (((x & pv) + pv) ^ pv) | x | mv;
  const ed_word2 ph = mv | ~(d0 | pv);
  const ed_word2 mh = d0 & pv;
  const ed_word2 ph_s = (ph << 1) | hp;
  const ed_word2 mh_s = (mh << 1) | hn;
  hp = ph >> (ed_word_bits - 1);
  hn = mh >> (ed_word_bits - 1);
  pv = mh_s | ~(d0 | ph_s);
  mv = ph_s & d0;
}

/// The full table as ed_full, with the column cut in two halves that run in the two lanes of a
/// vector: lane 0 takes the top h = (nblocks - 1) / 2 blocks on columns j .. j + 3 while lane 1
/// takes the next h blocks on columns j - 4 .. j - 1, fed by the carries that the top half
/// left at its last block one group earlier. The one or two blocks below (the last one
/// possibly partial) run scalar after lane 1, on the same columns. Needs nblocks >= 3 and
/// n >= 4. Scratch: 2 * h vectors.
/// From this many blocks on, the full table runs in two lanes (ed_full_split).
inline constexpr std::ptrdiff_t ed_split_min_blocks = 5;

template <class RowOf, class Cls>
std::ptrdiff_t ed_full_split(const RowOf& row_of, const Cls* text, std::ptrdiff_t n,
                             std::ptrdiff_t m, std::ptrdiff_t nblocks, ed_block* st) {
  constexpr int g = ed_full_group;
  const std::ptrdiff_t h = (nblocks - 1) / 2;
  const std::ptrdiff_t last_block = nblocks - 1;
  const int last_bit = static_cast<int>((m - 1) % ed_word_bits);
  // Pairs of blocks (b, h + b), b < h: pv at 2b, mv at 2b + 1.
  std::vector<ed_word2> pair(static_cast<std::size_t>(2 * h));
  for (std::ptrdiff_t b = 0; b < h; ++b) {
    pair[static_cast<std::size_t>(2 * b)] = ed_word2{~ed_word{0}, ~ed_word{0}};
    pair[static_cast<std::size_t>(2 * b + 1)] = ed_word2{0, 0};
  }
  for (std::ptrdiff_t b = 2 * h; b < nblocks; ++b) st[b] = {~ed_word{0}, 0, 0};
  std::ptrdiff_t score = m;

  // The blocks below the pairs, on one column, entered by carry (hp, hn).
  auto tail_step = [&](const auto& row, ed_word hp, ed_word hn) {
    for (std::ptrdiff_t b = 2 * h; b < last_block; ++b) {
      ed_carry_step(st[b].pv, st[b].mv, row[b], hp, hn, ed_word_bits - 1);
    }
    ed_carry_step(st[last_block].pv, st[last_block].mv, row[last_block], hp, hn, last_bit);
    score += static_cast<std::ptrdiff_t>(hp) - static_cast<std::ptrdiff_t>(hn);
  };

  using row_type = std::remove_cvref_t<decltype(row_of(text[0]))>;
  const std::ptrdiff_t groups = n / g;
  // Carries out of the top half's last block, on the columns of the previous group.
  std::array<ed_word, g> top_hp{};
  std::array<ed_word, g> top_hn{};
  // Group t: the top half on columns g*t .. g*t + 3 (t < groups), the bottom half on the
  // group before (t > 0). In the first and the last group one lane idles: it computes
  // something meaningless, and its old state is put back.
  for (std::ptrdiff_t t = 0; t <= groups; ++t) {
    const bool top = t < groups;
    const bool bottom = t > 0;
    const std::ptrdiff_t jt = top ? g * t : g * (t - 1);
    const std::ptrdiff_t jb = bottom ? g * (t - 1) : g * t;
    const row_type r0 = row_of(text[jt]), r1 = row_of(text[jt + 1]), r2 = row_of(text[jt + 2]),
                   r3 = row_of(text[jt + 3]);
    const row_type q0 = row_of(text[jb]), q1 = row_of(text[jb + 1]), q2 = row_of(text[jb + 2]),
                   q3 = row_of(text[jb + 3]);
    ed_word2 hp0{1, top_hp[0]}, hp1{1, top_hp[1]}, hp2{1, top_hp[2]}, hp3{1, top_hp[3]};
    ed_word2 hn0{0, top_hn[0]}, hn1{0, top_hn[1]}, hn2{0, top_hn[2]}, hn3{0, top_hn[3]};
    const ed_word2 keep{top ? ~ed_word{0} : 0, bottom ? ~ed_word{0} : 0};
    for (std::ptrdiff_t b = 0; b < h; ++b) {
      ed_word2& pv_ref = pair[static_cast<std::size_t>(2 * b)];
      ed_word2& mv_ref = pair[static_cast<std::size_t>(2 * b + 1)];
      ed_word2 pv = pv_ref;
      ed_word2 mv = mv_ref;
      ed_carry_step2(pv, mv, ed_word2{r0[b], q0[h + b]}, hp0, hn0);
      ed_carry_step2(pv, mv, ed_word2{r1[b], q1[h + b]}, hp1, hn1);
      ed_carry_step2(pv, mv, ed_word2{r2[b], q2[h + b]}, hp2, hn2);
      ed_carry_step2(pv, mv, ed_word2{r3[b], q3[h + b]}, hp3, hn3);
      if (top && bottom) {
        pv_ref = pv;
        mv_ref = mv;
      } else {
        pv_ref = (pv & keep) | (pv_ref & ~keep);
        mv_ref = (mv & keep) | (mv_ref & ~keep);
      }
    }
    if (bottom) {
      tail_step(q0, hp0[1], hn0[1]);
      tail_step(q1, hp1[1], hn1[1]);
      tail_step(q2, hp2[1], hn2[1]);
      tail_step(q3, hp3[1], hn3[1]);
    }
    top_hp = {hp0[0], hp1[0], hp2[0], hp3[0]};
    top_hn = {hn0[0], hn1[0], hn2[0], hn3[0]};
  }
  // The last n % 4 columns, one at a time through both halves and the tail.
  for (std::ptrdiff_t j = groups * g; j < n; ++j) {
    const row_type row = row_of(text[j]);
    ed_word hp = 1;
    ed_word hn = 0;
    for (int lane = 0; lane < 2; ++lane) {
      for (std::ptrdiff_t b = 0; b < h; ++b) {
        ed_word2& pv_ref = pair[static_cast<std::size_t>(2 * b)];
        ed_word2& mv_ref = pair[static_cast<std::size_t>(2 * b + 1)];
        ed_word pv = pv_ref[lane];
        ed_word mv = mv_ref[lane];
        ed_carry_step(pv, mv, row[lane * h + b], hp, hn, ed_word_bits - 1);
        pv_ref[lane] = pv;
        mv_ref[lane] = mv;
      }
    }
    tail_step(row, hp, hn);
  }
  return score;
}

/// Distance of a pattern of m > 64 characters to a text of n >= m characters, by banded passes
/// with growing thresholds, falling back to the full table once the band would cover half of
/// it. O(n * min(m, d + n - m) / 64) word operations for distance d, memory in `st` only.
///
/// Thresholds grow by doubling, or faster when a failed pass shows how fast the distance
/// grows: a pass that gave up at column j with threshold k suggests a distance near k * n / j.
/// Strings far apart (independent random ones) thus reach the full table after one short
/// failed pass, instead of a series of failed passes that cost a sizeable part of it.
template <class RowOf, class Cls>
std::ptrdiff_t ed_blocked(const RowOf& row_of, const Cls* text, std::ptrdiff_t n, std::ptrdiff_t m,
                          std::ptrdiff_t nblocks, ed_block* st) {
  const std::ptrdiff_t diff = n - m;
  std::ptrdiff_t extra = ed_word_bits;
  for (;;) {
    // Rows per column of the band of threshold diff + extra.
    const std::ptrdiff_t width = diff + extra + 1;
    if (width >= m / 2) {
      return nblocks >= ed_split_min_blocks ? ed_full_split(row_of, text, n, m, nblocks, st)
                                            : ed_full(row_of, text, n, m, nblocks, st);
    }
    const std::ptrdiff_t k = diff + extra;
    std::ptrdiff_t stopped_at = n;
    const std::ptrdiff_t d = ed_banded_pass(row_of, text, n, m, nblocks, st, k, &stopped_at);
    if (d <= k) return d;
    // The estimate, with an eighth added, if it beats doubling; it never exceeds the threshold
    // of the full table by much, since k * n / j <= k * n for j >= 1.
    const std::ptrdiff_t estimate = k / stopped_at * n + (k % stopped_at) * n / stopped_at;
    extra = std::max(2 * extra, estimate + estimate / 8 - diff);
  }
}

/// Byte strings a[0..m) and b[0..n), both non-empty and not equal as values.
inline std::ptrdiff_t byte_edit_distance(const char* a, std::ptrdiff_t m, const char* b,
                                         std::ptrdiff_t n) {
  // A common prefix or suffix never changes the distance; dropping it shrinks the table and
  // often ends the call here.
  const std::ptrdiff_t common = std::min(m, n);
  std::ptrdiff_t pre = 0;
  while (pre < common && a[pre] == b[pre]) ++pre;
  a += pre;
  b += pre;
  m -= pre;
  n -= pre;
  while (m > 0 && n > 0 && a[m - 1] == b[n - 1]) {
    --m;
    --n;
  }
  if (m > n) {
    std::swap(a, b);
    std::swap(m, n);
  }
  if (m == 0) return n;
  const auto* p = reinterpret_cast<const unsigned char*>(a);
  const auto* t = reinterpret_cast<const unsigned char*>(b);

  if (m <= ed_word_bits) {
    // Only the entries of bytes that occur are ever read, so only those are cleared: for short
    // strings that is far cheaper than clearing all 256.
    std::array<ed_word, 256> peq;
    // One loop clears both strings' entries (m <= n): fewer loop exits to mispredict.
    for (std::ptrdiff_t j = 0; j < n; ++j) {
      peq[t[j]] = 0;
      peq[p[j < m ? j : 0]] = 0;
    }
    for (std::ptrdiff_t i = 0; i < m; ++i) peq[p[i]] |= ed_word{1} << i;
    return myers_single_word(m, n, [&](std::ptrdiff_t j) { return peq[t[j]]; });
  }

  // One row of per-block masks per distinct pattern byte, plus a zero row (index 0) for the
  // bytes that do not occur: small alphabets keep the table small and in cache.
  const std::ptrdiff_t nblocks = (m + ed_word_bits - 1) / ed_word_bits;
  std::array<std::ptrdiff_t, 256> row_start{};
  std::ptrdiff_t rows = 1;
  for (std::ptrdiff_t i = 0; i < m; ++i) {
    if (row_start[p[i]] == 0) row_start[p[i]] = nblocks * rows++;
  }
  std::vector<ed_word> peq(static_cast<std::size_t>(rows * nblocks), 0);
  for (std::ptrdiff_t i = 0; i < m; ++i) {
    peq[static_cast<std::size_t>(row_start[p[i]] + i / ed_word_bits)] |= ed_word{1}
                                                                         << (i % ed_word_bits);
  }
  std::vector<ed_block> st(static_cast<std::size_t>(nblocks));
  const ed_word* table = peq.data();
  auto row_of = [table, &row_start](unsigned char c) { return table + row_start[c]; };
  return ed_blocked(row_of, t, n, m, nblocks, st.data());
}

/// Per-block match masks kept sparsely: for each block, its (class, mask) pairs sorted by
/// class, at most 64 of them. Memory O(m) whatever the number of classes; a lookup is a binary
/// search over at most 64 entries.
class ed_sparse_peq {
 public:
  struct entry {
    std::uint32_t cls;
    ed_word mask;
  };

  /// `pcls[i]` is the class of pattern row i; m > 0.
  ed_sparse_peq(const std::uint32_t* pcls, std::ptrdiff_t m) {
    const std::ptrdiff_t nblocks = (m + ed_word_bits - 1) / ed_word_bits;
    entries_.reserve(static_cast<std::size_t>(m));
    begin_.reserve(static_cast<std::size_t>(nblocks) + 1);
    std::array<entry, ed_word_bits> buf;
    for (std::ptrdiff_t b = 0; b < nblocks; ++b) {
      begin_.push_back(static_cast<std::ptrdiff_t>(entries_.size()));
      const std::ptrdiff_t lo = b * ed_word_bits;
      const std::ptrdiff_t len = std::min(ed_word_bits, m - lo);
      for (std::ptrdiff_t r = 0; r < len; ++r) {
        buf[static_cast<std::size_t>(r)] = {pcls[lo + r], ed_word{1} << r};
      }
      std::sort(buf.begin(), buf.begin() + len,
                [](const entry& u, const entry& v) { return u.cls < v.cls; });
      for (std::ptrdiff_t r = 0; r < len; ++r) {
        const entry& e = buf[static_cast<std::size_t>(r)];
        if (r > 0 && entries_.back().cls == e.cls) {
          entries_.back().mask |= e.mask;
        } else {
          entries_.push_back(e);
        }
      }
    }
    begin_.push_back(static_cast<std::ptrdiff_t>(entries_.size()));
  }

  /// The masks of one class, indexable by block.
  class row {
   public:
    row(const ed_sparse_peq& peq, std::uint32_t cls) : peq_(&peq), cls_(cls) {}
    ed_word operator[](std::ptrdiff_t b) const {
      const entry* first = peq_->entries_.data() + peq_->begin_[static_cast<std::size_t>(b)];
      const entry* last = peq_->entries_.data() + peq_->begin_[static_cast<std::size_t>(b) + 1];
      const entry* it = std::lower_bound(first, last, cls_,
                                         [](const entry& e, std::uint32_t c) { return e.cls < c; });
      return it != last && it->cls == cls_ ? it->mask : 0;
    }

   private:
    const ed_sparse_peq* peq_;
    std::uint32_t cls_;
  };

 private:
  std::vector<entry> entries_;
  std::vector<std::ptrdiff_t> begin_;
};

/// Up to this many rows (character classes and the row of characters not in the pattern) the
/// per-class masks are stored densely, rows * blocks words, no more than the byte-string table;
/// beyond it, sparsely (O(m) words).
inline constexpr std::ptrdiff_t ed_dense_class_limit = 257;

/// The class of character c: the index among `classes` (>= 1) representatives, positions
/// `pre + rep[k]` of ps in ascending char_compare order, of the one comparing equal to c; -1 if
/// none does. A branch-free lower bound: the outcome of each compare is a coin toss, so a branch
/// on it would be mispredicted about every other time. floor(log2(classes)) + 1 compares.
template <StringTraits T>
std::ptrdiff_t ed_find_class(const typename T::string_type& ps, std::ptrdiff_t pre,
                             const std::ptrdiff_t* rep, std::ptrdiff_t classes,
                             const typename T::char_type& c) {
  std::ptrdiff_t base = 0;
  for (std::ptrdiff_t len = classes; len > 1;) {
    // The class sought, if any, lies in base .. base + len - 1.
    const std::ptrdiff_t half = len / 2;
    const bool below = T::char_compare(T::get(ps, pre + rep[base + half - 1]), c) < 0;
    base = below ? base + half : base;
    len -= half;
  }
  return T::char_compare(T::get(ps, pre + rep[base]), c) == 0 ? base : -1;
}

/// Any bundle: s1 and s2 of lengths m, n, both non-empty and not equal as values. Characters are
/// fetched with T::get and compared only through T::char_compare (as a total order, so the sign
/// of a compare with swapped arguments is the negated sign).
template <StringTraits T>
std::ptrdiff_t generic_edit_distance(const typename T::string_type& s1, std::ptrdiff_t m,
                                     const typename T::string_type& s2, std::ptrdiff_t n) {
  using string_type = typename T::string_type;
  auto same = [&](std::ptrdiff_t i, std::ptrdiff_t j) {
    return T::char_compare(T::get(s1, i), T::get(s2, j)) == 0;
  };
  const std::ptrdiff_t common = std::min(m, n);
  std::ptrdiff_t pre = 0;
  while (pre < common && same(pre, pre)) ++pre;
  std::ptrdiff_t m1 = m - pre;
  std::ptrdiff_t n1 = n - pre;
  while (m1 > 0 && n1 > 0 && same(pre + m1 - 1, pre + n1 - 1)) {
    --m1;
    --n1;
  }
  // Pattern: the shorter remainder, text: the longer one; both start at offset pre.
  const bool swap = m1 > n1;
  const string_type& ps = swap ? s2 : s1;
  const string_type& ts = swap ? s1 : s2;
  const std::ptrdiff_t pm = swap ? n1 : m1;
  const std::ptrdiff_t tn = swap ? m1 : n1;
  if (pm == 0) return tn;
  auto pattern_less = [&](std::ptrdiff_t u, std::ptrdiff_t v) {
    return T::char_compare(T::get(ps, pre + u), T::get(ps, pre + v)) < 0;
  };

  if (pm <= ed_word_bits) {
    // Sorted pattern positions, then one representative and one mask per class.
    std::array<std::ptrdiff_t, ed_word_bits> order;
    std::iota(order.begin(), order.begin() + pm, std::ptrdiff_t{0});
    std::sort(order.begin(), order.begin() + pm, pattern_less);
    std::array<std::ptrdiff_t, ed_word_bits> rep;
    std::array<ed_word, ed_word_bits> mask;
    std::ptrdiff_t classes = 0;
    for (std::ptrdiff_t r = 0; r < pm; ++r) {
      const std::ptrdiff_t i = order[static_cast<std::size_t>(r)];
      if (classes == 0 || pattern_less(rep[static_cast<std::size_t>(classes - 1)], i)) {
        rep[static_cast<std::size_t>(classes)] = i;
        mask[static_cast<std::size_t>(classes)] = 0;
        ++classes;
      }
      mask[static_cast<std::size_t>(classes - 1)] |= ed_word{1} << i;
    }
    auto eq_at = [&](std::ptrdiff_t j) -> ed_word {
      const std::ptrdiff_t k = ed_find_class<T>(ps, pre, rep.data(), classes, T::get(ts, pre + j));
      return k < 0 ? 0 : mask[static_cast<std::size_t>(k)];
    };
    return myers_single_word(pm, tn, eq_at);
  }

  std::vector<std::ptrdiff_t> order(static_cast<std::size_t>(pm));
  std::iota(order.begin(), order.end(), std::ptrdiff_t{0});
  std::sort(order.begin(), order.end(), pattern_less);
  std::vector<std::uint32_t> pcls(static_cast<std::size_t>(pm));
  std::vector<std::ptrdiff_t> rep;  // a pattern position per class, in class order
  for (const std::ptrdiff_t i : order) {
    if (rep.empty() || pattern_less(rep.back(), i)) rep.push_back(i);
    pcls[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(rep.size() - 1);
  }
  const auto none = static_cast<std::uint32_t>(rep.size());  // text characters not in the pattern
  std::vector<std::uint32_t> tcls(static_cast<std::size_t>(tn));
  for (std::ptrdiff_t j = 0; j < tn; ++j) {
    const std::ptrdiff_t k = ed_find_class<T>(
        ps, pre, rep.data(), static_cast<std::ptrdiff_t>(rep.size()), T::get(ts, pre + j));
    tcls[static_cast<std::size_t>(j)] = k < 0 ? none : static_cast<std::uint32_t>(k);
  }

  const std::ptrdiff_t nblocks = (pm + ed_word_bits - 1) / ed_word_bits;
  std::vector<ed_block> st(static_cast<std::size_t>(nblocks));
  const std::ptrdiff_t rows = static_cast<std::ptrdiff_t>(none) + 1;
  if (rows <= ed_dense_class_limit) {
    std::vector<ed_word> peq(static_cast<std::size_t>(rows * nblocks), 0);
    for (std::ptrdiff_t i = 0; i < pm; ++i) {
      peq[static_cast<std::size_t>(pcls[static_cast<std::size_t>(i)] * nblocks +
                                   i / ed_word_bits)] |= ed_word{1} << (i % ed_word_bits);
    }
    const ed_word* table = peq.data();
    auto row_of = [table, nblocks](std::uint32_t c) { return table + c * nblocks; };
    return ed_blocked(row_of, tcls.data(), tn, pm, nblocks, st.data());
  }
  const ed_sparse_peq peq(pcls.data(), pm);
  auto row_of = [&peq](std::uint32_t c) { return ed_sparse_peq::row(peq, c); };
  return ed_blocked(row_of, tcls.data(), tn, pm, nblocks, st.data());
}

}  // namespace tolvex::detail
