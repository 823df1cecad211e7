// Tokens, modes, line counting and lexical errors.
#include <gtest/gtest.h>

#include "Lexer.h"

namespace kalvix {
namespace {

struct Lexed {
  std::string tokens;  // names, with the text of value tokens in parentheses
  std::string lines;   // line of each token
  std::vector<std::string> errors;
};

Lexed Lex(const std::string& text) {
  ErrorReporter rep;
  Lexer lex(text.c_str(), rep);
  Lexed out;
  for (int guard = 0; guard < 10000; ++guard) {
    Token t;
    lex.Next(t);
    if (t.kind == tkEof) break;
    if (!out.tokens.empty()) out.tokens += ' ';
    out.tokens += TokenName(t.kind);
    if (t.kind == tkData || t.kind == tkNumber || t.kind == tkStringFe || IsClassHeader(t.kind) ||
        t.kind == tkXehPosNum || t.kind == tkXehPosAss)
      out.tokens += "(" + std::string(t.Text()) + ")";
    out.lines += std::to_string(t.line);
  }
  for (int i = 0; i < rep.Count(); ++i) out.errors.push_back(rep.At(i));
  return out;
}

struct TokenCase {
  std::string text;
  const char* tokens;
  std::vector<std::string> errors;
};

class Tokens : public ::testing::TestWithParam<TokenCase> {};

TEST_P(Tokens, GivesTheKindsAndErrors) {
  const TokenCase& c = GetParam();
  Lexed l = Lex(c.text);
  EXPECT_EQ(l.tokens, c.tokens);
  EXPECT_EQ(l.errors, c.errors);
}

INSTANTIATE_TEST_SUITE_P(
    Lexer, Tokens,
    ::testing::Values(
        TokenCase{
            "ADR+1+A?+B?:C'", "ADR TAG_SEP NUMBER(1) DATA_SEP DATA(A) ESC_PLUS DATA(B) ESC_COLON DATA(C) SGMT_END", {}},
        TokenCase{"XEH+5", "TAG_XEH_ASSMNT(XEH+5)", {}}, TokenCase{"XEH+05", "TAG_XEH_ASSMNT(XEH+05)", {}},
        TokenCase{"XEH+90XEH+91XEH+97XEH+9",
                  "TAG_XEH_VEHDES(XEH+90) TAG_XEH_PTYDES(XEH+91) TAG_XEH_TECOBJ(XEH+97) TAG_XEH_FRPREV(XEH+9)",
                  {}},
        // "0" starts no token in tag mode: it is reported and the "+" after it dropped.
        TokenCase{"XEH+10+A",
                  "TAG_XEH_CNTRCT(XEH+1)",
                  {"invalid token near line 1 (text was '0')", "invalid token near line 1 (text was 'A')"}},
        TokenCase{"XGH+1XGH+01", "XGH\\+{0}1 XGH\\+{0}1", {}}, TokenCase{"XGH+3", "TAG_POS_SGMT", {}},
        TokenCase{"XGH+2ADR", "ADR", {"invalid token near line 1 (text was 'XGH+')"}},
        TokenCase{"XEH+0A+", "TAG_SEP", {"invalid token near line 1 (text was 'XEH+0')"}},
        // A blank before the first segment: reported, and the "A" after it dropped.
        TokenCase{" ADR", "", {"invalid token near line 1 (text was ' ')", "invalid token near line 1 (text was 'D')"}},
        // Quoted characters are escaped when they are controls.
        TokenCase{
            "\tADR", "", {"invalid token near line 1 (text was '\\x09')", "invalid token near line 1 (text was 'D')"}},
        TokenCase{"adr'", "", {"invalid token near line 1 (text was 'a')", "invalid token near line 1 (text was 'r')"}},
        TokenCase{"ADR+A?X'", "ADR TAG_SEP DATA(A) SGMT_END", {"invalid token near line 1 (text was '?')"}},
        TokenCase{"ADR+?"
                  "?'",
                  "ADR TAG_SEP ESC_QMARK SGMT_END",
                  {}},
        TokenCase{"ADR+A?", "ADR TAG_SEP DATA(A)", {"invalid token near line 1 (text was '?')"}},
        TokenCase{
            "ADR+0042+12AB+AB12'", "ADR TAG_SEP NUMBER(0042) DATA_SEP DATA(12AB) DATA_SEP DATA(AB12) SGMT_END", {}},
        TokenCase{"ADR+A\r\nB\t C'", "ADR TAG_SEP DATA(A\r\nB\t C) SGMT_END", {}},
        TokenCase{"XGT+1'\r\n   XET+1'", "TAG_XGT TAG_SEP NUMBER(1) SGMT_END TAG_XET TAG_SEP NUMBER(1) SGMT_END", {}},
        TokenCase{"ADR+\xFE\xFF\x80'", "ADR TAG_SEP DATA(\xFE\xFF\x80) SGMT_END", {}},
        TokenCase{std::string("ADR+A\0B'", 8), "ADR TAG_SEP DATA(A)", {}},
        // Positional interchange: header, message header, free text up to 0xFE, trailer.
        TokenCase{"XGH+3+A'XEH+12+B'free 'text'\r\n+:\xFE'XET+12'XGT+1'",
                  "TAG_POS_SGMT TAG_SEP DATA(A) SGMT_END TAG_XEH_POS_NUM(XEH+12) TAG_SEP DATA(B) SGMT_END "
                  "STRING_FE(free 'text'\r\n+:) TAG_FE SGMT_END TAG_XET TAG_SEP NUMBER(12) SGMT_END TAG_XGT TAG_SEP "
                  "NUMBER(1) SGMT_END",
                  {}},
        TokenCase{"XGH+3+A'XEH+ASS123+B'a\xFF"
                  "b\xFE'",
                  "TAG_POS_SGMT TAG_SEP DATA(A) SGMT_END TAG_XEH_POS_ASS(XEH+ASS123) TAG_SEP DATA(B) SGMT_END "
                  "STRING_FE(a) STRING_FE(\xFF) STRING_FE(b) TAG_FE SGMT_END",
                  {}},
        TokenCase{"XGH+3XEH+ASS12X", "TAG_POS_SGMT", {"invalid token near line 1 (text was 'XEH+ASS12')"}}));

TEST(Lexer, LineEndsCountOnceWithCrLfAndOnlyDoubledWithLf) {
  // One segment per line: the fifth segment is on line 5 with CR LF, on line 1 with LF.
  Lexed crlf = Lex("XGT+1'\r\nXGT+1'\r\nXGT+1'\r\nXGT+1'\r\n  XGT+1'");
  EXPECT_EQ(crlf.lines,
            "1111222233334444"
            "5555");
  EXPECT_TRUE(crlf.errors.empty());
  Lexed lf = Lex("XGT+1'\nXGT+1'\nXGT+1'\nXGT+1'\nXGT+1'");
  EXPECT_EQ(lf.lines, "11111111111111111111");
  Lexed doubled = Lex("XGT+1'\n\nXGT+1'\r\rXGT+1'");
  EXPECT_EQ(doubled.lines,
            "1111"
            "2222"
            "2222");
  // Line breaks inside data are data.
  Lexed data = Lex("ADR+A\r\nB'\r\nXGT+1'");
  EXPECT_EQ(data.lines,
            "1111"
            "2222");
  Lexed err = Lex("XGT+1'\r\nXGT+1'\r\nZ");
  EXPECT_EQ(err.errors, std::vector<std::string>{"invalid token near line 3 (text was 'Z')"});
}

TEST(Lexer, EndOfTextRepeats) {
  ErrorReporter rep;
  Lexer lex("", rep);
  for (int i = 0; i < 3; ++i) {
    Token t;
    lex.Next(t);
    EXPECT_EQ(t.kind, tkEof);
  }
  EXPECT_EQ(rep.Count(), 0);
}

TEST(Lexer, KindNames) {
  EXPECT_STREQ(TokenName(1), "@");
  EXPECT_STREQ(TokenName(2), "[\\n\\r]{[\\ ]*}");
  EXPECT_STREQ(TokenName(24), "ACT");
  EXPECT_STREQ(TokenName(66), "VAL");
  EXPECT_STREQ(TokenName(67), "XRH");
  EXPECT_STREQ(TokenName(69), "XRT");
  EXPECT_STREQ(TokenName(70), "XGH\\+{0}1");
  EXPECT_STREQ(TokenName(83), "separator (+:')");
  EXPECT_STREQ(TokenName(84), "[\\n\\r]{[\\ ]*}");
}

}  // namespace
}  // namespace kalvix
