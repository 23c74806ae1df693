// Edit distance: tolvex::edit_distance against the plain two-row programme it replaced and, when
// built with TOLVEX_HAVE_EDLIB, against edlib (global alignment, distance only).
//
// Cases, every input seeded (std::mt19937_64, fixed seeds), the same for every contender:
//   Words      10,000 random pairs of words from TOLVEX_WORD_LIST (Debian's wamerican-insane);
//              one iteration runs all of them, "per_pair" is the time of one pair.
//   Random1k   16 pairs of independent random 1,000-byte strings (all 256 byte values),
//              one pair per iteration, in turn.
//   Random100k a pair of independent random 100,000-byte strings.
//   Near100k   a random 100,000-byte string and a copy after 1,000 random single-byte edits
//              (insert, delete, substitute), about 1% apart.
//
// The plain programme needs 10^10 cells for a 100,000-byte pair (tens of seconds), so its two
// 100k cases are registered only when the environment sets TOLVEX_BENCH_PLAIN_100K=1; every
// other case runs by default, and a token run (--benchmark_min_time=0.0001) takes a few seconds.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench_support.hpp"
#include "tolvex/edit_distance.hpp"

#ifdef TOLVEX_HAVE_EDLIB
#include <edlib.h>
#endif

namespace {

using pair_list = std::vector<std::pair<std::string, std::string>>;

std::string random_bytes(std::mt19937_64& rng, std::size_t length) {
  std::string s(length, '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xff);
  return s;
}

// `edits` single-byte edits at random places; the result lies within `edits` of s.
std::string with_edits(std::mt19937_64& rng, std::string s, std::size_t edits) {
  for (std::size_t e = 0; e < edits; ++e) {
    const char c = static_cast<char>(rng() & 0xff);
    switch (rng() % 3) {
      case 0:
        s.insert(s.begin() + static_cast<std::ptrdiff_t>(rng() % (s.size() + 1)), c);
        break;
      case 1:
        s.erase(s.begin() + static_cast<std::ptrdiff_t>(rng() % s.size()));
        break;
      default:
        s[rng() % s.size()] = c;
    }
  }
  return s;
}

// Empty when the word list is missing (the benchmark then reports an error and skips).
const pair_list& word_pairs() {
  static const pair_list pairs = [] {
    const std::vector<std::string> words = tolvex::bench::read_words();
    pair_list out;
    if (words.empty()) return out;
    std::mt19937_64 rng(20240601);
    for (int k = 0; k < 10000; ++k) {
      out.emplace_back(words[rng() % words.size()], words[rng() % words.size()]);
    }
    return out;
  }();
  return pairs;
}

const pair_list& random_1k_pairs() {
  static const pair_list pairs = [] {
    std::mt19937_64 rng(1000);
    pair_list out;
    for (int k = 0; k < 16; ++k) {
      std::string a = random_bytes(rng, 1000);
      out.emplace_back(std::move(a), random_bytes(rng, 1000));
    }
    return out;
  }();
  return pairs;
}

const pair_list& random_100k_pairs() {
  static const pair_list pairs = [] {
    std::mt19937_64 rng(100000);
    std::string a = random_bytes(rng, 100000);
    return pair_list{{std::move(a), random_bytes(rng, 100000)}};
  }();
  return pairs;
}

const pair_list& near_100k_pairs() {
  static const pair_list pairs = [] {
    std::mt19937_64 rng(100001);
    std::string a = random_bytes(rng, 100000);
    std::string b = with_edits(rng, a, 1000);
    return pair_list{{std::move(a), std::move(b)}};
  }();
  return pairs;
}

std::ptrdiff_t run_tolvex(const std::string& a, const std::string& b) {
  return tolvex::detail::distance<tolvex::byte_string_traits>::edit_distance(a, b);
}

std::ptrdiff_t run_plain(const std::string& a, const std::string& b) {
  return tolvex::detail::plain_edit_distance<tolvex::byte_string_traits>(a, b);
}

#ifdef TOLVEX_HAVE_EDLIB
std::ptrdiff_t run_edlib(const std::string& a, const std::string& b) {
  EdlibAlignResult r =
      edlibAlign(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                 edlibNewAlignConfig(-1, EDLIB_MODE_NW, EDLIB_TASK_DISTANCE, nullptr, 0));
  const std::ptrdiff_t d = r.editDistance;
  edlibFreeAlignResult(r);
  return d;
}
#endif

using distance_fn = std::ptrdiff_t (*)(const std::string&, const std::string&);

// One iteration: every pair of the list; "per_pair" is the time of one pair.
void all_pairs(benchmark::State& state, const pair_list& (*pairs_of)(), distance_fn fn) {
  const pair_list& pairs = pairs_of();
  if (pairs.empty()) {
    state.SkipWithError("word list not found; install wamerican-insane");
    return;
  }
  for (auto _ : state) {
    std::ptrdiff_t sum = 0;
    for (const auto& [a, b] : pairs) sum += fn(a, b);
    benchmark::DoNotOptimize(sum);
  }
  state.counters["per_pair"] = benchmark::Counter(
      static_cast<double>(pairs.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// One iteration: the next pair of the list, in turn.
void pair_in_turn(benchmark::State& state, const pair_list& (*pairs_of)(), distance_fn fn) {
  const pair_list& pairs = pairs_of();
  std::size_t k = 0;
  for (auto _ : state) {
    const auto& [a, b] = pairs[k];
    benchmark::DoNotOptimize(fn(a, b));
    k = k + 1 == pairs.size() ? 0 : k + 1;
  }
}

void register_case(const std::string& name,
                   void (*shape)(benchmark::State&, const pair_list& (*)(), distance_fn),
                   const pair_list& (*pairs_of)(), bool plain_too, int plain_iterations) {
  benchmark::RegisterBenchmark((name + "/tolvex").c_str(), shape, pairs_of, &run_tolvex)
      ->Unit(benchmark::kMicrosecond);
#ifdef TOLVEX_HAVE_EDLIB
  benchmark::RegisterBenchmark((name + "/edlib").c_str(), shape, pairs_of, &run_edlib)
      ->Unit(benchmark::kMicrosecond);
#endif
  if (plain_too) {
    auto* b = benchmark::RegisterBenchmark((name + "/plain").c_str(), shape, pairs_of, &run_plain)
                  ->Unit(benchmark::kMicrosecond);
    if (plain_iterations > 0) b->Iterations(plain_iterations);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* slow = std::getenv("TOLVEX_BENCH_PLAIN_100K");
  const bool plain_100k = slow != nullptr && std::string_view(slow) == "1";
  register_case("Words", all_pairs, word_pairs, true, 0);
  register_case("Random1k", pair_in_turn, random_1k_pairs, true, 0);
  register_case("Random100k", pair_in_turn, random_100k_pairs, plain_100k, 1);
  register_case("Near100k", pair_in_turn, near_100k_pairs, plain_100k, 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
