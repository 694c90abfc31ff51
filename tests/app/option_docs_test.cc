// The options the help lists, the manual page describes and the README's
// options table shows must be the same, so that none of them drifts.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "app/command_line.h"

namespace portwick {
namespace {

std::string ReadSource(const std::string& relative) {
  std::ifstream in(std::string(PORTWICK_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
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

}  // namespace
}  // namespace portwick
