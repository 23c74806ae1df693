// Minimal consumer of an installed (or add_subdirectory'd) Tolvex.
#include <tolvex/tolvex.hpp>

#include <cstdio>

int main() {
  const auto d = tolvex::edit_distance("kitten", "sitting");
  if (d != 3) {
    std::fprintf(stderr, "edit_distance(\"kitten\", \"sitting\") returned %d, expected 3\n",
                 static_cast<int>(d));
    return 1;
  }
  std::puts("tolvex consumer: ok");
  return 0;
}
