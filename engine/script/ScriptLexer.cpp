// Tokens of the script language.
#include "ScriptLexer.h"

#include <charconv>
#include <cmath>

#include "ScriptTexts.h"

namespace ruvala::script {

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
static bool IsNameStart(char c) { return IsLetter(c) || c == '_'; }
static bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }
static int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

static TokenKind Keyword(std::string_view name) {
  static constexpr std::pair<const char*, TokenKind> kWords[] = {
      {"begin", kwBegin}, {"end", kwEnd},         {"if", kwIf},           {"then", kwThen},   {"else", kwElse},
      {"while", kwWhile}, {"do", kwDo},           {"repeat", kwRepeat},   {"until", kwUntil}, {"for", kwFor},
      {"to", kwTo},       {"downto", kwDownto},   {"const", kwConst},     {"true", kwTrue},   {"false", kwFalse},
      {"and", kwAnd},     {"or", kwOr},           {"xor", kwXor},         {"not", kwNot},     {"div", kwDiv},
      {"mod", kwMod},     {"boolean", kwBoolean}, {"integer", kwInteger}, {"float", kwFloat}, {"string", kwString},
  };
  if (name.size() > 7) return tkName;
  char lower[8];
  for (std::size_t i = 0; i < name.size(); ++i) lower[i] = static_cast<char>(name[i] | 0x20);
  std::string_view key(lower, name.size());
  for (const auto& [word, kind] : kWords)
    if (key == word) return kind;
  return tkName;
}

Lexer::Lexer(std::string_view text, std::vector<TScriptMessage>& messages) : FText(text), FMessages(messages) {}

void Lexer::Advance() {
  const char c = FText[FPos++];
  if (c == '\n') {
    ++FLine;
    FColumn = 1;
  } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
    ++FColumn;  // columns count characters, not the bytes of their UTF-8 form
  }
}

void Lexer::Error(const std::string& text, SourcePos pos) {
  FMessages.push_back({mkError, text, pos.line, pos.column});
}

bool Lexer::Fatal(Token& tok, const char* text) {
  Error(text, {FLine, FColumn});
  tok.kind = tkError;
  return false;
}

bool Lexer::SkipSpace() {
  while (!AtEnd()) {
    const char c = Peek();
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0') {
      Advance();
    } else if (c == '/' && Peek(1) == '/') {
      while (!AtEnd() && Peek() != '\n') Advance();
    } else if (c == '{') {
      const SourcePos at{FLine, FColumn};
      Advance();
      if (Peek() == '$') {
        Advance();
        if (!IsNameStart(Peek())) {
          Error(texts::kSwitchNameExpected, {FLine, FColumn});
          return false;
        }
        const std::size_t start = FPos;
        while (IsNameChar(Peek())) Advance();
        // Control scripts never use switches (file inclusion, plug-ins); the rest of the text
        // is still checked.
        Error(texts::Fill(texts::kUnknownSwitch, {FText.substr(start, FPos - start)}), at);
      }
      while (!AtEnd() && Peek() != '}') Advance();
      if (AtEnd()) {
        Error(texts::kCloseBraceExpected, at);
        return false;
      }
      Advance();
    } else {
      break;
    }
  }
  return true;
}

void Lexer::Next(Token& tok) {
  tok.str.clear();
  tok.intValue = 0;
  tok.floatValue = 0;
  if (!SkipSpace()) {
    tok.kind = tkError;
    return;
  }
  tok.pos = {FLine, FColumn};
  const std::size_t start = FPos;
  if (AtEnd()) {
    tok.kind = tkEof;
    tok.text = {};
    return;
  }
  const char c = Peek();
  if (IsNameStart(c)) {
    ScanName(tok);
  } else if (IsDigit(c)) {
    ScanNumber(tok);
  } else if (c == '$') {
    ScanHex(tok);
  } else if (c == '\'' || c == '#') {
    ScanString(tok);
  } else {
    Advance();
    const char n = Peek();
    switch (c) {
      case ':':
        tok.kind = n == '=' ? tkAssign : tkColon;
        break;
      case '<':
        tok.kind = n == '>' ? tkNotEqual : n == '=' ? tkLessEqual : tkLess;
        break;
      case '>':
        tok.kind = n == '=' ? tkGreaterEqual : tkGreater;
        break;
      case '+':
        tok.kind = tkPlus;
        break;
      case '-':
        tok.kind = tkMinus;
        break;
      case '*':
        tok.kind = tkStar;
        break;
      case '/':
        tok.kind = tkSlash;
        break;
      case '=':
        tok.kind = tkEqual;
        break;
      case ';':
        tok.kind = tkSemicolon;
        break;
      case ',':
        tok.kind = tkComma;
        break;
      case '(':
        tok.kind = tkLParen;
        break;
      case ')':
        tok.kind = tkRParen;
        break;
      case '[':
        tok.kind = tkLBracket;
        break;
      case ']':
        tok.kind = tkRBracket;
        break;
      default:
        Error(texts::kInvalidCharacter, tok.pos);
        tok.kind = tkError;
        return;
    }
    if (tok.kind == tkAssign || tok.kind == tkNotEqual || tok.kind == tkLessEqual || tok.kind == tkGreaterEqual)
      Advance();
  }
  if (tok.kind != tkError) tok.text = FText.substr(start, FPos - start);
}

