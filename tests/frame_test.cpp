// The frame: byte-string traits, the error types, seq and list_of_seq.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "tolvex/errors.hpp"
#include "tolvex/seq.hpp"
#include "tolvex/traits.hpp"

namespace {

using tolvex::byte_string_traits;
using tolvex::list_of_seq;
using tolvex::seq;

TEST(ByteTraits, OfListGetLength) {
  const std::vector<char> abc = {'a', 'b', 'c'};
  EXPECT_EQ(byte_string_traits::of_list(std::span<const char>()), "");
  EXPECT_EQ(byte_string_traits::length(byte_string_traits::of_list(std::span<const char>())), 0);
  EXPECT_EQ(byte_string_traits::of_list(abc), "abc");
  const std::string with_nul("a\0b", 3);
  EXPECT_EQ(byte_string_traits::length(with_nul), 3);
  EXPECT_EQ(byte_string_traits::get(with_nul, 1), '\0');
  EXPECT_EQ(byte_string_traits::get("abc", 2), 'c');
  EXPECT_THROW(byte_string_traits::get("abc", 3), std::out_of_range);
  EXPECT_THROW(byte_string_traits::get("abc", -1), std::out_of_range);
  EXPECT_THROW(byte_string_traits::get("", 0), std::out_of_range);
}

TEST(ByteTraits, CharCompareIsUnsignedByteOrder) {
  const auto cmp = [](int a, int b) {
    return byte_string_traits::char_compare(static_cast<char>(a), static_cast<char>(b));
  };
  EXPECT_GT(cmp(233, 122), 0);  // as signed char, 233 would be negative
  EXPECT_LT(cmp(122, 233), 0);
  EXPECT_GT(cmp(255, 0), 0);
  EXPECT_LT(cmp(127, 128), 0);
  EXPECT_EQ(cmp(233, 233), 0);
  EXPECT_EQ(cmp(0, 0), 0);
}

TEST(Errors, KindsAndLocation) {
  const tolvex::assertion_failure failure("index.hpp", 42, 7);
  EXPECT_EQ(failure.file(), "index.hpp");
  EXPECT_EQ(failure.line(), 42);
  EXPECT_EQ(failure.column(), 7);
  EXPECT_NE(std::string(failure.what()).find("index.hpp:42:7"), std::string::npos);
  static_assert(std::is_base_of_v<std::logic_error, tolvex::assertion_failure>);

  // A handler for index errors must not swallow not_found.
  static_assert(!std::is_base_of_v<std::out_of_range, tolvex::not_found>);
  bool caught_as_not_found = false;
  try {
    try {
      throw tolvex::not_found();
    } catch (const std::out_of_range&) {
      ADD_FAILURE() << "not_found caught as std::out_of_range";
    }
  } catch (const tolvex::not_found&) {
    caught_as_not_found = true;
  }
  EXPECT_TRUE(caught_as_not_found);
}

// The integers from..to, one deferred step each.
seq<int> range(int from, int to) {
  return seq<int>([from, to]() -> seq<int>::node {
    if (from > to) return std::nullopt;
    return std::make_pair(from, range(from + 1, to));
  });
}

TEST(Seq, AskingTwiceGivesTheSameAnswer) {
  const seq<int> s = range(1, 3);
  const auto first = s();
  const auto again = s();
  ASSERT_TRUE(first && again);
  EXPECT_EQ(first->first, 1);
  EXPECT_EQ(again->first, 1);
  EXPECT_EQ(list_of_seq(first->second), (std::vector<int>{2, 3}));
  EXPECT_EQ(list_of_seq(again->second), (std::vector<int>{2, 3}));
  EXPECT_EQ(list_of_seq(s), list_of_seq(s));  // traversable any number of times
  EXPECT_FALSE(seq<int>()());
}

TEST(Seq, ListOfSeq) {
  EXPECT_EQ(list_of_seq(seq<int>()), std::vector<int>{});
  EXPECT_EQ(list_of_seq(range(1, 0)), std::vector<int>{});
  EXPECT_EQ(list_of_seq(range(1, 1)), (std::vector<int>{1}));
  EXPECT_EQ(list_of_seq(range(1, 2)), (std::vector<int>{1, 2}));
  EXPECT_EQ(list_of_seq(range(1, 3)), (std::vector<int>{1, 2, 3}));
}

TEST(Seq, ListOfSeqAsksEachStepOnce) {
  auto asked = std::make_shared<int>(0);
  // Three elements; every ask of any step is counted.
  std::function<seq<int>(int)> from = [&from, asked](int k) {
    return seq<int>([k, asked, &from]() -> seq<int>::node {
      ++*asked;
      if (k > 3) return std::nullopt;
      return std::make_pair(k, from(k + 1));
    });
  };
  EXPECT_EQ(list_of_seq(from(1)), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(*asked, 4);  // three elements and the end
}

TEST(Seq, RangeFor) {
  std::vector<int> seen;
  for (int v : range(1, 3)) seen.push_back(v);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
  for (int v : seq<int>()) ADD_FAILURE() << "the empty seq yielded " << v;
}

// A producer with its own cursor: iteration must use it, asking must still work.
class counted_range final : public tolvex::detail::seq_impl<int> {
 public:
  counted_range(int from, int to, int* cursors) : from_(from), to_(to), cursors_(cursors) {}
  std::optional<std::pair<int, seq<int>>> ask() const override {
    if (from_ > to_) return std::nullopt;
    return std::make_pair(
        from_, seq<int>(std::make_shared<const counted_range>(from_ + 1, to_, cursors_)));
  }
  std::unique_ptr<tolvex::detail::seq_cursor<int>> open() const override {
    ++*cursors_;
    return std::make_unique<cursor>(from_, to_);
  }

 private:
  class cursor final : public tolvex::detail::seq_cursor<int> {
   public:
    cursor(int from, int to) : next_(from), to_(to) {}
    const int* next() override {
      if (next_ > to_) return nullptr;
      current_ = next_++;
      return &current_;
    }

   private:
    int next_;
    int to_;
    int current_ = 0;
  };
  int from_;
  int to_;
  int* cursors_;
};

TEST(Seq, ProducerCursorIsUsed) {
  int cursors = 0;
  const seq<int> s(std::make_shared<const counted_range>(1, 3, &cursors));
  EXPECT_EQ(list_of_seq(s), (std::vector<int>{1, 2, 3}));
  std::vector<int> seen;
  for (int v : s) seen.push_back(v);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(cursors, 2);
  ASSERT_TRUE(s());
  EXPECT_EQ(list_of_seq(s()->second), (std::vector<int>{2, 3}));
}

}  // namespace
