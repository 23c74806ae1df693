// A random programme of index updates run against a model: one std::map per version.
//
// Every step derives a new version from some earlier one (add, remove, or a bulk of_list), and
// then every version made so far is checked against its model: updates are persistent, so no
// later step may change what an earlier version holds. Retrieval on the new version is checked
// against a brute-force filter of its model, in enumeration order.
//
// Keys come from the alphabet {a, b, c} and are at most 6 characters long, so versions share
// nodes heavily; at most 48 steps run per input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.hpp"
#include "tolvex/tolvex.hpp"

namespace {

using tolvex::Index;
using model = std::map<std::string, int>;

std::string read_key(tolvex::fuzzing::reader& in) {
  const std::size_t len = in.byte() % 7;
  std::string key;
  for (std::size_t i = 0; i < len; ++i) key += tolvex::fuzzing::small_alphabet(in.byte(), 3);
  return key;
}

// The model's entries in the order of the index's increasing-key enumeration: std::map orders
// std::string keys by unsigned bytes, prefixes first, which is the same order.
std::vector<std::pair<std::string, int>> entries(const model& m) { return {m.begin(), m.end()}; }

void check(const tolvex::index<int>& idx, const model& m) {
  std::vector<std::pair<std::string, int>> seen;
  Index::iter([&](const std::string& k, const int& v) { seen.emplace_back(k, v); }, idx);
  if (seen != entries(m)) std::abort();
  if (Index::is_empty(idx) != m.empty()) std::abort();
}

void check_retrieval(const tolvex::index<int>& idx, int limit, const std::string& pattern) {
  std::vector<int> expected;
  for (const auto& [key, value] : tolvex::list_of_seq(Index::to_seq(idx))) {
    if (tolvex::edit_distance(key, pattern) <= limit) expected.push_back(value);
  }
  if (Index::retrieve_l(limit, idx, pattern) != expected) std::abort();
  if (tolvex::list_of_seq(Index::retrieve(limit, idx, pattern)) != expected) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1024) return -1;
  tolvex::fuzzing::reader in(data, size);
  std::vector<std::pair<tolvex::index<int>, model>> versions;
  versions.emplace_back(Index::empty<int>, model{});
  int next_value = 0;

  for (int step = 0; step < 48 && !in.empty(); ++step) {
    const std::uint8_t op = in.byte();
    const auto& [base, base_model] = versions[in.byte() % versions.size()];
    tolvex::index<int> idx;
    model m;
    switch (op % 3) {
      case 0: {
        const std::string key = read_key(in);
        idx = Index::add(base, key, next_value);
        m = base_model;
        m[key] = next_value++;
        break;
      }
      case 1: {
        const std::string key = read_key(in);
        idx = Index::remove(base, key);
        m = base_model;
        m.erase(key);
        break;
      }
      default: {
        std::vector<std::pair<std::string, int>> pairs(in.byte() % 8);
        for (auto& [key, value] : pairs) {
          key = read_key(in);
          value = next_value++;
          m[key] = value;  // the last value for a key wins
        }
        idx = Index::of_list(pairs);
        break;
      }
    }
    versions.emplace_back(idx, m);
    for (const auto& [v, vm] : versions) check(v, vm);
    check_retrieval(idx, in.byte() % 4, read_key(in));
  }
  return 0;
}
