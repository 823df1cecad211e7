// Splits script text into tokens, skipping blanks, comments and compiler switches.
#pragma once

#include <ruvala/Script.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ScriptValue.h"

namespace ruvala::script {

enum TokenKind : std::uint8_t {
  tkEof,
  tkError,  // a lexical error that ends compilation; its message is already recorded
  tkName,
  tkInteger,
  tkFloat,
  tkString,
  tkAssign,  // :=
  tkPlus,
  tkMinus,
  tkStar,
  tkSlash,
  tkEqual,
  tkNotEqual,
  tkLess,
  tkLessEqual,
  tkGreater,
  tkGreaterEqual,
  tkColon,
  tkSemicolon,
  tkComma,
  tkLParen,
  tkRParen,
  tkLBracket,
  tkRBracket,
  kwBegin,
  kwEnd,
  kwIf,
  kwThen,
  kwElse,
  kwWhile,
  kwDo,
  kwRepeat,
  kwUntil,
  kwFor,
  kwTo,
  kwDownto,
  kwConst,
  kwTrue,
  kwFalse,
  kwAnd,
  kwOr,
  kwXor,
  kwNot,
  kwDiv,
  kwMod,
  kwBoolean,
  kwInteger,
  kwFloat,
  kwString,
};

struct Token {
  TokenKind kind = tkEof;
  SourcePos pos;
  std::string_view text;  // the token as written
  std::string str;        // value of a string constant
  std::int32_t intValue = 0;
  double floatValue = 0;
};

class Lexer {
 public:
  // Errors go to `messages`: a malformed constant value is recorded and read as 0 (compilation
  // goes on and fails at the end); anything else yields tkError.
  Lexer(std::string_view text, std::vector<TScriptMessage>& messages);
  void Next(Token& tok);

 private:
  char Peek(std::size_t ahead = 0) const { return FPos + ahead < FText.size() ? FText[FPos + ahead] : '\0'; }
  bool AtEnd() const { return FPos >= FText.size(); }
  void Advance();
  void Error(const std::string& text, SourcePos pos);
  // Skips blanks, comments and switches; false after a fatal error.
  bool SkipSpace();
  void ScanName(Token& tok);
  void ScanNumber(Token& tok);
  void ScanHex(Token& tok);
  void ScanString(Token& tok);
  // Appends the character of "#ddd" or "#$hh" to the token's text; false after a fatal error.
  bool ScanCharCode(Token& tok);
  bool Fatal(Token& tok, const char* text);

  std::string_view FText;
  std::vector<TScriptMessage>& FMessages;
  std::size_t FPos = 0;
  int FLine = 1;
  int FColumn = 1;
};

}  // namespace ruvala::script
