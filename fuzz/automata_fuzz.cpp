// Matching against the distance: match_with(of_string(k, p), s) must equal
// edit_distance(p, s) <= k for every limit, pattern and string. For short patterns the
// memoised construction's dump must also equal that of the literal, re-exploring one.
//
// Input: the limit (0 to 3), the pattern (at most 12 bytes; 4 or 5 for the literal comparison,
// whose cost grows with the number of paths), then the strings to match, each at most 40 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "../tests/test_support.hpp"
#include "fuzz_support.hpp"
#include "tolvex/tolvex.hpp"

namespace {

std::string dump(const tolvex::automaton& a) {
  std::ostringstream out;
  tolvex::debug_print(out, a);
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 512) return -1;
  tolvex::fuzzing::reader in(data, size);
  const int limit = in.byte() % 4;
  const std::string pattern = in.string(12);
  using ci = tolvex::Make<tolvex::testing::ci_traits>;
  const auto a = tolvex::of_string(limit, pattern);
  const auto a_ci = ci::of_string(limit, pattern);
  if (pattern.size() <= (limit == 3 ? 4u : 5u)) {
    using full = tolvex::detail::instance<tolvex::byte_string_traits>;
    const auto literal = full::DFA::of_nda(full::NDA::make(limit, pattern));
    if (dump(a) != dump(literal)) std::abort();
  }
  while (!in.empty()) {
    const std::string s = in.string(40);
    const bool expected = tolvex::edit_distance(pattern, s) <= limit;
    if (tolvex::match_with(a, s) != expected) std::abort();
    if (ci::match_with(a_ci, s) != (ci::edit_distance(pattern, s) <= limit)) std::abort();
  }
  return 0;
}
