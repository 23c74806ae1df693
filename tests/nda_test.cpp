// The materialised NDA: list contents and order, the transition equality, and its errors.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "tolvex/tolvex.hpp"

namespace {

using NDA = tolvex::detail::instance<tolvex::byte_string_traits>::NDA;
using CiNDA = tolvex::detail::instance<tolvex::testing::ci_traits>::NDA;

// A list front first: "E(1,1) A(0,1) C(x,1,0) F" for Epsilon, Labelled Any, Labelled Char and
// Accept.
template <class N>
std::string render(const std::vector<typename N::nda_transition>& list) {
  std::string out;
  for (const auto& t : list) {
    if (!out.empty()) out += ' ';
    if (std::holds_alternative<typename N::Accept>(t)) {
      out += 'F';
    } else if (const auto* e = std::get_if<typename N::Epsilon>(&t)) {
      out += "E(" + std::to_string(e->i) + "," + std::to_string(e->j) + ")";
    } else {
      const auto& l = std::get<typename N::Labelled>(t);
      const auto* c = std::get_if<typename N::Char>(&l.label);
      out += c ? std::string("C(") + c->c + "," : std::string("A(");
      out += std::to_string(l.i) + "," + std::to_string(l.j) + ")";
    }
  }
  return out;
}

TEST(Nda, ListsFrontFirst) {
  struct row {
    int limit;
    std::string pattern;
    std::vector<std::vector<std::string>> lists;  // [i][j]
  };
  const std::vector<row> cases = {
      {1,
       "xy",
       {{"E(1,1) A(0,1) A(1,1) C(x,1,0)", "C(x,1,1)"},
        {"E(2,1) A(1,1) A(2,1) C(y,2,0)", "C(y,2,1)"},
        {"F A(2,1)", "F"}}},
      {2, "", {{"F A(0,1)", "F A(0,2)", "F"}}},
      {0, "abc", {{"C(a,1,0)"}, {"C(b,2,0)"}, {"C(c,3,0)"}, {"F"}}},
  };
  for (const row& c : cases) {
    SCOPED_TRACE(c.pattern + " at " + std::to_string(c.limit));
    const auto m = NDA::make(c.limit, c.pattern);
    ASSERT_EQ(NDA::length(m), static_cast<std::ptrdiff_t>(c.lists.size()));
    for (int i = 0; i < static_cast<int>(c.lists.size()); ++i) {
      for (int j = 0; j <= c.limit; ++j) {
        EXPECT_EQ(render<NDA>(NDA::get(m, {i, j})), c.lists[i][j]) << i << "," << j;
        EXPECT_EQ(NDA::is_final(m, {i, j}), i == static_cast<int>(c.pattern.size()));
      }
    }
  }
}

TEST(Nda, OutOfMatrix) {
  const auto m = NDA::make(1, "xy");
  for (NDA::nda_state s : {NDA::nda_state{3, 0}, {0, 2}, {-1, 0}, {0, -1}}) {
    EXPECT_THROW(NDA::get(m, s), std::out_of_range);
    EXPECT_THROW(NDA::is_final(m, s), std::out_of_range);
  }
}

TEST(Nda, LimitErrors) {
  const auto none = NDA::make(-1, "abc");  // n + 1 rows without columns
  EXPECT_EQ(NDA::length(none), 4);
  EXPECT_THROW(NDA::get(none, {0, 0}), std::out_of_range);
  EXPECT_THROW(NDA::make(-2, "abc"), std::invalid_argument);
  // A matrix that could never become an automaton fails before it is allocated.
  EXPECT_THROW(NDA::make(1'000'000'000, "ab"), std::length_error);
}

TEST(Nda, MemTrEquality) {
  using T = NDA::nda_transition;
  const std::vector<T> list = {NDA::Epsilon{1, 1}, NDA::Labelled{NDA::Any{}, 0, 1},
                               NDA::Labelled{NDA::Char{'x'}, 1, 1}, NDA::Accept{}};
  EXPECT_TRUE(NDA::mem_tr(NDA::Accept{}, list));
  EXPECT_TRUE(NDA::mem_tr(NDA::Labelled{NDA::Char{'x'}, 1, 1}, list));
  EXPECT_TRUE(NDA::mem_tr(NDA::Epsilon{1, 1}, list));
  EXPECT_FALSE(NDA::mem_tr(NDA::Labelled{NDA::Any{}, 1, 1}, list));  // Any is not Char x
  EXPECT_FALSE(NDA::mem_tr(NDA::Labelled{NDA::Char{'X'}, 1, 1}, list));
  EXPECT_FALSE(NDA::mem_tr(NDA::Epsilon{0, 1}, list));  // same target as an Any, other kind
  EXPECT_FALSE(NDA::mem_tr(NDA::Accept{}, {}));
  // Char labels compare with the bundle's char_compare.
  EXPECT_TRUE(CiNDA::mem_tr(CiNDA::Labelled{CiNDA::Char{'X'}, 1, 1},
                            {CiNDA::Labelled{CiNDA::Char{'x'}, 1, 1}}));
}

}  // namespace
