// The text dump of an automaton.
//
// Four line forms, in this order per state: "  success %d" when final, "  %d --%a--> %d" for
// each pair of its list from the front, "  %d --*--> %d" when it has an otherwise target; all
// after the header "automaton of %d states". Integers are written in plain decimal whatever the
// stream's format flags; the stream is not flushed.
#pragma once

#include <charconv>
#include <ostream>
#include <utility>

#include "../traits.hpp"
#include "automaton.hpp"
#include "dfa.hpp"

namespace tolvex::detail {

/// The debug_print component over the bundle T.
template <StringTraits T>
struct printer {
  /// Writes the dump of `a` to `out`; `print_char(out, c)` writes one character where the line
  /// needs it. O(states + pairs). Errors of print_char and of the stream pass through.
  ///   debug_print([](std::ostream& o, char c) { o.put(c); }, std::cout, of_string(1, "x"));
  template <class P>
  static void debug_print(P&& print_char, std::ostream& out,
                          const automaton<typename T::char_type>& a) {
    using DFA = dfa<T>;
    out << "automaton of ";
    put_int(out, a.len());
    out << " states\n";
    for (int i = 0; i < a.len(); ++i) {
      const auto list = DFA::get(a, i);
      if (DFA::is_final(a, i)) {
        out << "  success ";
        put_int(out, i);
        out << '\n';
      }
      for (const auto& [c, j] : list) {
        out << "  ";
        put_int(out, i);
        out << " --";
        print_char(out, c);
        out << "--> ";
        put_int(out, j);
        out << '\n';
      }
      const int o = DFA::otherwise(a, i);
      if (o >= 0) {
        out << "  ";
        put_int(out, i);
        out << " --*--> ";
        put_int(out, o);
        out << '\n';
      }
    }
  }

 private:
  static void put_int(std::ostream& out, int v) {
    char buf[16];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.write(buf, r.ptr - buf);
  }
};

}  // namespace tolvex::detail
