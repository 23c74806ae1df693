// Tolvex against its peers on one question: every word of a dictionary within k edits of a
// query word.
//
// Contenders, each answering the same queries:
//   tolvex-index   Index::retrieve_l on a trie of every word (automaton built per query)
//   tolvex-scan    one automaton per query, match_with over every word
//   tolvex-brute   tolvex::edit_distance(q, w) <= k over every word
//   edlib-brute    edlibAlign(q, w, k, NW, DISTANCE) over every word
//   plain-brute    a two-row dynamic programme over every word whose length is within k
//   tre-approx     TRE's approximate regex matcher, the query as an anchored literal
//
// The brute-force contenders take about a second per query, so they run on the first
// `--slow N` queries (default 40); the two automaton contenders run on all of them as well.
// Every contender must find the same matches in total on the queries they share, or the run
// fails. Output: a human-readable report on stderr and CSV rows on stdout:
//   latency,<contender>,<k>,<queries>,<matches>,<median_us>,<p99_us>,<mean_us>
//   index,<keys>,<build_ms>,<bytes_per_key>,<std_map_bytes_per_key>,<peak_rss_mb>
//   automaton,<pattern_length>,<k>,<states>,<build_us>,<ns_per_state>
//   distance,<case>,<tolvex_ns>,<edlib_ns>
//
// Usage: peers [--dict FILE] [--queries N] [--slow N] [--seed S]
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tolvex/tolvex.hpp"

#ifdef TOLVEX_HAVE_EDLIB
#include <edlib.h>
#endif
#ifdef TOLVEX_HAVE_TRE
#include <tre/tre.h>
#endif

namespace {

using clock_type = std::chrono::steady_clock;

double micros_since(clock_type::time_point start) {
  return std::chrono::duration<double, std::micro>(clock_type::now() - start).count();
}

std::size_t allocated_bytes() {
  const struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
}

double peak_rss_mb() {
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

struct options {
  std::string dict = "/usr/share/dict/american-english-insane";
  std::size_t queries = 1000;
  std::size_t slow = 40;
  std::uint64_t seed = 20261210;
};

// Queries: a dictionary word with 0 to k random edits over the list's own byte alphabet.
std::vector<std::string> make_queries(const std::vector<std::string>& words, int k,
                                      std::size_t count, std::uint64_t seed) {
  std::set<char> byte_set;
  for (const auto& w : words) byte_set.insert(w.begin(), w.end());
  const std::vector<char> alphabet(byte_set.begin(), byte_set.end());
  std::mt19937_64 rng(seed + static_cast<std::uint64_t>(k));
  std::vector<std::string> out;
  for (std::size_t q = 0; q < count; ++q) {
    std::string s = words[rng() % words.size()];
    const int edits = static_cast<int>(rng() % static_cast<std::uint64_t>(k + 1));
    for (int e = 0; e < edits; ++e) {
      const char c = alphabet[rng() % alphabet.size()];
      const auto kind = rng() % 3;
      if (kind == 0 || s.empty()) {
        s.insert(s.begin() + static_cast<std::ptrdiff_t>(rng() % (s.size() + 1)), c);
      } else if (kind == 1) {
        s.erase(s.begin() + static_cast<std::ptrdiff_t>(rng() % s.size()));
      } else {
        s[rng() % s.size()] = c;
      }
    }
    out.push_back(std::move(s));
  }
  return out;
}

// The plain two-row programme, with the length filter applied by the caller.
int plain_distance(const std::string& a, const std::string& b, std::vector<int>& prev,
                   std::vector<int>& cur) {
  const std::size_t n = b.size();
  prev.resize(n + 1);
  cur.resize(n + 1);
  for (std::size_t j = 0; j <= n; ++j) prev[j] = static_cast<int>(j);
  for (std::size_t i = 0; i < a.size(); ++i) {
    cur[0] = static_cast<int>(i + 1);
    for (std::size_t j = 0; j < n; ++j) {
      const int cost = a[i] == b[j] ? 0 : 1;
      cur[j + 1] = std::min({cur[j] + 1, prev[j + 1] + 1, prev[j] + cost});
    }
    std::swap(prev, cur);
  }
  return prev[n];
}

#ifdef TOLVEX_HAVE_TRE
// The query as an anchored literal. TRE's approximate matcher does not count an insertion
// right before the end anchor (it misses "hyaena" -> "hyaenas" at k = 1), so both the pattern
// and every word are framed by a byte that occurs in neither: the frame leaves the edit
// distance unchanged and moves every edit inside it.
constexpr char tre_frame = '\x01';

std::string tre_literal(const std::string& q) {
  std::string re = "^";
  re += tre_frame;
  for (char c : q) {
    if (std::string_view(".[]()*+?{}|^$\\").find(c) != std::string_view::npos) re += '\\';
    re += c;
  }
  re += tre_frame;
  return re + "$";
}
#endif

struct result {
  std::string name;
  int k;
  std::vector<double> micros;
  std::size_t matches = 0;
};

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

double mean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return v.empty() ? 0 : s / static_cast<double>(v.size());
}

// Runs `count_matches` on each query, timing each one.
result run(const std::string& name, int k, const std::vector<std::string>& queries,
           std::size_t count, const std::function<std::size_t(const std::string&)>& count_matches) {
  result r{name, k, {}, 0};
  for (std::size_t q = 0; q < std::min(count, queries.size()); ++q) {
    const auto start = clock_type::now();
    r.matches += count_matches(queries[q]);
    r.micros.push_back(micros_since(start));
  }
  return r;
}

void report(const result& r) {
  std::printf("latency,%s,%d,%zu,%zu,%.3f,%.3f,%.3f\n", r.name.c_str(), r.k, r.micros.size(),
              r.matches, percentile(r.micros, 0.5), percentile(r.micros, 0.99), mean(r.micros));
}

int automaton_states(const tolvex::automaton& a) {
  std::ostringstream out;
  tolvex::debug_print(out, a);
  int states = 0;
  std::sscanf(out.str().c_str(), "automaton of %d states", &states);
  return states;
}

}  // namespace

