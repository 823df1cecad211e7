// Indented and one-line forms of an interchange, and the small text helpers.
#include <gtest/gtest.h>

#include <string>

#include "ClassUtils.h"

using common::TString;
using common::TStringList;

namespace {

const char kFlat[] = "XGH+1+0039+104512'XEH+01+2+0002'XRH+1'PTY+003'XRT+1'XET+01'XGT+1'";
const char kIndented[] =
    "XGH+1+0039+104512'\r\n"
    "    XEH+01+2+0002'\r\n"
    "        XRH+1'\r\n"
    "            PTY+003'\r\n"
    "        XRT+1'\r\n"
    "    XET+01'\r\n"
    "XGT+1'";

TEST(ClassUtilsTest, FormatAndUnformatRoundTrip) {
  EXPECT_EQ(TString::FormatEdifact(kFlat), kIndented);
  EXPECT_EQ(TString::UnformatEdifact(kIndented), kFlat);
  EXPECT_EQ(TString::FormatEdifact(kIndented), kIndented);  // formatting unformats first
  EXPECT_EQ(TString::UnformatEdifact(TString::FormatEdifact(kFlat)), kFlat);
}

TEST(ClassUtilsTest, UnformatCases) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"XGH+1", "XGH+1'"},             // final apostrophe added
      {"A'\r\n  B'\n\rC", "A'B'C'"},   // breaks and spaces between segments go
      {"  A'B", "  A'B'"},             // spaces at the very start stay
      {"A B\r\nC'D'", "A B\r\nC'D'"},  // inside a segment they stay
      {"A''B'", "A''B'"},              // empty segments stay
      {"N?'X'Y'", "N?'X'Y'"},          // released apostrophe is no terminator
      {"A?", "A?'"},                   // trailing release: nothing read past the end
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(TString::UnformatEdifact(in), out) << in;
}

TEST(ClassUtilsTest, FormatCases) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      // Unbalanced trailers never go left of column 0.
      {"XET+1'XGT+1'A'", "XET+1'\r\nXGT+1'\r\nA'"},
      {"XEH+1'XET+1'XET+1'B'", "XEH+1'\r\nXET+1'\r\nXET+1'\r\nB'"},
      {"XGH'XEH'XRT'A'", "XGH'\r\n    XEH'\r\n    XRT'\r\n    A'"},
      // A released apostrophe keeps the segment on one line.
      {"XEH+1'NME+O?'BRIEN'XET+1'", "XEH+1'\r\n    NME+O?'BRIEN'\r\nXET+1'"},
      // A released release before the terminator ends the segment there.
      {"XEH+1'NME+A?\?'IPD'XET+1'", "XEH+1'\r\n    NME+A?\?'\r\n    IPD'\r\nXET+1'"},
      {"A''B", "A'\r\n'\r\nB'"},
      {"XGH", "XGH'"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(TString::FormatEdifact(in), out) << in;
}

TEST(ClassUtilsTest, ListForms) {
  TStringList list{"XGH+1'XEH+01'", "XET+01'XGT+1'"};
  TString::FormatEdifact(list);
  EXPECT_EQ(list, (TStringList{"XGH+1'", "    XEH+01'", "    XET+01'", "XGT+1'"}));
  EXPECT_TRUE(TString::IsEdifactFormated(list));
  TString::UnformatEdifact(list);
  EXPECT_EQ(list, (TStringList{"XGH+1'XEH+01'XET+01'XGT+1'"}));
  EXPECT_FALSE(TString::IsEdifactFormated(list));

  TStringList padded{"  XGH+1'\t", "\tXEH'  ", "", " XET'"};
  TString::UnformatEdifact(padded);
  EXPECT_EQ(padded, (TStringList{"XGH+1'XEH'XET'"}));
}

TEST(ClassUtilsTest, IsEdifactFormatedLooksAtFirstFiveLines) {
  const std::pair<TStringList, bool> cases[] = {
      {{}, false},
      {{"  XEH'"}, false},  // one line, even indented
      {{"XGH'", " XEH'"}, true},
      {{"XGH'", "", "", "    XEH'"}, true},  // blank lines ignored
      {{"XGH'", "XEH'", "", ""}, false},
      {{"A'", "B'", "C'", "D'", "E'", " F'"}, false},  // sixth line not looked at
  };
  for (const auto& [list, expected] : cases) EXPECT_EQ(TString::IsEdifactFormated(list), expected);
}

TEST(ClassUtilsTest, SmallHelpers) {
  std::string s = "ab,cd,ef";
  EXPECT_EQ(TString::Fetch(s, ','), "ab");
  EXPECT_EQ(s, "cd,ef");
  s = "abc";
  EXPECT_EQ(TString::Fetch(s, ','), "abc");
  EXPECT_EQ(s, "");
  s = "one   two three  ";
  EXPECT_EQ(TString::Fetch(s, ' '), "one");
  EXPECT_EQ(s, "two three");

  EXPECT_EQ(TString::PadLeft("1", 4, '0'), "0001");
  EXPECT_EQ(TString::PadLeft("12345", 4, '0'), "12345");
  EXPECT_EQ(TString::PadLeft("", 2, ' '), "  ");
  EXPECT_EQ(TString::RemoveLeading("00120", "0"), "120");
  EXPECT_EQ(TString::RemoveTrailing("00120", "0"), "0012");
  EXPECT_EQ(TString::RemoveLeading("000", "0"), "");
  EXPECT_EQ(TString::RemoveTrailing(" \t x \t", " \t"), " \t x");
}

}  // namespace
