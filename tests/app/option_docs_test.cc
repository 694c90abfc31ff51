// The options the help lists, the manual page describes and the README's
// options table shows must be the same, so that none of them drifts.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <sstream>
#include <string>

#include "app/command_line.h"
#include "read_file.h"

namespace portwick {
namespace {

std::string ReadSource(const std::string& relative) {
  return testing::ReadFile(std::string(PORTWICK_SOURCE_DIR) + "/" + relative);
}

// Every "--name" in `text`, where a '-' may be written as `dash` ("\\-" in roff).
std::set<std::string> OptionNames(const std::string& text, const std::string& dash) {
  const std::string prefix = dash + dash;
  std::set<std::string> names;
  for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
    size_t end = at + prefix.size();
    while (end < text.size() && text[end] >= 'a' && text[end] <= 'z') ++end;
    if (end > at + prefix.size())
      names.insert(text.substr(at + prefix.size(), end - at - prefix.size()));
  }
  return names;
}

// The part of `text` from the line `start` up to the next line that begins
// with `next`.
std::string Section(const std::string& text, const std::string& start, const std::string& next) {
  const size_t begin = text.find("\n" + start + "\n");
  if (begin == std::string::npos) return "";
  const size_t end = text.find("\n" + next, begin + start.size() + 2);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// The README's options table: the rows from the header "| option |" on.
std::string ReadmeOptionsTable(const std::string& readme) {
  const size_t header = readme.find("\n| option |");
  if (header == std::string::npos) return "";
  std::string table;
  std::istringstream lines(readme.substr(header + 1));
  for (std::string line; std::getline(lines, line) && line.starts_with("|");) {
    table += line.substr(0, line.find('|', 1)) + "\n";  // the first cell only
  }
  return table;
}

TEST(OptionDocsTest, HelpManualPageAndReadmeNameTheSameOptions) {
  std::set<std::string> in_help = OptionNames(kHelpText, "-");
  ASSERT_TRUE(in_help.contains("source")) << "the help lists no options";
  // The help lists the command `help`; the documents list the option too.
  in_help.insert("help");

  const std::string manual = ReadSource("packaging/portwick.1.in");
  ASSERT_FALSE(manual.empty());
  const std::set<std::string> in_manual = OptionNames(Section(manual, ".SH OPTIONS", ".SH"), "\\-");
  EXPECT_EQ(in_manual, in_help) << "packaging/portwick.1.in (OPTIONS) differs from the help";

  const std::string readme = ReadSource("README.md");
  ASSERT_FALSE(readme.empty());
  const std::set<std::string> in_readme = OptionNames(ReadmeOptionsTable(readme), "-");
  EXPECT_EQ(in_readme, in_help) << "the options table of README.md differs from the help";
}

// `text` in lower case with every run of white space as one blank.
std::string Flattened(const std::string& text) {
  std::string flat;
  for (const char c : text) {
    const bool space = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (space && (flat.empty() || flat.back() == ' ')) continue;
    flat += space ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return flat;
}

// From the first `start` in `text` up to the next `end` after it.
std::string Between(const std::string& text, const std::string& start, const std::string& end) {
  const size_t begin = text.find(start);
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find(end, begin + start.size()) - begin);
}

TEST(OptionDocsTest, AnOptionForOneModeOnlySaysSoEverywhere) {
  struct Mode {
    const char* help;    // in the help entry
    const char* manual;  // in the manual page's entry
    const char* readme;  // the README row's effect starts with it
  };
  const Mode modes[] = {{"console only", "in console mode", "console"},
                        {"window only", "for the window only", "window"}};
  const std::string manual = Section(ReadSource("packaging/portwick.1.in"), ".SH OPTIONS", ".SH");
  const std::string readme = ReadSource("README.md");
  std::set<std::string> restricted;
  for (const std::string& name : OptionNames(kHelpText, "-")) {
    SCOPED_TRACE(name);
    const std::string help = Flattened(Between(kHelpText, "    --" + name, "\n    --"));
    const std::string in_manual = Flattened(Between(manual, "\\-\\-" + name, ".TP"));
    const std::string row = Flattened(Between(readme, "\n| `--" + name, "\n"));
    for (const Mode& mode : modes) {
      if (help.find(mode.help) == std::string::npos) continue;
      restricted.insert(name);
      EXPECT_NE(in_manual.find(mode.manual), std::string::npos) << in_manual;
      EXPECT_NE(row.find(std::string("| ") + mode.readme), std::string::npos) << row;
    }
  }
  // (Names as OptionNames reads them: up to the first character not a-z.)
  EXPECT_EQ(restricted, (std::set<std::string>{"capture", "forward", "pcap", "trace"}));
}

}  // namespace
}  // namespace portwick