void Lexer::ScanName(Token& tok) {
  const std::size_t start = FPos;
  bool member = false;
  while (IsNameChar(Peek())) Advance();
  while (Peek() == '.' && IsNameChar(Peek(1))) {
    member = true;
    Advance();
    while (IsNameChar(Peek())) Advance();
  }
  tok.kind = member ? tkName : Keyword(FText.substr(start, FPos - start));
}

void Lexer::ScanNumber(Token& tok) {
  const std::size_t start = FPos;
  while (IsDigit(Peek())) Advance();
  bool isFloat = false;
  if (Peek() == '.') {
    Advance();
    if (!IsDigit(Peek())) {
      Fatal(tok, texts::kNumberExpected);
      return;
    }
    while (IsDigit(Peek())) Advance();
    isFloat = true;
  }
  if (Peek() == 'e' || Peek() == 'E') {
    isFloat = true;
    Advance();
    if (Peek() == '+' || Peek() == '-') {
      Advance();
      if (!IsDigit(Peek())) {
        Fatal(tok, texts::kNumberExpected);
        return;
      }
    } else if (!IsDigit(Peek())) {
      Fatal(tok, texts::kNumberOrMinusExpected);
      return;
    }
    while (IsDigit(Peek())) Advance();
    if (IsNameChar(Peek())) {
      Fatal(tok, texts::kNumberExpected);
      return;
    }
  } else if (IsNameStart(Peek())) {
    Fatal(tok, isFloat ? texts::kNumberOrExponentExpected : texts::kNumberPointOrExponentExpected);
    return;
  }
  const std::string_view text = FText.substr(start, FPos - start);
  const char* first = text.data();
  const char* last = first + text.size();
  if (isFloat) {
    tok.kind = tkFloat;
    auto r = std::from_chars(first, last, tok.floatValue);
    if (r.ec != std::errc() || r.ptr != last || !std::isfinite(tok.floatValue)) {
      Error(texts::Fill(texts::kInvalidFloatConstant, {text}), tok.pos);
      tok.floatValue = 0;
    }
  } else {
    tok.kind = tkInteger;
    auto r = std::from_chars(first, last, tok.intValue);
    if (r.ec != std::errc() || r.ptr != last) {
      Error(texts::Fill(texts::kInvalidIntegerConstant, {text}), tok.pos);
      tok.intValue = 0;
    }
  }
}

void Lexer::ScanHex(Token& tok) {
  const std::size_t start = FPos;
  Advance();  // $
  if (HexValue(Peek()) < 0) {
    Fatal(tok, texts::kHexDigitExpected);
    return;
  }
  std::uint64_t value = 0;
  bool tooBig = false;
  while (HexValue(Peek()) >= 0) {
    value = value * 16 + static_cast<unsigned>(HexValue(Peek()));
    if (value > 0xFFFFFFFFu) {
      tooBig = true;
      value = 0;
    }
    Advance();
  }
  if (IsNameChar(Peek())) {
    Fatal(tok, texts::kHexDigitExpected);
    return;
  }
  tok.kind = tkInteger;
  if (tooBig) {
    Error(texts::Fill(texts::kInvalidHexConstant, {FText.substr(start, FPos - start)}), tok.pos);
    tok.intValue = 0;
  } else {
    // Eight hex digits are the 32 bits of the integer: $FFFFFFFF is -1.
    tok.intValue = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  }
}

bool Lexer::ScanCharCode(Token& tok) {
  const SourcePos at{FLine, FColumn};
  const std::size_t start = FPos;
  Advance();  // #
  std::uint64_t code = 0;
  bool tooBig = false;
  if (Peek() == '$') {
    Advance();
    if (HexValue(Peek()) < 0) return Fatal(tok, texts::kHexDigitExpected);
    for (; HexValue(Peek()) >= 0; Advance()) {
      code = code * 16 + static_cast<unsigned>(HexValue(Peek()));
      if (code > 0x10FFFF) {
        tooBig = true;
        code = 0;
      }
    }
  } else if (IsDigit(Peek())) {
    for (; IsDigit(Peek()); Advance()) {
      code = code * 10 + static_cast<unsigned>(Peek() - '0');
      if (code > 0x10FFFF) {
        tooBig = true;
        code = 0;
      }
    }
  } else {
    return Fatal(tok, texts::kNumberExpected);
  }
  if (tooBig || (code >= 0xD800 && code <= 0xDFFF))
    Error(texts::Fill(texts::kInvalidCharConstant, {FText.substr(start, FPos - start)}), at);
  else
    AppendUtf8(tok.str, static_cast<std::uint32_t>(code));
  return true;
}

void Lexer::ScanString(Token& tok) {
  tok.kind = tkString;
  for (;;) {
    if (Peek() == '\'') {
      Advance();
      for (;;) {
        if (AtEnd() || Peek() == '\r' || Peek() == '\n') {
          Fatal(tok, texts::kEndOfStringNotFound);
          return;
        }
        const char c = Peek();
        Advance();
        if (c == '\'') {
          if (Peek() != '\'') break;
          Advance();
        }
        tok.str += c;
      }
    } else if (Peek() == '#') {
      if (!ScanCharCode(tok)) return;
    } else {
      return;
    }
  }
}

}  // namespace ruvala::script
