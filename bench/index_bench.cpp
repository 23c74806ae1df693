// The approximate-match index on a real dictionary: bulk build time, memory per key, and
// retrieval latency, against a brute-force scan with edit_distance and, for memory, against
// std::map<std::string, int>.
//
// Input: TOLVEX_WORD_LIST (Debian's wamerican-insane, 663,473 words), each word mapped to its
// line number. Cases:
//   Build           of_list over all pairs in file order; counter keys_per_s.
//   Memory/index    bytes allocated (mallinfo2 before and after) by one of_list, per key.
//   Memory/std_map  the same for std::map<std::string, int> holding the same pairs.
//   Retrieve/k/dict 1,000 seeded queries, each a dictionary word after 0 to k random edits
//                   (insert, delete, substitute with a lower-case letter); retrieve_l per
//                   query, automaton construction included; counters median_us, p99_us,
//                   mean_us (wall clock), cpu_median_us, cpu_p99_us (thread CPU time) and
//                   results (values found per query).
//   Retrieve/k/misspellings  the same over the 658 distinct misspellings of
//                   ../shared/data/misspellings (Norvig's test sets), when present.
//   BruteForce/k    the first 20 dictionary queries by scanning every word with
//                   edit_distance; counters median_us and index_speedup (the scan's median
//                   over the index's median on the same 20 queries).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.hpp"
#include "tolvex/tolvex.hpp"

namespace {

using pair_list = std::vector<std::pair<std::string, int>>;

// The misspellings sit in the shared folder beside the checkout; TOLVEX_MISSPELLINGS_DIR
// overrides.
std::filesystem::path misspellings_dir() {
  if (const char* env = std::getenv("TOLVEX_MISSPELLINGS_DIR")) return env;
  return std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "shared" / "data" /
         "misspellings";
}

const pair_list& word_pairs() {
  static const pair_list pairs = [] {
    pair_list out;
    std::ifstream in(tolvex::bench::word_list_path());
    int line = 0;
    for (std::string w; std::getline(in, w); ++line) {
      if (!w.empty()) out.emplace_back(std::move(w), line);
    }
    return out;
  }();
  return pairs;
}

const tolvex::index<int>& word_index() {
  static const tolvex::index<int> idx = tolvex::Index::of_list(word_pairs());
  return idx;
}

std::string with_edits(std::mt19937_64& rng, std::string s, std::size_t edits) {
  for (std::size_t e = 0; e < edits; ++e) {
    const char c = static_cast<char>('a' + rng() % 26);
    const auto kind = s.empty() ? 0 : rng() % 3;
    if (kind == 0) {
      s.insert(s.begin() + static_cast<std::ptrdiff_t>(rng() % (s.size() + 1)), c);
    } else if (kind == 1) {
      s.erase(s.begin() + static_cast<std::ptrdiff_t>(rng() % s.size()));
    } else {
      s[rng() % s.size()] = c;
    }
  }
  return s;
}

// 1,000 dictionary words with 0 to k edits each, the same for every run.
std::vector<std::string> dictionary_queries(int k) {
  const pair_list& pairs = word_pairs();
  std::vector<std::string> out;
  if (pairs.empty()) return out;
  std::mt19937_64 rng(1000 + static_cast<unsigned>(k));
  for (int i = 0; i < 1000; ++i) {
    const std::string& w = pairs[rng() % pairs.size()].first;
    out.push_back(with_edits(rng, w, rng() % static_cast<unsigned>(k + 1)));
  }
  return out;
}

// The distinct wrong spellings of the test sets ("right: wrong1 wrong2 ..." per line).
std::vector<std::string> misspellings() {
  std::set<std::string> wrong;
  for (const char* name : {"spell-testset1.txt", "spell-testset2.txt"}) {
    std::ifstream in(misspellings_dir() / name);
    for (std::string line; std::getline(in, line);) {
      const auto colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::istringstream words(line.substr(colon + 1));
      for (std::string w; words >> w;) wrong.insert(w);
    }
  }
  return {wrong.begin(), wrong.end()};
}

double percentile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
  return v[i];
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// CPU time of this thread: unlike the wall clock it does not count time the thread spends
// descheduled on a shared machine.
double thread_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::size_t allocated_bytes() {
  const struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
}

void BM_Build(benchmark::State& state) {
  const pair_list& pairs = word_pairs();
  if (pairs.empty()) return state.SkipWithError("word list missing");
  for (auto _ : state) {
    auto idx = tolvex::Index::of_list(pairs);
    benchmark::DoNotOptimize(idx);
    state.PauseTiming();  // releasing the index is not part of the build
    idx = tolvex::index<int>();
    state.ResumeTiming();
  }
  state.counters["keys_per_s"] = benchmark::Counter(static_cast<double>(pairs.size()),
                                                    benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Build)->Unit(benchmark::kMillisecond)->UseRealTime();

// Trie nodes of the word list: one per distinct prefix, the empty one included.
std::size_t trie_nodes(const pair_list& pairs) {
  std::vector<std::string> keys;
  for (const auto& p : pairs) keys.push_back(p.first);
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  std::size_t nodes = 1;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::size_t l = 0;
    if (i > 0) {
      while (l < keys[i].size() && l < keys[i - 1].size() && keys[i][l] == keys[i - 1][l]) ++l;
    }
    nodes += keys[i].size() - l;
  }
  return nodes;
}

void BM_Memory(benchmark::State& state, bool std_map) {
  const pair_list& pairs = word_pairs();
  if (pairs.empty()) return state.SkipWithError("word list missing");
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::size_t before = allocated_bytes();
    if (std_map) {
      std::map<std::string, int> m(pairs.begin(), pairs.end());
      bytes = allocated_bytes() - before;
      benchmark::DoNotOptimize(m);
    } else {
      auto idx = tolvex::Index::of_list(pairs);
      bytes = allocated_bytes() - before;
      benchmark::DoNotOptimize(idx);
    }
  }
  state.counters["bytes_per_key"] = static_cast<double>(bytes) / static_cast<double>(pairs.size());
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
  if (!std_map) {
    const std::size_t nodes = trie_nodes(pairs);
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["bytes_per_node"] = static_cast<double>(bytes) / static_cast<double>(nodes);
  }
}
BENCHMARK_CAPTURE(BM_Memory, index, false)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Memory, std_map, true)->Iterations(1)->Unit(benchmark::kMillisecond);

