// Turns the 8-bit text of one interchange into tokens. Greedy matching without backing up,
// in five modes; characters that form no token are reported and dropped.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "ErrorReporter.h"
#include "TextCodec.h"
#include "Tokens.h"

namespace kalvix {

struct Token {
  const char* text = nullptr;  // points into the lexer's input
  std::uint32_t len = 0;
  std::int32_t line = 1;
  std::uint8_t kind = tkInvalid;
  std::string_view Text() const { return {text, len}; }
};

class Lexer {
 public:
  // text must stay alive and be followed by a NUL byte; a NUL also ends the text early.
  // padded: 15 more readable bytes follow that NUL, so data runs can be scanned in blocks.
  Lexer(const char* text, ErrorReporter& reporter, bool padded = false)
      : FPos(text), FReporter(reporter), FPadded(padded) {}
  // Characters of the original text that the code page lacked, at their offsets from base (the
  // start of the text), in ascending order; each is reported once the scan has passed it.
  void SetSubstitutions(const char* base, const std::vector<common::Substitution>& substituted) {
    FBase = base;
    FSubst = substituted.data();
    FSubstEnd = FSubst + substituted.size();
  }
  // The next token that is not skipped; kind tkEof at and after the end of the text.
  void Next(Token& t);
  int Line() const { return FLine; }

 private:
  enum Mode : std::uint8_t { TagMode, DataMode, PositionalTagMode, PositionalDataMode, FreeTextMode };

  void Emit(Token& t, int kind, const char* start) {
    t.kind = static_cast<std::uint8_t>(kind);
    t.text = start;
    t.len = static_cast<std::uint32_t>(FPos - start);
    t.line = FLine;
  }
  void Invalid(const char* start);
  void ReportSubstitutions();
  bool ScanTag(Token& t, bool positional);
  bool ScanData(Token& t, bool positional);
  bool ScanRunBlocks();

  const char* FPos;
  ErrorReporter& FReporter;
  std::int32_t FLine = 1;
  Mode FMode = TagMode;
  bool FFreeTextPending = false;
  bool FPadded;
  const char* FBase = nullptr;
  const common::Substitution* FSubst = nullptr;
  const common::Substitution* FSubstEnd = nullptr;
};

}  // namespace kalvix
