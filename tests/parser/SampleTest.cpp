// The shared sample files: exact syntax messages, and no message for well-formed lines.
#include <gtest/gtest.h>

#include "ParserTestUtil.h"

namespace kalvix::test {
namespace {

std::vector<std::string> SplitTabs(const std::string& s) {
  std::vector<std::string> out;
  std::size_t i = 0;
  for (;;) {
    std::size_t j = s.find('\t', i);
    out.push_back(s.substr(i, j == std::string::npos ? std::string::npos : j - i));
    if (j == std::string::npos) return out;
    i = j + 1;
  }
}

std::string Unescape(std::string s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') {
      out += '\n';
      ++i;
    } else {
      out += s[i];
    }
  return out;
}

TEST(Samples, SyntaxErrorsGiveTheExpectedMessages) {
  std::vector<std::string> lines, expected;
  if (!ReadLines(EDI_SHARED_DIR "/samples/syntax-errors.txt", lines) ||
      !ReadLines(EDI_SHARED_DIR "/samples/syntax-errors.expected", expected))
    GTEST_SKIP() << "shared samples not present";
  int rows = 0;
  for (const std::string& row : expected) {
    if (row.empty() || row[0] == '#') continue;
    std::vector<std::string> cols = SplitTabs(row);
    ASSERT_GE(cols.size(), 4u) << row;
    int line = std::stoi(cols[0]);
    int count = std::stoi(cols[1]);
    ASSERT_LE(line, static_cast<int>(lines.size()));
    // Columns: line, count, finding text, the messages, the reason.
    std::vector<std::string> want;
    for (int i = 0; i < count; ++i) want.push_back(Unescape(cols[3 + static_cast<std::size_t>(i)]));
    Parsed p(lines[static_cast<std::size_t>(line - 1)]);
    EXPECT_EQ(p.Errors(), want) << "line " << line;
    ++rows;
  }
  EXPECT_EQ(rows, static_cast<int>(lines.size()));
}

TEST(Samples, WellFormedLinesParseWithoutMessages) {
  bool any = false;
  for (const char* file : {"/samples/valid.txt", "/samples/with-findings.txt", "/samples/multi-message.txt"}) {
    std::vector<std::string> lines;
    if (!ReadLines(std::string(EDI_SHARED_DIR) + file, lines)) continue;
    any = true;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].empty()) continue;
      Parsed p(lines[i]);
      EXPECT_EQ(p.errors.Count(), 0) << file << ":" << i + 1 << ": " << (p.errors.Count() ? p.errors.At(0) : "");
      ASSERT_NE(p.tree.First(), nullptr);
      EXPECT_EQ(p.tree.Tag(p.tree.First()), "XGH");
    }
  }
  if (!any) GTEST_SKIP() << "shared samples not present";
}

}  // namespace
}  // namespace kalvix::test