void report_latency(benchmark::State& state, const std::vector<double>& samples,
                    const std::vector<double>& cpu, std::size_t results, std::size_t queries) {
  state.counters["median_us"] = percentile(samples, 0.5) * 1e6;
  state.counters["p99_us"] = percentile(samples, 0.99) * 1e6;
  state.counters["cpu_median_us"] = percentile(cpu, 0.5) * 1e6;
  state.counters["cpu_p99_us"] = percentile(cpu, 0.99) * 1e6;
  double sum = 0;
  for (double s : samples) sum += s;
  state.counters["mean_us"] = sum / static_cast<double>(samples.size()) * 1e6;
  state.counters["results"] = static_cast<double>(results) / static_cast<double>(queries);
}

void BM_Retrieve(benchmark::State& state, bool real_misspellings) {
  const int k = static_cast<int>(state.range(0));
  if (word_pairs().empty()) return state.SkipWithError("word list missing");
  const std::vector<std::string> queries =
      real_misspellings ? misspellings() : dictionary_queries(k);
  if (queries.empty()) return state.SkipWithError("misspellings missing");
  const tolvex::index<int>& idx = word_index();
  std::vector<double> samples;
  std::vector<double> cpu;
  std::size_t results = 0;
  std::size_t asked = 0;
  for (auto _ : state) {
    for (const std::string& q : queries) {
      const double c0 = thread_seconds();
      const auto t0 = std::chrono::steady_clock::now();
      auto found = tolvex::Index::retrieve_l(k, idx, q);
      samples.push_back(seconds_since(t0));
      cpu.push_back(thread_seconds() - c0);
      results += found.size();
      benchmark::DoNotOptimize(found);
    }
    asked += queries.size();
  }
  report_latency(state, samples, cpu, results, asked);
}
BENCHMARK_CAPTURE(BM_Retrieve, dict, false)->DenseRange(1, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Retrieve, misspellings, true)->DenseRange(1, 3)->Unit(benchmark::kMillisecond);

void BM_BruteForce(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  const pair_list& pairs = word_pairs();
  if (pairs.empty()) return state.SkipWithError("word list missing");
  std::vector<std::string> queries = dictionary_queries(k);
  queries.resize(20);
  std::vector<double> brute;
  std::vector<double> indexed;
  for (auto _ : state) {
    for (const std::string& q : queries) {
      auto t0 = std::chrono::steady_clock::now();
      std::vector<int> found;
      for (const auto& [w, v] : pairs) {
        if (tolvex::edit_distance(w, q) <= k) found.push_back(v);
      }
      brute.push_back(seconds_since(t0));
      benchmark::DoNotOptimize(found);
      t0 = std::chrono::steady_clock::now();
      auto fast = tolvex::Index::retrieve_l(k, word_index(), q);
      indexed.push_back(seconds_since(t0));
      benchmark::DoNotOptimize(fast);
    }
  }
  state.counters["median_us"] = percentile(brute, 0.5) * 1e6;
  state.counters["index_speedup"] = percentile(brute, 0.5) / percentile(indexed, 0.5);
}
BENCHMARK(BM_BruteForce)->DenseRange(1, 3)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
