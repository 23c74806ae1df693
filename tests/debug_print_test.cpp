// The text dump: its four line forms, their order per state, and the character printer.
#include <gtest/gtest.h>

#include <ios>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tolvex/tolvex.hpp"

namespace {

using B = tolvex::detail::instance<tolvex::byte_string_traits>;
using DFA = B::DFA;

std::string dump(const tolvex::automaton& a) {
  std::ostringstream out;
  tolvex::debug_print(out, a);
  return out.str();
}

TEST(DebugPrint, Dumps) {
  auto hand = DFA::create(3);
  for (int i = 0; i < 3; ++i) DFA::add_state(hand);
  DFA::add_transition(hand, 0, {'b', 2});
  DFA::add_transition(hand, 0, {'a', 1});
  DFA::add_otherwise(hand, 0, 2);
  DFA::set_final(hand, 1);
  DFA::add_transition(hand, 2, {'a', 1});

  auto loop = DFA::create(1);
  DFA::add_state(loop);
  DFA::add_otherwise(loop, 0, 0);  // 0 is a target, not "none"

  auto newline = DFA::create(2);
  DFA::add_state(newline);
  DFA::add_state(newline);
  DFA::add_transition(newline, 0, {'\n', 1});

  const std::pair<tolvex::automaton, std::string> cases[] = {
      {tolvex::automaton{}, "automaton of 0 states\n"},
      {hand,
       "automaton of 3 states\n  0 --a--> 1\n  0 --b--> 2\n  0 --*--> 2\n  success 1\n"
       "  2 --a--> 1\n"},
      {tolvex::of_string(1, "x"),
       "automaton of 4 states\n  success 0\n  0 --x--> 1\n  0 --*--> 3\n  success 1\n"
       "  1 --x--> 2\n  1 --*--> 2\n  success 2\n  success 3\n  3 --x--> 2\n"},
      {tolvex::of_string(0, ""), "automaton of 1 states\n  success 0\n"},
      {loop, "automaton of 1 states\n  0 --*--> 0\n"},
      {newline, "automaton of 2 states\n  0 --\n--> 1\n"},  // the raw byte
  };
  for (const auto& [a, text] : cases) EXPECT_EQ(dump(a), text);
}

TEST(DebugPrint, PrinterAndStream) {
  auto a = DFA::create(8);
  for (int i = 0; i < 8; ++i) DFA::add_state(a);
  DFA::add_transition(a, 4, {'x', 7});
  DFA::add_otherwise(a, 4, 12);
  std::ostringstream out;
  out << std::hex << std::showbase;  // integers stay plain decimal
  B::debug_print([](std::ostream& o, char c) { o << '[' << c << ']'; }, out, a);
  EXPECT_EQ(out.str(), "automaton of 8 states\n  4 --[x]--> 7\n  4 --*--> 12\n");
}

// More states in use than room for them (a store created with capacity 0): the dump stops at
// the first state it cannot read, keeping what it wrote.
TEST(DebugPrint, StopsAtAStateOutsideTheArrays) {
  auto a = DFA::create(0);
  DFA::add_state(a);
  std::ostringstream out;
  EXPECT_THROW(tolvex::debug_print(out, a), std::out_of_range);
  EXPECT_EQ(out.str(), "automaton of 1 states\n");
}

}  // namespace
