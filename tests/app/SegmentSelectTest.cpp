// Segment offsets in the edited text and the line number of a syntax error.
#include <gtest/gtest.h>

#include <string>

#include "SegmentSelect.h"

using namespace verimek;

namespace {

struct TSegmentCase {
  const char* Name;
  std::u16string Text;
  int N;
  bool Found;
  std::u16string Selected;  // the text of the range when found
};

class SegmentCases : public ::testing::TestWithParam<TSegmentCase> {};

TEST_P(SegmentCases, SelectsExactlyTheNumberedSegment) {
  const TSegmentCase& c = GetParam();
  const TSegmentRange r = FindSegment(c.Text, c.N);
  ASSERT_EQ(r.Found, c.Found);
  if (c.Found) {
    EXPECT_EQ(c.Text.substr(r.Start, r.Length), c.Selected);
  }
}

const std::u16string kOneLine = u"XGH+1'XEH+01'ATT+A020+1'XET+01'XGT+1'";
const std::u16string kBlocks = u"XGH+1'XEH+01'GIS+A'XRH+1'PTY+002'XRT+1'XET+01'XGT+1'";

INSTANTIATE_TEST_SUITE_P(
    Table, SegmentCases,
    ::testing::Values(
        TSegmentCase{"FirstUpToItsApostrophe", kOneLine, 1, true, u"XGH+1"},
        TSegmentCase{"Middle", kOneLine, 3, true, u"ATT+A020+1"},
        TSegmentCase{"Last", kOneLine, 5, true, u"XGT+1"},
        TSegmentCase{"BeyondTheLast", kOneLine, 6, false, u""},
        TSegmentCase{"Zero", kOneLine, 0, false, u""},
        TSegmentCase{"Negative", kOneLine, -3, false, u""},
        TSegmentCase{"EmptyText", u"", 1, true, u""},
        TSegmentCase{"ReleasedApostropheInsideAValue", u"XGH+1'FTX+L?'EAU+X'XGT+1'", 2, true, u"FTX+L?'EAU+X"},
        TSegmentCase{"AfterAReleasedApostrophe", u"XGH+1'FTX+L?'EAU+X'XGT+1'", 3, true, u"XGT+1"},
        // "??" is a released "?": the apostrophe after it ends the segment.
        TSegmentCase{"ReleasedReleaseCharacter", u"XGH+1'FTX+A?\?'XGT+1'", 3, true, u"XGT+1"},
        TSegmentCase{"XrAfterSegmentThreeIsSkipped", kBlocks, 4, true, u"PTY+002"},
        TSegmentCase{"XrTrailerSkippedToo", kBlocks, 5, true, u"XET+01"},
        TSegmentCase{"XrInLowerCase", u"XGH+1'xrh+1'PTY+1'", 2, true, u"PTY+1"},
        TSegmentCase{"IndentedLines", u"XGH+1'\r\n    XEH+01'\r\n        ATT+A+1'\r\n    XET+01'", 3, true,
                     u"ATT+A+1"},
        TSegmentCase{"BlanksOnlyAfterTheLast", u"XGH+1'\r\n  \n", 2, false, u""},
        TSegmentCase{"LastWithoutTerminator", u"XGH+1'XGT+1", 2, true, u"XGT+1"},
        TSegmentCase{"EmptySegmentCounts", u"XGH+1'' XGT+1'", 3, true, u"XGT+1"},
        TSegmentCase{"AccentedLettersBefore", u"XGH+1'NME+001+H\u00E9l\u00E8ne:\u00C7a'ADR+1'", 3, true, u"ADR+1"},
        TSegmentCase{"SurrogatePairBefore", u"XGH+1'FTX+\U0001F600'ADR+1'", 3, true, u"ADR+1"}),
    [](const ::testing::TestParamInfo<TSegmentCase>& p) { return std::string(p.param.Name); });

TEST(SegmentSelect, OffsetsAreCharactersNotBytes) {
  const std::u16string text = u"XGH+1'NME+\u00E9\u00E9\u00E9'ADR+1'";
  const TSegmentRange r = FindSegment(text, 3);
  ASSERT_TRUE(r.Found);
  EXPECT_EQ(r.Start, 14u);
  EXPECT_EQ(r.Length, 5u);
}

TEST(SegmentSelect, NearLineNumbers) {
  const struct {
    std::u16string Line;
    int Expected;
  } cases[] = {
      {u"invalid token near line 12 (text was 'Z')", 12},
      {u"invalid token near line 3", 3},
      {u"near line    7   ", 7},
      {u"Invalid block level, line 1. Found 2, expecting 1", -1},
      {u"line 1: syntax error at \"DTM\" missing TAG_XET", -1},
      {u"invalid token near line x (text was 'Z')", -1},
      {u"invalid token near line 12abc", -1},
      {u"invalid token near line", -1},
      {u"near line 99999999999999", -1},
      {u"", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NearLineNumber(c.Line), c.Expected) << std::string(c.Line.begin(), c.Line.end());
  }
}

}  // namespace
