// Inputs shared by the benchmark programs.
#pragma once

#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace tolvex::bench {

/// The dictionary: TOLVEX_WORD_LIST as CMake found it, else Debian's wamerican-insane path.
inline const char* word_list_path() {
#ifdef TOLVEX_WORD_LIST
  return TOLVEX_WORD_LIST;
#else
  return "/usr/share/dict/american-english-insane";
#endif
}

/// The non-empty lines of the dictionary in file order; empty when the file is missing, and
/// the cases that need it then report an error and skip.
inline std::vector<std::string> read_words() {
  std::vector<std::string> words;
  std::ifstream in(word_list_path());
  for (std::string w; std::getline(in, w);) {
    if (!w.empty()) words.push_back(std::move(w));
  }
  return words;
}

}  // namespace tolvex::bench
