// Interchange procedures: tokens, release characters, splitting, header readers, direction.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EdiProcs.h"

using namespace common;

namespace {

struct FetchCase {
  const char* in;
  char delim;
  const char* token;
  const char* rest;
};

TEST(EdiProcsTest, FetchHonoursReleaseAndDelimiter) {
  const FetchCase cases[] = {
      {"A?+B+C", '+', "A?+B", "C"},
      {"ABC", '+', "ABC", ""},
      {"", '+', "", ""},
      {"+B", '+', "", "B"},
      {"A+", '+', "A", ""},
      {"A?", '+', "A?", ""},       // trailing release: kept, nothing read past the end
      {"A??+B", '+', "A??", "B"},  // a released release does not hide the delimiter
      {"XGH+1'XEH+2'", '\'', "XGH+1", "XEH+2'"},
      {"N?'X'Y", '\'', "N?'X", "Y"},
  };
  for (const FetchCase& c : cases) {
    std::string s = c.in;
    EXPECT_EQ(EdiFetch(s, c.delim, '?'), c.token) << c.in;
    EXPECT_EQ(s, c.rest) << c.in;
    std::string_view v = c.in;
    EXPECT_EQ(EdiFetch(v, c.delim, '?'), c.token) << c.in;
    EXPECT_EQ(v, c.rest) << c.in;
  }
}

TEST(EdiProcsTest, UnescapeAndStripLineBreaks) {
  const std::pair<const char*, const char*> cases[] = {
      {"A?:B", "A:B"}, {"AB?", "AB"}, {"??", "?"}, {"?'?+", "'+"}, {"", ""}, {"?", ""}, {"A", "A"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(EdiUnescape(in, '?'), out) << in;
  EXPECT_EQ(StripLineBreaks("A\r\nB\nC\rD"), "ABCD");
  EXPECT_EQ(StripLineBreaks("\r\n"), "");
}

const char kThree[] =
    "XGH+1+0039+104512'XEH+01+2+0002+1++10'IPD+A532'XET+01'"
    "XEH+03+1+0010+1++20'RFF+001:H'XET+03'XEH+07+1+0031+1'DTM+005:31052025:001'XET+07'XGT+1'";

TEST(EdiProcsTest, DecomposeSplitsOneEntryPerMessage) {
  std::vector<std::string> out;
  EdiDecompose(kThree, out);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], "XGH+1+0039+104512'XEH+01+2+0002+1++10'IPD+A532'XET+01'XGT+1'");
  EXPECT_EQ(out[1], "XGH+1+0039+104512'XEH+03+1+0010+1++20'RFF+001:H'XET+03'XGT+1'");
  EXPECT_EQ(out[2], "XGH+1+0039+104512'XEH+07+1+0031+1'DTM+005:31052025:001'XET+07'XGT+1'");
}

TEST(EdiProcsTest, DecomposeKeepsTextWhenFourthElementSet) {
  const std::string text = "XGH+1+0039+104512+002'XEH+01'XET+01'\r\nXEH+02'XET+02'XGT+1'";
  std::vector<std::string> out{"earlier"};
  EdiDecompose(text, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1], text);  // line breaks included
}

TEST(EdiProcsTest, DecomposeStripsLineBreaksBeforeSplitting) {
  std::vector<std::string> out;
  EdiDecompose("XGH+1+0039+104512'\r\nXEH+01'A'\nXET+01'\rXGT+1'", out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], "XGH+1+0039+104512'XEH+01'A'XET+01'XGT+1'");
}

struct DecomposeFailure {
  const char* text;
  const char* message;
  std::size_t kept;  // entries left in the list
};

TEST(EdiProcsTest, DecomposeFailures) {
  const DecomposeFailure cases[] = {
      {"", "Decompose failed (Input empty)", 0},
      {"XEH+01'XET+01'", "Decompose failed (Missing XGH)", 0},
      {"\r\n", "Decompose failed (Missing XGH)", 0},
      {"XGH+1+0039+104512", "Decompose failed (Missing XEH)", 0},
      {"XGH+1+0039+104512'XEH+01'XET+01'", "Decompose failed (Missing XGT)", 0},
      {"XGH+1+0039+104512'XEH+01'A'XGT+1'", "Decompose failed (Missing XET)", 0},
      // A group trailer longer than 20 characters leaves a tail without XET.
      {"XGH+1+0039+104512'XEH+01'XET+01'XGT+123456789012345678'", "Decompose failed (Missing XET)", 1},
      // The second message lacks its XET: the first stays appended.
      {"XGH+1+0039+104512'XEH+01'XET+01'XEH+02'B'XGT+1'", "Decompose failed (Missing XET)", 1},
      // Released apostrophe in the header: the tag is "XGH" only after the release pair.
      {"XG?'H+1'XEH+01'XET+01'XGT+1'", "Decompose failed (Missing XGH)", 0},
  };
  for (const DecomposeFailure& c : cases) {
    std::vector<std::string> out;
    try {
      EdiDecompose(c.text, out);
      ADD_FAILURE() << "no failure for " << c.text;
    } catch (const EEdiError& e) {
      EXPECT_STREQ(e.what(), c.message) << c.text;
    }
    EXPECT_EQ(out.size(), c.kept) << c.text;
  }
}