int main(int argc, char** argv) {
  options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "peers: " << arg << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--dict") {
      opt.dict = value();
    } else if (arg == "--queries") {
      opt.queries = std::stoul(value());
    } else if (arg == "--slow") {
      opt.slow = std::stoul(value());
    } else if (arg == "--seed") {
      opt.seed = std::stoull(value());
    } else {
      std::cerr << "usage: peers [--dict FILE] [--queries N] [--slow N] [--seed S]\n";
      return 2;
    }
  }

  std::ifstream in(opt.dict);
  if (!in) {
    std::cerr << "peers: cannot read " << opt.dict << "\n";
    return 1;
  }
  std::vector<std::string> words;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) words.push_back(line);
  }
  std::cerr << "dictionary: " << words.size() << " words from " << opt.dict << "\n";

  // Index build and memory, against std::map<std::string, int>.
  std::vector<std::pair<std::string, int>> pairs;
  pairs.reserve(words.size());
  for (std::size_t i = 0; i < words.size(); ++i) pairs.emplace_back(words[i], static_cast<int>(i));
  const std::size_t before = allocated_bytes();
  const auto build_start = clock_type::now();
  const tolvex::index<int> idx = tolvex::Index::of_list(pairs);
  const double build_ms = micros_since(build_start) / 1000.0;
  const double index_bytes = static_cast<double>(allocated_bytes() - before);
  double map_bytes = 0;
  {
    const std::size_t map_before = allocated_bytes();
    std::map<std::string, int> m;
    for (const auto& [w, v] : pairs) m.emplace(w, v);
    map_bytes = static_cast<double>(allocated_bytes() - map_before);
  }
  const double keys = static_cast<double>(words.size());
  std::printf("index,%zu,%.1f,%.1f,%.1f,%.1f\n", words.size(), build_ms, index_bytes / keys,
              map_bytes / keys, peak_rss_mb());
  std::cerr << "index: built in " << build_ms << " ms, " << index_bytes / keys
            << " bytes/key (std::map: " << map_bytes / keys << ")\n";

  bool agree = true;
  for (int k = 1; k <= 3; ++k) {
    const auto queries = make_queries(words, k, opt.queries, opt.seed);
    std::vector<result> results;
    auto by_index = [&](const std::string& q) {
      return tolvex::Index::retrieve_l(k, idx, q).size();
    };
    auto by_scan = [&](const std::string& q) {
      const auto a = tolvex::of_string(k, q);
      std::size_t n = 0;
      for (const auto& w : words) n += tolvex::match_with(a, w) ? 1 : 0;
      return n;
    };
    // All queries for the fast contenders; the shared first `slow` queries for everyone.
    const result index_all = run("tolvex-index", k, queries, queries.size(), by_index);
    results.push_back(run("tolvex-index", k, queries, opt.slow, by_index));
    results.push_back(run("tolvex-scan", k, queries, opt.slow, by_scan));
    results.push_back(run("tolvex-brute", k, queries, opt.slow, [&](const std::string& q) {
      std::size_t n = 0;
      for (const auto& w : words) n += tolvex::edit_distance(q, w) <= k ? 1 : 0;
      return n;
    }));
#ifdef TOLVEX_HAVE_EDLIB
    results.push_back(run("edlib-brute", k, queries, opt.slow, [&](const std::string& q) {
      std::size_t n = 0;
      const EdlibAlignConfig config =
          edlibNewAlignConfig(k, EDLIB_MODE_NW, EDLIB_TASK_DISTANCE, nullptr, 0);
      for (const auto& w : words) {
        EdlibAlignResult r = edlibAlign(q.data(), static_cast<int>(q.size()), w.data(),
                                        static_cast<int>(w.size()), config);
        n += (r.status == EDLIB_STATUS_OK && r.editDistance >= 0) ? 1 : 0;
        edlibFreeAlignResult(r);
      }
      return n;
    }));
#endif
    {
      std::vector<int> prev, cur;
      results.push_back(run("plain-brute", k, queries, opt.slow, [&](const std::string& q) {
        std::size_t n = 0;
        for (const auto& w : words) {
          const auto diff = static_cast<long>(q.size()) - static_cast<long>(w.size());
          if (diff > k || -diff > k) continue;
          n += plain_distance(q, w, prev, cur) <= k ? 1 : 0;
        }
        return n;
      }));
    }
#ifdef TOLVEX_HAVE_TRE
    results.push_back(run("tre-approx", k, queries, opt.slow, [&](const std::string& q) {
      regex_t re;
      const std::string pattern = tre_literal(q);
      if (tre_regncomp(&re, pattern.data(), pattern.size(), REG_EXTENDED | REG_NOSUB) != 0) {
        std::cerr << "tre: cannot compile " << pattern << "\n";
        std::exit(1);
      }
      regaparams_t params;
      tre_regaparams_default(&params);
      params.cost_ins = params.cost_del = params.cost_subst = 1;
      params.max_cost = k;
      std::size_t n = 0;
      std::string framed;
      for (const auto& w : words) {
        framed.assign(1, tre_frame);
        framed += w;
        framed += tre_frame;
        regamatch_t match{};
        n += tre_reganexec(&re, framed.data(), framed.size(), &match, params, 0) == REG_OK ? 1 : 0;
      }
      tre_regfree(&re);
      return n;
    }));
#endif
    report(index_all);
    for (const auto& r : results) report(r);
    std::cerr << "k = " << k << ": tolvex-index over " << index_all.micros.size()
              << " queries: median " << percentile(index_all.micros, 0.5) << " us, p99 "
              << percentile(index_all.micros, 0.99) << " us\n";
    const double base = percentile(results.front().micros, 0.5);
    for (const auto& r : results) {
      const double med = percentile(r.micros, 0.5);
      std::cerr << "  " << r.name << ": " << r.matches << " matches on " << r.micros.size()
                << " queries, median " << med << " us, p99 " << percentile(r.micros, 0.99)
                << " us, " << med / base << "x the index\n";
      if (r.matches != results.front().matches) {
        std::cerr << "  MISMATCH: " << r.name << " found " << r.matches << ", the index "
                  << results.front().matches << "\n";
        agree = false;
      }
    }
  }

  // Automaton construction: time per state by pattern length and limit.
  {
    std::mt19937_64 rng(opt.seed);
    for (int k = 1; k <= 3; ++k) {
      for (std::size_t len : {4, 8, 16, 32, 64, 128}) {
        if (k == 3 && len > 64) continue;
        std::string p(len, 'a');
        for (char& c : p) c = static_cast<char>('a' + rng() % 26);
        const int reps = static_cast<int>(std::max<std::size_t>(20, 4000 / len));
        const auto start = clock_type::now();
        int accepted = 0;
        for (int r = 0; r < reps; ++r) accepted += tolvex::match_with(tolvex::of_string(k, p), p);
        const double us = micros_since(start) / reps;
        if (accepted != reps) agree = false;
        const int n = automaton_states(tolvex::of_string(k, p));
        std::printf("automaton,%zu,%d,%d,%.3f,%.1f\n", len, k, n, us, us * 1000.0 / n);
      }
    }
  }

  // Edit-distance throughput against edlib: word pairs and random 1,000-byte pairs.
  {
    std::mt19937_64 rng(opt.seed + 99);
    auto random_bytes = [&](std::size_t n) {
      std::string s(n, '\0');
      for (char& c : s) c = static_cast<char>(rng() % 256);
      return s;
    };
    struct distance_case {
      const char* name;
      std::vector<std::pair<std::string, std::string>> pairs;
    };
    std::vector<distance_case> cases(2);
    cases[0].name = "word-pairs";
    for (int i = 0; i < 20000; ++i) {
      cases[0].pairs.emplace_back(words[rng() % words.size()], words[rng() % words.size()]);
    }
    cases[1].name = "random-1000";
    for (int i = 0; i < 200; ++i)
      cases[1].pairs.emplace_back(random_bytes(1000), random_bytes(1000));
    for (const auto& c : cases) {
      [[maybe_unused]] long long sum_t = 0;  // checked against edlib when it is present
      auto start = clock_type::now();
      for (const auto& [a, b] : c.pairs) sum_t += tolvex::edit_distance(a, b);
      const double t_ns = micros_since(start) * 1000.0 / static_cast<double>(c.pairs.size());
      double e_ns = 0;
#ifdef TOLVEX_HAVE_EDLIB
      long long sum_e = 0;
      start = clock_type::now();
      for (const auto& [a, b] : c.pairs) {
        EdlibAlignResult r = edlibAlign(a.data(), static_cast<int>(a.size()), b.data(),
                                        static_cast<int>(b.size()), edlibDefaultAlignConfig());
        sum_e += r.editDistance;
        edlibFreeAlignResult(r);
      }
      e_ns = micros_since(start) * 1000.0 / static_cast<double>(c.pairs.size());
      if (sum_e != sum_t) {
        std::cerr << "distance MISMATCH on " << c.name << "\n";
        agree = false;
      }
#endif
      std::printf("distance,%s,%.1f,%.1f\n", c.name, t_ns, e_ns);
      std::cerr << "distance " << c.name << ": tolvex " << t_ns << " ns, edlib " << e_ns
                << " ns per pair\n";
    }
  }
  std::printf("rss,%.1f\n", peak_rss_mb());
  return agree ? 0 : 1;
}
