#include "shell_words.h"

namespace portwick::fuzzing {

namespace {

// Whether a shell takes the unquoted first word as something other than a
// program name: a variable assignment (NAME=...) or a reserved word.
bool SpecialFirstWord(const std::string& word) {
  const size_t equals = word.find('=');
  if (equals != std::string::npos && equals > 0) {
    bool name = !(word[0] >= '0' && word[0] <= '9');
    for (size_t i = 0; i < equals && name; ++i) {
      const char c = word[i];
      name = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    }
    if (name) return true;
  }
  static constexpr std::string_view kReserved[] = {
      "case",  "do",    "done", "elif",     "else",   "esac",   "fi", "for", "if", "in", "then",
      "until", "while", "time", "function", "select", "coproc", "!",  "{",   "}",  "[["};
  for (std::string_view reserved : kReserved) {
    if (word == reserved) return true;
  }
  return false;
}

}  // namespace

std::optional<std::vector<std::string>> SplitShellWords(std::string_view line) {
  if (line.ends_with('\n')) line.remove_suffix(1);
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;  // some part of the current word was quoted
  const auto end_word = [&]() -> bool {
    if (words.empty() && !quoted && SpecialFirstWord(word)) return false;
    words.push_back(std::move(word));
    word.clear();
    in_word = false;
    quoted = false;
    return true;
  };
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t') {
      if (in_word && !end_word()) return std::nullopt;
      ++i;
    } else if (c == '\\') {
      if (i + 1 >= line.size() || line[i + 1] == '\n') return std::nullopt;
      word += line[i + 1];
      in_word = true;
      quoted = true;
      i += 2;
    } else if (c == '\'') {
      const size_t end = line.find('\'', i + 1);
      if (end == std::string_view::npos) return std::nullopt;
      word.append(line.substr(i + 1, end - i - 1));
      in_word = true;
      quoted = true;
      i = end + 1;
    } else if (c == '"') {
      ++i;
      while (true) {
        if (i >= line.size()) return std::nullopt;
        const char d = line[i];
        if (d == '"') break;
        if (d == '$' || d == '`') return std::nullopt;
        if (d == '\\' && i + 1 < line.size()) {
          const char e = line[i + 1];
          if (e == '$' || e == '`' || e == '"' || e == '\\') {
            word += e;
            i += 2;
            continue;
          }
          if (e == '\n') return std::nullopt;
        }
        word += d;
        ++i;
      }
      in_word = true;
      quoted = true;
      ++i;
    } else {
      static constexpr std::string_view kSpecial = ";&|<>()$`*?[\n";
      if (kSpecial.find(c) != std::string_view::npos) return std::nullopt;
      if (c == '#' && !in_word) return std::nullopt;
      // "~" at a word's start expands to a home folder.
      if (c == '~' && !in_word) return std::nullopt;
      word += c;
      in_word = true;
      ++i;
    }
  }
  if (in_word && !end_word()) return std::nullopt;
  return words;
}

}  // namespace portwick::fuzzing
