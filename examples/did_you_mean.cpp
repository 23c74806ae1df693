// did_you_mean: suggests dictionary words close to the words it is given.
//
//   did_you_mean [--limit K] [--dict FILE] [WORD...]
//
// Loads a word list (one word per line) into a tolvex::index, then, for each WORD on the
// command line or else each line of standard input, prints the dictionary words within K edits
// (default 2), nearest first, each with its edit distance. It reports how long loading and each
// lookup took.
//
// The dictionary is FILE if given, else /usr/share/dict/words when present, else the small
// list shipped in examples/data/words.txt (found through TOLVEX_EXAMPLE_WORDS when the build
// defines it, else next to this source file).
#include <tolvex/tolvex.hpp>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: did_you_mean [--limit K] [--dict FILE] [WORD...]\n"
    "\n"
    "Prints the dictionary words within K edits (insertions, deletions, substitutions) of each\n"
    "WORD, nearest first, with their distances. Without WORDs, reads one word per line from\n"
    "standard input.\n"
    "\n"
    "  --limit K    the largest edit distance to report, 0 to 4 (default 2)\n"
    "  --dict FILE  the word list, one word per line (default /usr/share/dict/words if present,\n"
    "               else the list shipped with the example)\n"
    "  --help       this text\n";

std::filesystem::path shipped_words() {
#ifdef TOLVEX_EXAMPLE_WORDS
  return TOLVEX_EXAMPLE_WORDS;
#else
  return std::filesystem::path(__FILE__).parent_path() / "data" / "words.txt";
#endif
}

std::filesystem::path default_dictionary() {
  const std::filesystem::path system = "/usr/share/dict/words";
  std::error_code ec;
  if (std::filesystem::is_regular_file(system, ec)) return system;
  return shipped_words();
}

double ms_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  std::size_t b = 0;
  while (b < s.size() && (s[b] == ' ' || s[b] == '\t')) ++b;
  return s.substr(b);
}

int fail(const std::string& message) {
  std::cerr << "did_you_mean: " << message << "\n";
  return 2;
}

struct dictionary {
  std::vector<std::string> words;
  tolvex::index<std::size_t> index;  // word -> its position in `words`
};

void lookup(const dictionary& dict, int limit, const std::string& word) {
  const auto t0 = std::chrono::steady_clock::now();
  std::vector<std::pair<std::ptrdiff_t, const std::string*>> found;
  for (std::size_t i : tolvex::Index::retrieve_l(limit, dict.index, word)) {
    const std::string& w = dict.words[i];
    found.emplace_back(tolvex::edit_distance(word, w), &w);
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : *a.second < *b.second;
  });
  const double ms = ms_since(t0);
  std::cout << word << ": " << found.size() << (found.size() == 1 ? " word" : " words")
            << " within " << limit << " (" << std::fixed << std::setprecision(3) << ms << " ms)\n";
  for (const auto& [d, w] : found) std::cout << "  " << d << "  " << *w << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  int limit = 2;
  std::filesystem::path dict_path;
  std::vector<std::string> queries;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << usage;
      return 0;
    }
    if (arg == "--limit" || arg == "--dict") {
      if (i + 1 == argc) return fail(std::string(arg) + " needs a value (see --help)");
      const std::string value = argv[++i];
      if (arg == "--dict") {
        dict_path = value;
        continue;
      }
      std::size_t used = 0;
      int k = -1;
      try {
        k = std::stoi(value, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used != value.size() || k < 0 || k > 4) {
        return fail("--limit wants a whole number from 0 to 4, not '" + value + "'");
      }
      limit = k;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      return fail("unknown option '" + std::string(arg) + "' (see --help)");
    }
    if (arg == "--") {
      for (++i; i < argc; ++i) queries.emplace_back(argv[i]);
      break;
    }
    queries.emplace_back(arg);
  }
  if (dict_path.empty()) dict_path = default_dictionary();

  const auto t0 = std::chrono::steady_clock::now();
  std::ifstream in(dict_path);
  if (!in) return fail("cannot open the dictionary '" + dict_path.string() + "'");
  dictionary dict;
  for (std::string line; std::getline(in, line);) {
    std::string w = trimmed(std::move(line));
    if (!w.empty()) dict.words.push_back(std::move(w));
  }
  if (in.bad()) return fail("error reading the dictionary '" + dict_path.string() + "'");
  std::vector<std::pair<std::string, std::size_t>> pairs;
  pairs.reserve(dict.words.size());
  for (std::size_t i = 0; i < dict.words.size(); ++i) pairs.emplace_back(dict.words[i], i);
  dict.index = tolvex::Index::of_list(pairs);
  std::cout << "loaded " << dict.words.size() << " words from " << dict_path.string() << " in "
            << std::fixed << std::setprecision(1) << ms_since(t0) << " ms\n";

  try {
    if (!queries.empty()) {
      for (const std::string& q : queries) lookup(dict, limit, q);
    } else {
      for (std::string line; std::getline(std::cin, line);) {
        const std::string q = trimmed(std::move(line));
        if (!q.empty()) lookup(dict, limit, q);
      }
    }
  } catch (const std::exception& e) {
    return fail(std::string("lookup failed: ") + e.what());
  }
  return 0;
}
