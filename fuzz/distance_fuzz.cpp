// The fast edit distance against the plain two-row programme, for byte strings and for a
// case-insensitive bundle (which takes the generic path).
//
// Input: one byte picks the split point, the rest is cut into the two strings. Strings are
// capped at 2,048 bytes together, so one run of the quadratic oracle stays within milliseconds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../tests/test_support.hpp"
#include "fuzz_support.hpp"
#include "tolvex/tolvex.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 2049) return -1;
  tolvex::fuzzing::reader in(data, size);
  const std::uint8_t split = in.byte();
  std::string all = in.rest(2048);
  const std::size_t cut = all.size() * split / 255;
  const std::string a = all.substr(0, cut);
  const std::string b = all.substr(cut);

  using ci = tolvex::testing::ci_traits;
  const auto fast = tolvex::edit_distance(a, b);
  const auto plain = tolvex::detail::plain_edit_distance<tolvex::byte_string_traits>(a, b);
  if (fast != plain) std::abort();
  const auto fast_ci = tolvex::Make<ci>::edit_distance(a, b);
  const auto plain_ci = tolvex::detail::plain_edit_distance<ci>(a, b);
  if (fast_ci != plain_ci) std::abort();
  return 0;
}
