// Levenshtein automata: construction (of_string) and matching (match_with).
//
// Cases, every input seeded (std::mt19937_64, fixed seeds):
//   OfStringWords/len/k   256 dictionary words of exactly len bytes (4, 8, 11, 16), one
//                         automaton per iteration, in turn; k = 1 to 4.
//   OfStringDict/k        256 dictionary words of any length (about 9.5 bytes on average).
//   OfStringLevenshtein/k the pattern "levenshtein".
//   OfStringRandom/len/k  a random pattern over 26 letters, 64 or 256 bytes, k = 1 and 2.
//   Scan{Automaton,EditDistance}/k
//                         one pass over every dictionary word: match_with against one
//                         automaton, or edit_distance(p, w) <= k on each word, for the same
//                         pattern (a dictionary word), so the two rows compare directly.
//   MatchLong/len/k       match_with of a random pattern against itself (accepted, read to the
//                         end): len = 10^5 bytes, the automaton far larger than the caches.
//
// Counters: "states" is the number of states per automaton, "per_state" the time per state,
// "per_word" and "per_byte" the time per word scanned and per byte matched.
//
// The dictionary is TOLVEX_WORD_LIST (Debian's wamerican-insane); without it the cases that
// need it report an error.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "tolvex/tolvex.hpp"

namespace {

const std::vector<std::string>& dictionary() {
  static const std::vector<std::string> words = tolvex::bench::read_words();
  return words;
}

// 256 dictionary words, of exactly `length` bytes when length > 0; seeded choice.
std::vector<std::string> sample_words(std::size_t length, std::uint64_t seed) {
  const auto& dict = dictionary();
  std::vector<std::string> pool;
  for (const auto& w : dict) {
    if (length == 0 || w.size() == length) pool.push_back(w);
  }
  std::vector<std::string> out;
  if (pool.empty()) return out;
  std::mt19937_64 rng(seed);
  for (int i = 0; i < 256; ++i) out.push_back(pool[rng() % pool.size()]);
  return out;
}

std::string random_letters(std::size_t length, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string s(length, 'a');
  for (char& c : s) c = static_cast<char>('a' + rng() % 26);
  return s;
}

void build_each(benchmark::State& state, const std::vector<std::string>& patterns, int k) {
  if (patterns.empty()) {
    state.SkipWithError("no patterns (is the word list installed?)");
    return;
  }
  std::size_t i = 0;
  std::int64_t states = 0;
  for (auto _ : state) {
    const auto a = tolvex::of_string(k, patterns[i]);
    states += a.len();
    benchmark::DoNotOptimize(a);
    if (++i == patterns.size()) i = 0;
  }
  state.counters["states"] =
      benchmark::Counter(static_cast<double>(states), benchmark::Counter::kAvgIterations);
  state.counters["per_state"] = benchmark::Counter(
      static_cast<double>(states), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void OfStringWords(benchmark::State& state) {
  build_each(state, sample_words(static_cast<std::size_t>(state.range(0)), 1),
             static_cast<int>(state.range(1)));
}
BENCHMARK(OfStringWords)->ArgsProduct({{4, 8, 11, 16}, {1, 2, 3, 4}});

void OfStringDict(benchmark::State& state) {
  build_each(state, sample_words(0, 2), static_cast<int>(state.range(0)));
}
BENCHMARK(OfStringDict)->DenseRange(1, 3);

void OfStringLevenshtein(benchmark::State& state) {
  build_each(state, {"levenshtein"}, static_cast<int>(state.range(0)));
}
BENCHMARK(OfStringLevenshtein)->DenseRange(1, 4);

void OfStringRandom(benchmark::State& state) {
  build_each(state, {random_letters(static_cast<std::size_t>(state.range(0)), 3)},
             static_cast<int>(state.range(1)));
}
BENCHMARK(OfStringRandom)->ArgsProduct({{64, 256}, {1, 2}})->Unit(benchmark::kMicrosecond);

// The scan pattern: a dictionary word of ordinary length.
std::string scan_pattern() {
  const auto words = sample_words(9, 4);
  return words.empty() ? std::string("levenshtein") : words.front();
}

template <class Accept>
void scan(benchmark::State& state, Accept&& accept) {
  const auto& dict = dictionary();
  if (dict.empty()) {
    state.SkipWithError("no word list");
    return;
  }
  std::int64_t hits = 0;
  for (auto _ : state) {
    for (const auto& w : dict) hits += accept(w) ? 1 : 0;
  }
  benchmark::DoNotOptimize(hits);
  state.counters["per_word"] =
      benchmark::Counter(static_cast<double>(state.iterations() * dict.size()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["hits"] =
      benchmark::Counter(static_cast<double>(hits), benchmark::Counter::kAvgIterations);
}

void ScanAutomaton(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  const auto a = tolvex::of_string(k, scan_pattern());
  scan(state, [&a](const std::string& w) { return tolvex::match_with(a, w); });
}
BENCHMARK(ScanAutomaton)->DenseRange(1, 3)->Unit(benchmark::kMillisecond);

void ScanEditDistance(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  const std::string p = scan_pattern();
  scan(state, [&p, k](const std::string& w) { return tolvex::edit_distance(p, w) <= k; });
}
BENCHMARK(ScanEditDistance)->DenseRange(1, 3)->Unit(benchmark::kMillisecond);

void MatchLong(benchmark::State& state) {
  const std::string p = random_letters(static_cast<std::size_t>(state.range(0)), 5);
  const auto a = tolvex::of_string(static_cast<int>(state.range(1)), p);
  for (auto _ : state) {
    bool ok = tolvex::match_with(a, p);
    benchmark::DoNotOptimize(ok);
  }
  state.counters["states"] = static_cast<double>(a.len());
  state.counters["per_byte"] =
      benchmark::Counter(static_cast<double>(state.iterations() * p.size()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(MatchLong)->ArgsProduct({{100'000}, {1, 2}})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