TEST(EdiProcsTest, DecomposeTrailerOfExactlyTwentyCharacters) {
  const std::string trailer = "XGT+1234567890123456'";  // 21 characters: one too many
  const std::string ok = "XGT+123456789012345'";        // 20 characters
  std::vector<std::string> out;
  EdiDecompose("XGH+1+A+B'XEH+01'XET+01'" + ok, out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], "XGH+1+A+B'XEH+01'XET+01'" + ok);
  out.clear();
  EXPECT_THROW(EdiDecompose("XGH+1+A+B'XEH+01'XET+01'" + trailer, out), EEdiError);
}

TEST(EdiProcsTest, GetPartiesUnescapesComponents) {
  std::string a, b, c, d;
  EdiGetParties("XGH+1+00?:39:S1+1045?+12:R2+002'XEH+01'", a, b, c, d);
  EXPECT_EQ(a, "00:39");
  EXPECT_EQ(b, "S1");
  EXPECT_EQ(c, "1045+12");
  EXPECT_EQ(d, "R2");
  EdiGetParties("XGH+1+0039'", a, b, c, d);
  EXPECT_EQ(a, "0039");
  EXPECT_EQ(b, "");
  EXPECT_EQ(c, "");
  EXPECT_EQ(d, "");
  try {
    EdiGetParties("XEH+1'", a, b, c, d);
    ADD_FAILURE();
  } catch (const EEdiError& e) {
    EXPECT_STREQ(e.what(), "GetParties failed (Missing XGH)");
  }
}

TEST(EdiProcsTest, GetExchangeTypeReadsRawValues) {
  std::string x912, x916, x925;
  EdiGetExchangeType("XGH+1+0039+104512+0?+2'XEH+01+2+0002+1++10'XET+01'XGT+1'", x912, x916, x925);
  EXPECT_EQ(x912, "0002");
  EXPECT_EQ(x916, "10");
  EXPECT_EQ(x925, "0?+2");  // release sequences kept
  const std::pair<const char*, const char*> failures[] = {
      {"", "GetExchangeType failed (Missing XGH)"},
      {"XEH+01'", "GetExchangeType failed (Missing XGH)"},
      {"XGH+1+0039+104512'", "GetExchangeType failed (Missing XEH)"},
      {"XGH+1'IPD+A'", "GetExchangeType failed (Missing XEH)"},
  };
  for (const auto& [text, msg] : failures) {
    try {
      EdiGetExchangeType(text, x912, x916, x925);
      ADD_FAILURE() << text;
    } catch (const EEdiError& e) {
      EXPECT_STREQ(e.what(), msg) << text;
    }
  }
}

TEST(EdiProcsTest, DirectionTable) {
  const std::pair<const char*, TEdiDirection> cases[] = {
      {"XGH+1+0039+104512'", edCyToBroker},
      {"XGH+1+0039+1045'", edCyToCy},
      {"XGH+1+0039+1'", edCyToCy},
      {"XGH+1+0039'", edCyToUnknown},
      {"XGH+1+1+12345'", edCyToBroker},
      {"XGH+1+104512'", edBrokerToUnknown},
      {"XGH+1+10451+0039'", edBrokerToCy},
      {"XGH+1+104512+104513'", edBrokerToBroker},
      {"XGH+1++104512'", edUnknown},
      {"XEH+1+0039+104512'", edUnknown},
      {"", edUnknown},
      {"XGH+1+?0?0?3?9+104512'", edCyToBroker},  // lengths count unescaped characters
  };
  for (const auto& [text, dir] : cases) EXPECT_EQ(EdiGetDirection(text), dir) << text;
}

TEST(EdiProcsTest, DirectionNames) {
  const char* names[] = {"Unknown",      "Cy -> Broker",     "Cy -> Cy",   "Cy -> ?",
                         "Broker -> Cy", "Broker -> Broker", "Broker -> ?"};
  for (int i = 0; i <= edBrokerToUnknown; ++i) EXPECT_STREQ(EdiDirectionName(static_cast<TEdiDirection>(i)), names[i]);
  EXPECT_STREQ(EdiDirectionName(static_cast<TEdiDirection>(7)), "Unknown");
}

}  // namespace
