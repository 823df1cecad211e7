// Narrowing to the code page, widening file text, and the escaping of control characters in
// problem texts.
#include <edicom/EdiComCpp.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Format.h"
#include "TextCodec.h"

namespace {

// A character the code page lacks becomes one stand-in that is neither a separator nor the
// release character, and is listed with its offset in the 8-bit text.
TEST(TextCodec, LackedCharactersBecomeOneStandInEach) {
  struct Case {
    std::u16string in;
    std::string out;
    std::vector<std::pair<std::size_t, char32_t>> substituted;
  } const cases[] = {
      {u"end\u03A9'", "end\x1A'", {{3, 0x3A9}}},
      {u"A\u4E2D:B", "A\x1A:B", {{1, 0x4E2D}}},
      {u"a\U0001F600+b", "a\x1A+b", {{1, 0x1F600}}},  // a surrogate pair is one character
      {u"\U0001F600\u03A9", "\x1A\x1A", {{0, 0x1F600}, {1, 0x3A9}}},
      {std::u16string(u"x") + char16_t(0xD800) + u"?", "x\x1A?", {{1, 0xD800}}},  // lone surrogate
      {u"\u00E9\u20AC\u0152", "\xE9\x80\x8C", {}},                                // inside the code page
      {u"\x1A", "\x1A", {}},  // a stand-in byte of the original text is no substitution
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    std::string out;
    std::vector<common::Substitution> substituted;
    common::Utf16ToAnsi(c.in.data(), c.in.size(), out, &substituted);
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(common::Utf16ToAnsi(c.in), c.out);
    std::vector<std::pair<std::size_t, char32_t>> got;
    for (const common::Substitution& s : substituted) got.emplace_back(s.offset, s.codePoint);
    EXPECT_EQ(got, c.substituted);
  }
  EXPECT_EQ(common::Utf8ToAnsi("FTX+001+end\xCE\xA9'"), "FTX+001+end\x1A'");
  EXPECT_EQ(common::CodePointName(0x3A9), "U+03A9");
  EXPECT_EQ(common::CodePointName(0x1F600), "U+1F600");
}

// File text widened in one pass reads as UTF-8 when the whole text is, else as the code page:
// a fault found late in the text still turns all of it to the code page, ASCII runs included.
TEST(TextCodec, FileTextWidensAsUtf8OrCodePage) {
  const std::string run = "XGH+1+0039+104512+002'";  // longer than one 8-byte step
  struct Case {
    std::string in;
    std::u16string out;
  } const cases[] = {
      {"", u""},
      {run, u"XGH+1+0039+104512+002'"},
      {run + "Ren\xC3\xA9", u"XGH+1+0039+104512+002'Ren\u00E9"},
      {"\xE2\x82\xAC" + run, u"\u20ACXGH+1+0039+104512+002'"},
      {"a\xF0\x9F\x98\x80"
       "b",
       u"a\U0001F600b"},
      {run + "\xC3\xA9 \xE9", u"XGH+1+0039+104512+002'\u00C3\u00A9 \u00E9"},  // valid, then not
      {"Ren\xE9 \x80", u"Ren\u00E9 \u20AC"},
      {"\xC0\x80", u"\u00C0\u20AC"},    // overlong
      {"x\xE2\x82", u"x\u00E2\u201A"},  // cut short
      {"\xF8", u"\u00F8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::u16string out(c.in.size(), u'\0');
    out.resize(common::FileTextToUtf16(c.in, out.data()));
    EXPECT_EQ(out, c.out);
    // The same as deciding first and converting after.
    EXPECT_EQ(out, common::IsValidUtf8(c.in) ? edicom::Utf8ToUtf16(c.in) : common::AnsiToUtf16(c.in));
  }
}

TEST(Format, ControlCharactersAreEscapedAndTheRestKept) {
  struct Case {
    std::string in;
    const char* out;
  } const cases[] = {
      {std::string("A\0B", 3), "A\\x00B"},
      {"\x01\t\r\n\x1A\x1F\x7F", "\\x01\\x09\\x0D\\x0A\\x1A\\x1F\\x7F"},
      {"caf\xC3\xA9 \xE9 50% \"x\" \\", "caf\xC3\xA9 \xE9 50% \"x\" \\"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(common::EscapeControls(c.in), c.out);
}

}  // namespace
