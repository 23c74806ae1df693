// Shared values across threads: indexes and automata are immutable once made, so any number of
// threads may read one while another derives new versions from it and drops old ones. This test
// runs such a mix and checks every answer against one computed before the threads start. Its
// real worth is under ThreadSanitizer (the tsan preset), which sees any unsynchronised access to
// reference counts or nodes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_support.hpp"
#include "tolvex/tolvex.hpp"

namespace {

using tolvex::Index;
using tolvex::testing::random_edits;
using tolvex::testing::random_string;

struct query {
  int limit;
  std::string pattern;
  std::vector<int> expected;
};

TEST(Concurrency, ReadersAndAWriterShareOneIndexAndOneAutomaton) {
  std::mt19937_64 rng(2024);
  std::vector<std::pair<std::string, int>> pairs;
  for (int i = 0; i < 3000; ++i) pairs.emplace_back(random_string(rng, 1 + rng() % 9, "abcd"), i);
  const tolvex::index<int> base = Index::of_list(pairs);
  const std::vector<std::pair<std::string, int>> base_list = Index::to_list(base);

  std::vector<query> queries;
  for (int i = 0; i < 24; ++i) {
    const int limit = i % 3;
    std::string p = random_edits(rng, pairs[rng() % pairs.size()].first, limit, "abcd");
    queries.push_back({limit, p, Index::retrieve_l(limit, base, p)});
  }
  const std::string pattern = "abcabca";
  const tolvex::automaton shared_automaton = tolvex::of_string(2, pattern);
  std::vector<std::pair<std::string, bool>> strings;
  for (int i = 0; i < 200; ++i) {
    std::string s = random_edits(rng, pattern, rng() % 4, "abcd");
    strings.emplace_back(s, tolvex::edit_distance(pattern, s) <= 2);
  }

  // The writer publishes versions derived from `base` here; readers take copies and check them.
  std::mutex slot_mutex;
  tolvex::index<int> slot = base;
  std::string slot_key;
  std::atomic<bool> done{false};
  std::atomic<int> failures{0};

  auto reader = [&](unsigned seed) {
    std::mt19937_64 r(seed);
    for (int round = 0; round < 60; ++round) {
      const query& q = queries[r() % queries.size()];
      if (Index::retrieve_l(q.limit, base, q.pattern) != q.expected) ++failures;
      if (tolvex::list_of_seq(Index::retrieve(q.limit, base, q.pattern)) != q.expected) ++failures;
      if (round % 10 == 0 && Index::to_list(base) != base_list) ++failures;
      for (int i = 0; i < 20; ++i) {
        const auto& [s, accepted] = strings[r() % strings.size()];
        if (tolvex::match_with(shared_automaton, s) != accepted) ++failures;
      }
      tolvex::index<int> mine;
      std::string key;
      {
        std::lock_guard<std::mutex> lock(slot_mutex);
        mine = slot;
        key = slot_key;
      }
      // A published version holds its key under -1 (or is base itself, with an empty key).
      if (!key.empty()) {
        const auto found = Index::retrieve_l(0, mine, key);
        if (found.empty() || found.front() != -1) ++failures;
      }
    }
  };

  auto writer = [&] {
    std::mt19937_64 r(7);
    std::vector<tolvex::index<int>> recent;
    for (int round = 0; round < 400 && !done; ++round) {
      std::string key = "z" + random_string(r, 1 + r() % 6, "abcd");
      tolvex::index<int> v = Index::add(base, key, -1);
      v = Index::remove(v, pairs[r() % pairs.size()].first);
      v = Index::add(v, key, -1);
      recent.push_back(v);
      if (recent.size() > 8) recent.erase(recent.begin());  // drop old versions
      std::lock_guard<std::mutex> lock(slot_mutex);
      slot = v;
      slot_key = key;
    }
  };

  std::vector<std::thread> threads;
  threads.emplace_back(writer);
  for (unsigned t = 0; t < 3; ++t) threads.emplace_back(reader, 100 + t);
  for (std::size_t t = 1; t < threads.size(); ++t) threads[t].join();
  done = true;
  threads[0].join();

  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Index::to_list(base), base_list);  // nothing the threads did changed base
}

}  // namespace
