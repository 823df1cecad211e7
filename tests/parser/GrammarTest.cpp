// Syntax messages, recovery and the shape of the tree the grammar builds.
#include <gtest/gtest.h>

#include "ParserTestUtil.h"

namespace kalvix::test {
namespace {

const std::string kXgh = "XGH+1+0039+104512+002'";

struct SyntaxCase {
  const char* name;
  std::string text;
  std::vector<std::string> errors;
  std::string tags;  // document order of the tree
};

class Syntax : public ::testing::TestWithParam<SyntaxCase> {};

TEST_P(Syntax, MessagesAndTree) {
  const SyntaxCase& c = GetParam();
  Parsed p(c.text);
  EXPECT_EQ(p.Errors(), c.errors);
  EXPECT_EQ(p.Tags(), c.tags);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, Syntax,
    ::testing::Values(
        // The quoted token text escapes control characters.
        SyntaxCase{"ControlCharacterInQuotedToken",
                   kXgh + "XEH+05+1+0060+1'XRH+\x01'DOD+1'XRT+1'XET+05'XGT+1'",
                   {"line 1: syntax error at \"\\x01\" missing NUMBER"},
                   "XGH XEH DOD XET XGT"},
        SyntaxCase{
            "TwoMessages",
            kXgh + "XEH+05+1+0060+1'GIS+A001+6'XET+05'XEH+07+1+0031+1'XRH+1'LIN+1'MOA+005:4509'XRT+1'XET+07'XGT+1'",
            {},
            "XGH XEH GIS XET XEH LIN MOA XET XGT"},
        // Loops run in model order: a DTM after an RFF ends the body, and the rest of the
        // message up to the next header is skipped.
        SyntaxCase{"DtmAfterRff",
                   kXgh + "XEH+05+1+0060+1'RFF+003:X'DTM+008:1'XET+05'XEH+05+1+0060+1'GIS+A+1'XET+05'XGT+1'",
                   {"line 1: syntax error at \"DTM\" missing TAG_XET"},
                   "XGH XEH RFF XEH GIS XET XGT"},
        SyntaxCase{"WrongBlockLevel",
                   kXgh + "XEH+07+1+0031+1'XRH+2'LIN+1'XRT+1'XET+07'XGT+1'",
                   {"Invalid block level, line 1. Found 2, expecting 1\n"},
                   "XGH XEH LIN XET XGT"},
        SyntaxCase{"NestedBlockLevels",
                   kXgh + "XEH+01+2+0002+1'XRH+1'ROD+110'XRH+2'ICD+101'XRT+02'XRT+1'XET+01'XGT+1'",
                   {},
                   "XGH XEH ROD ICD XET XGT"},
        SyntaxCase{"NoHeader",
                   "ADR+001+GROTE MARKT'XGT+1'",
                   {"line 1: syntax error at \"ADR\" missing { TAG_POS_SGMT XGH\\+{0}1 }"},
                   ""},
        SyntaxCase{"EmptyText", "", {"line 1: syntax error at \"<eof>\" missing { TAG_POS_SGMT XGH\\+{0}1 }"}, ""},
        SyntaxCase{"NoTrailer",
                   kXgh + "XEH+90+1+0201+1'XET+90'",
                   {"line 1: syntax error at \"<eof>\" missing TAG_XGT"},
                   "XGH XEH XET"},
        SyntaxCase{"TooManyElements",
                   kXgh + "XEH+90+1'BIN+A+B+C'QTY+002:85'XET+90'XGT+1'",
                   {"line 1: syntax error at \"+\" missing SGMT_END"},
                   "XGH XEH QTY XET XGT"},
        SyntaxCase{"NoMessageHeader",
                   kXgh + "ADR+1'XEH+90+1'XET+90'XGT+1'",
                   {"line 1: syntax error at \"ADR\" missing { TAG_XEH_ASSMNT TAG_XEH_CLAFIL TAG_XEH_CLASET "
                    "TAG_XEH_CNTRCT TAG_XEH_CURRAC TAG_XEH_FRPREV TAG_XEH_PRENOT TAG_XEH_PTYDES TAG_XEH_RCAPTN "
                    "TAG_XEH_RQUEST TAG_XEH_TECOBJ TAG_XEH_VEHDES }"},
                   "XGH XEH XET XGT"},
        SyntaxCase{"MmdNeedsItsSecondElement",
                   kXgh + "XEH+97+1'XRH+1'DOC+1'MMD+1'XRT+1'XET+97'XGT+1'",
                   {"line 1: syntax error at \"'\" missing DATA_SEP"},
                   "XGH XEH DOC XET XGT"},
        SyntaxCase{"GroupHeaderNeedsItsSecondElement",
                   "XGH+1+0039'XEH+90+1'XET+90'XGT+1'",
                   {"line 1: syntax error at \"'\" missing DATA_SEP"},
                   "XEH XET XGT"},
        // ACT after PAT in an assessment: the last block loop (DOD) takes the block.
        SyntaxCase{"LastBlockLoopTakesAnyBlock",
                   kXgh + "XEH+05+1'XRH+1'PAT+1'XRT+1'XRH+1'ACT+002'DTM+001:1'XRT+1'XET+05'XGT+1'",
                   {"line 1: syntax error at \"ACT\" missing DOD"},
                   "XGH XEH PAT DTM XET XGT"},
        // The first recovery skips nothing; the one after it skips exactly one token.
        SyntaxCase{"RecoveryAfterASkipOfNothing",
                   kXgh + "XEH+90XET+90+5'XGT+1'",
                   {"line 1: syntax error at \"XET\" missing TAG_SEP", "line 1: syntax error at \"+\" missing SGMT_END",
                    "line 1: syntax error at \"5\" missing TAG_XGT"},
                   "XGH"},
        // The window holds eight tokens: a lexical error among them is listed first.
        SyntaxCase{"LexicalErrorInTheWindow",
                   kXgh + "XEH+05+1'RFF+1'DTM+1?X'XET+05'XGT+1'",
                   {"invalid token near line 1 (text was '?')", "line 1: syntax error at \"DTM\" missing TAG_XET"},
                   "XGH XEH RFF XGT"},
        SyntaxCase{"LexicalErrorBeyondTheWindow",
                   kXgh + "XEH+05+1'RFF+1'DTM+1'GIS+1'GIS+1'XET+05'GIS+1?X'XGT+1'",
                   {"line 1: syntax error at \"DTM\" missing TAG_XET", "invalid token near line 1 (text was '?')"},
                   "XGH XEH RFF XGT"},
        SyntaxCase{"LinesWithCrLf",
                   "XGH+1+A+B'\r\nXEH+05+1'\r\n  RFF+1'\r\n  DTM+1'\r\nXET+05'\r\nXGT+1'",
                   {"line 4: syntax error at \"DTM\" missing TAG_XET"},
                   "XGH XEH RFF XGT"},
        SyntaxCase{"LinesWithLf",
                   "XGH+1+A+B'\nXEH+05+1'\nRFF+1'\nDTM+1'\nXET+05'\nXGT+1'",
                   {"line 1: syntax error at \"DTM\" missing TAG_XET"},
                   "XGH XEH RFF XGT"},
        SyntaxCase{"Positional",
                   "XGH+3+A+B'XEH+12+1'free 'text' ?\xFE'XET+12'XEH+ASS001+1'x\xFE'XET+1'XGT+1'",
                   {},
                   "XGH XEH [DATA] XET XEH [DATA] XET XGT"},
        SyntaxCase{"PositionalHeaderMissing",
                   "XGH+3+A+B'XET+1'XGT+1'",
                   {"line 1: syntax error at \"XET\" missing { TAG_XEH_POS_NUM TAG_XEH_POS_ASS }"},
                   "XGH XGT"}),
    [](const ::testing::TestParamInfo<SyntaxCase>& i) { return std::string(i.param.name); });

TEST(Grammar, ValuesAreStoredAtTheirKeys) {
  Parsed p(kXgh +
           "XEH+5+1+0060'XRH+1'PTY+003+A?+B:?:?'?"
           "?'XRT+1'XET+05'XEH+91+1'ADR++STREET:12+1000'XET+91'XGT+1'");
  EXPECT_TRUE(p.Errors().empty()) << p.Errors()[0];
  EXPECT_EQ(p.Dump(),
            "XGH X9261=1 C9001X9211=0039 C9051X9231=104512 X9251=002\n"
            "  XEH X9101=05 X9141=1 X9121=0060\n"
            "    PTY X0431=003 C0601X0441=A+B C0601X9011=:'?\n"
            "  XET X9101=05\n"
            "  XEH X9101=91 X9141=1\n"
            "    ADR C0011X0021=STREET C0011X0031=12 X0061=1000\n"
            "  XET X9101=91\n"
            "XGT X9261=1\n");
}

TEST(Grammar, PositionalMessagesKeepTheirFreeText) {
  Parsed p("XGH+3+A+B'XEH+ASS123+1'line one\r\nline 'two'\xFE'XET+1'XGT+1'");
  EXPECT_TRUE(p.Errors().empty());
  EXPECT_EQ(p.Dump(),
            "XGH X9261=1 C9001X9211=A C9051X9231=B\n"
            "  XEH X9101=ASS123 X9141=1\n"
            "    [DATA] line one\\r\\nline 'two'\n"
            "  XET X9101=1\n"
            "XGT X9261=1\n");
}

// Recovery can leave a level open per message; past the twentieth level segments go under
// the deepest open node instead of running off the level table.
TEST(Grammar, DriftingLevelsStopAtTheTable) {
  std::string text = kXgh;
  for (int i = 0; i < 40; ++i) text += "XEH+90+1'DTM+1'NME+" + std::to_string(i) + "'";
  text += "XGT+1'";
  Parsed p(text);
  EXPECT_EQ(p.errors.Count(), 40);
  int maxLevel = 0, xeh = 0;
  for (const SegmentNode* n = p.tree.First(); n; n = n->next) {
    maxLevel = std::max(maxLevel, n->level);
    xeh += p.tree.Tag(n) == "XEH";
  }
  EXPECT_EQ(xeh, 40);
  EXPECT_LE(maxLevel, kOpenLevels + 1);
}

TEST(Grammar, HostileInputEndsWithMessagesAndAPartialTree) {
  std::string blocks = kXgh + "XEH+05+1'";
  for (int i = 0; i < 10000; ++i) blocks += "XRH+" + std::to_string(i + 1) + "'";
  std::string longLine = kXgh + "XEH+91+1'FTX+1+" + std::string(3 << 20, 'A') + "'XET+91'XGT+1'";
  std::string bytes;
  std::uint32_t seed = 12345;
  for (int i = 0; i < 200000; ++i) {
    seed = seed * 1103515245 + 12345;
    bytes += static_cast<char>(seed >> 24);
  }
  for (const std::string& t : {blocks, longLine, kXgh + std::string("XEH+90+1'FTX+1+A?"), std::string("\xFE\xFF\0X", 4),
                               bytes, "XGH+1" + bytes}) {
    Parsed p(t);
    std::size_t nodes = 0;
    for (const SegmentNode* n = p.tree.First(); n; n = n->next) ++nodes;
    EXPECT_LE(nodes, t.size());
  }
  Parsed ok(longLine);
  EXPECT_TRUE(ok.Errors().empty());
}

}  // namespace
}  // namespace kalvix::test
