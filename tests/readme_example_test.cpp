// The Quick start example of README.md, with std::cout replaced by a stream; keep the two in sync.
#include <tolvex/tolvex.hpp>

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

void readme_example(std::ostream& out) {
  using tolvex::Index;
  auto words = Index::of_list(
      std::vector<std::pair<std::string, int>>{{"kitten", 1}, {"sitting", 2}, {"mitten", 3}});
  for (int v : Index::retrieve(1, words, "kitten")) out << v << '\n';           // 3, then 1
  out << tolvex::edit_distance("kitten", "sitting") << '\n';                    // 3
  out << tolvex::match_with(tolvex::of_string(2, "kitten"), "sittin") << '\n';  // 1
}

TEST(ReadmeExample, PrintsTheDocumentedOutput) {
  std::ostringstream out;
  readme_example(out);
  EXPECT_EQ(out.str(), "3\n1\n3\n1\n");
}

}  // namespace
