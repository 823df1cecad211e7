#include "Lexer.h"

#include <emmintrin.h>

#include <cstring>
#include <string>

#include "Format.h"
#include "Layouts.h"

namespace kalvix {

const char* TokenName(int kind) {
  static const char* const kNames[tkKindCount] = {"Invalid",
                                                  "@",
                                                  "[\\n\\r]{[\\ ]*}",
                                                  "TAG_SEP",
                                                  "TAG_POS_SGMT",
                                                  "TAG_XET",
                                                  "TAG_XGT",
                                                  "TAG_XEH_ASSMNT",
                                                  "TAG_XEH_CLAFIL",
                                                  "TAG_XEH_CLASET",
                                                  "TAG_XEH_CNTRCT",
                                                  "TAG_XEH_CURRAC",
                                                  "TAG_XEH_FRPREV",
                                                  "TAG_XEH_PRENOT",
                                                  "TAG_XEH_PTYDES",
                                                  "TAG_XEH_RCAPTN",
                                                  "TAG_XEH_RQUEST",
                                                  "TAG_XEH_TECOBJ",
                                                  "TAG_XEH_VEHDES",
                                                  "STRING_FE",
                                                  "TAG_FE",
                                                  "SGMT_END",
                                                  "DATA_SEP",
                                                  "COMP_SEP",
                                                  "ACT",
                                                  "ADR",
                                                  "ATT",
                                                  "BIN",
                                                  "CLS",
                                                  "COM",
                                                  "DAM",
                                                  "DED",
                                                  "DOC",
                                                  "DOD",
                                                  "DPT",
                                                  "DTM",
                                                  "EVT",
                                                  "FND",
                                                  "FTX",
                                                  "GEC",
                                                  "GIS",
                                                  "ICD",
                                                  "IDD",
                                                  "IFD",
                                                  "IND",
                                                  "IPD",
                                                  "IRD",
                                                  "ISD",
                                                  "LIN",
                                                  "MMD",
                                                  "MOA",
                                                  "NME",
                                                  "PAR",
                                                  "PAT",
                                                  "PCD",
                                                  "PER",
                                                  "PFN",
                                                  "PTY",
                                                  "QRS",
                                                  "QTY",
                                                  "RDT",
                                                  "RFF",
                                                  "RLE",
                                                  "ROD",
                                                  "RPT",
                                                  "SRO",
                                                  "VAL",
                                                  "XRH",
                                                  "NUMBER",
                                                  "XRT",
                                                  "XGH\\+{0}1",
                                                  "TAG_XEH_POS_NUM",
                                                  "TAG_XEH_POS_ASS",
                                                  "DATA",
                                                  "ESC_PLUS",
                                                  "ESC_COLON",
                                                  "ESC_QUOTE",
                                                  "ESC_QMARK",
                                                  "segment tag",
                                                  "technical segment tag",
                                                  "separator (+)",
                                                  "number",
                                                  "string",
                                                  "separator (+:')",
                                                  "[\\n\\r]{[\\ ]*}"};
  return kind >= 0 && kind < tkKindCount ? kNames[kind] : "Invalid";
}

namespace {

// Deterministic automaton over the fixed words of a tag mode; state 0 is the start and is
// never a target, so 0 also means "cannot continue".
struct WordAutomaton {
  static constexpr int kMaxStates = 200;
  std::uint8_t next[kMaxStates][256];
  std::uint8_t accept[kMaxStates];
  int states = 1;

  WordAutomaton() {
    std::memset(next, 0, sizeof next);
    std::memset(accept, 0, sizeof accept);
  }
  void Add(std::string_view word, int kind) {
    int s = 0;
    for (char ch : word) {
      auto c = static_cast<unsigned char>(ch);
      if (!next[s][c]) next[s][c] = static_cast<std::uint8_t>(states++);
      s = next[s][c];
    }
    if (kind) accept[s] = static_cast<std::uint8_t>(kind);
  }
  int Walk(std::string_view word) const {
    int s = 0;
    for (char ch : word) s = next[s][static_cast<unsigned char>(ch)];
    return s;
  }
  int NewState(int kind) {
    accept[states] = static_cast<std::uint8_t>(kind);
    return states++;
  }
  void Link(int from, char c, int to) { next[from][static_cast<unsigned char>(c)] = static_cast<std::uint8_t>(to); }
};

const WordAutomaton& TagWords() {
  static const WordAutomaton a = [] {
    WordAutomaton w;
    w.Add("+", tkTagSep);
    w.Add("XGH+1", tkXghOrdinary);
    w.Add("XGH+01", tkXghOrdinary);
    w.Add("XGH+3", tkTagPosSgmt);
    w.Add("XGH+03", tkTagPosSgmt);
    static const struct {
      const char* code;
      int kind;
    } kCodes[] = {{"1", tkXehCntrct}, {"2", tkXehClafil}, {"3", tkXehPrenot}, {"4", tkXehRquest}, {"5", tkXehAssmnt},
                  {"6", tkXehRcaptn}, {"7", tkXehCurrac}, {"8", tkXehClaset}, {"9", tkXehFrprev}};
    for (const auto& c : kCodes) {
      w.Add(std::string("XEH+") + c.code, c.kind);
      w.Add(std::string("XEH+0") + c.code, c.kind);
    }
    w.Add("XEH+90", tkXehVehdes);
    w.Add("XEH+91", tkXehPtydes);
    w.Add("XEH+97", tkXehTecobj);
    const Layouts& l = Layouts::Get();
    for (int i = 0; i < l.Count(); ++i)
      if (l.At(i).kind != tkInvalid) w.Add(l.At(i).tag, l.At(i).kind);
    return w;
  }();
  return a;
}

const WordAutomaton& PositionalTagWords() {
  static const WordAutomaton a = [] {
    WordAutomaton w;
    w.Add("+", tkTagSep);
    w.Add("XET", tkTagXet);
    w.Add("XGT", tkTagXgt);
    w.Add("XEH+ASS", tkInvalid);
    w.Add("XEH+", tkInvalid);
    int plus = w.Walk("XEH+");
    int d1 = w.NewState(tkXehPosNum), d2 = w.NewState(tkXehPosNum);
    int ass = w.Walk("XEH+ASS");
    int a1 = w.NewState(tkInvalid), a2 = w.NewState(tkInvalid), a3 = w.NewState(tkXehPosAss);
    for (char d = '0'; d <= '9'; ++d) {
      w.Link(plus, d, d1);
      w.Link(d1, d, d2);
      w.Link(ass, d, a1);
      w.Link(a1, d, a2);
      w.Link(a2, d, a3);
    }
    return w;
  }();
  return a;
}

// Kind of each three-letter word that is a whole token of tag mode (no token of the mode
// extends one of them), indexed by the letters; 0 for the rest.
struct ThreeLetterTags {
  std::uint8_t kind[26 * 26 * 26];
  ThreeLetterTags() {
    std::memset(kind, 0, sizeof kind);
    const Layouts& l = Layouts::Get();
    for (int i = 0; i < l.Count(); ++i) {
      const std::string& t = l.At(i).tag;
      if (l.At(i).kind != tkInvalid)
        kind[((t[0] - 'A') * 26 + (t[1] - 'A')) * 26 + (t[2] - 'A')] = static_cast<std::uint8_t>(l.At(i).kind);
    }
  }
};
const ThreeLetterTags& TagKinds() {
  static const ThreeLetterTags t;
  return t;
}

// Byte classes of the data modes.
enum : std::uint8_t { ccData = 0, ccDigit = 1, ccStop = 2 };
struct DataClasses {
  std::uint8_t c[256];
  DataClasses() {
    std::memset(c, ccData, sizeof c);
    for (int d = '0'; d <= '9'; ++d) c[d] = ccDigit;
    c[0] = c[static_cast<unsigned char>('\'')] = c[static_cast<unsigned char>('?')] =
        c[static_cast<unsigned char>('+')] = c[static_cast<unsigned char>(':')] = ccStop;
  }
};
const DataClasses kDataClasses;

}  // namespace

// Reports the characters from start to the read position (at least one) and drops the
// character that follows them.
void Lexer::Invalid(const char* start) {
  if (FPos == start) ++FPos;
  std::string msg = "invalid token near line ";
  msg += std::to_string(FLine);
  msg += " (text was '";
  msg += common::EscapeControls(std::string_view(start, static_cast<std::size_t>(FPos - start)));
  msg += "')";
  FReporter.Add(std::move(msg));
  if (*FPos) ++FPos;
}

// A stand-in byte is an ordinary data byte to the scanner, so the segments parse as they would
// have with the original character; the character itself is named here, as a lexical error.
void Lexer::ReportSubstitutions() {
  while (FSubst != FSubstEnd && FBase + FSubst->offset < FPos) {
    std::string msg = "character outside ";
    msg += common::AnsiCodePageName();
    msg += " near line ";
    msg += std::to_string(FLine);
    msg += " (text was '";
    msg += common::CodePointName(FSubst->codePoint);
    msg += "')";
    FReporter.Add(std::move(msg));
    ++FSubst;
  }
}

bool Lexer::ScanTag(Token& t, bool positional) {
  const char* start = FPos;
  char c = *FPos;
  if (c == 0) {
    Emit(t, tkEof, start);
    return true;
  }
  if (c == '\r' || c == '\n') {
    ++FPos;
    while (*FPos == ' ') ++FPos;
    if (*FPos == '\n') ++FLine;
    return false;
  }
  if (!positional) {
    auto u0 = static_cast<unsigned>(static_cast<unsigned char>(c) - 'A');
    auto u1 = static_cast<unsigned>(static_cast<unsigned char>(FPos[1]) - 'A');
    auto u2 = u1 < 26 ? static_cast<unsigned>(static_cast<unsigned char>(FPos[2]) - 'A') : 26u;
    if (u0 < 26 && u2 < 26) {
      if (int kind = TagKinds().kind[(u0 * 26 + u1) * 26 + u2]) {
        FPos += 3;
        Emit(t, kind, start);
        return true;
      }
    } else if (c == '+') {
      ++FPos;
      Emit(t, tkTagSep, start);
      FMode = DataMode;
      return true;
    }
  }
  const WordAutomaton& a = positional ? PositionalTagWords() : TagWords();
  int s = 0;
  while (int n = a.next[s][static_cast<unsigned char>(*FPos)]) {
    s = n;
    ++FPos;
  }
  int kind = a.accept[s];
  if (!kind) {
    Invalid(start);
    return false;
  }
  Emit(t, kind, start);
  if (kind == tkTagSep) {
    FMode = positional ? PositionalDataMode : DataMode;
  } else if (kind == tkTagPosSgmt) {
    FMode = PositionalTagMode;
  } else if (kind == tkXehPosNum || kind == tkXehPosAss) {
    FFreeTextPending = true;
  }
  return true;
}

// Advances over a run of data characters 16 bytes at a time; whether it was all digits.
bool Lexer::ScanRunBlocks() {
  const __m128i quote = _mm_set1_epi8('\''), qmark = _mm_set1_epi8('?'), plus = _mm_set1_epi8('+'),
                colon = _mm_set1_epi8(':'), zero = _mm_setzero_si128(), digit0 = _mm_set1_epi8('0'),
                nine = _mm_set1_epi8(9);
  int nonDigit = 0;
  for (;;) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(FPos));
    __m128i stop = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, qmark)),
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, plus), _mm_cmpeq_epi8(v, colon)), _mm_cmpeq_epi8(v, zero)));
    __m128i d = _mm_sub_epi8(v, digit0);
    __m128i isDigit = _mm_cmpeq_epi8(_mm_max_epu8(d, nine), nine);
    unsigned stopMask = static_cast<unsigned>(_mm_movemask_epi8(stop));
    unsigned otherMask = static_cast<unsigned>(_mm_movemask_epi8(isDigit)) ^ 0xFFFFu;
    if (stopMask) {
      int n = __builtin_ctz(stopMask);
      nonDigit |= static_cast<int>(otherMask & ((1u << n) - 1));
      FPos += n;
      return nonDigit == 0;
    }
    nonDigit |= static_cast<int>(otherMask);
    FPos += 16;
  }
}

bool Lexer::ScanData(Token& t, bool positional) {
  const char* start = FPos;
  switch (*FPos) {
    case 0:
      Emit(t, tkEof, start);
      return true;
    case '\'':
      ++FPos;
      Emit(t, tkSgmtEnd, start);
      if (!positional) {
        FMode = TagMode;
      } else if (FFreeTextPending) {
        FFreeTextPending = false;
        FMode = FreeTextMode;
      } else {
        FMode = PositionalTagMode;
      }
      return true;
    case '+':
      ++FPos;
      Emit(t, tkDataSep, start);
      return true;
    case ':':
      ++FPos;
      Emit(t, tkCompSep, start);
      return true;
    case '?': {
      ++FPos;
      int kind = tkInvalid;
      switch (*FPos) {
        case '+':
          kind = tkEscPlus;
          break;
        case ':':
          kind = tkEscColon;
          break;
        case '\'':
          kind = tkEscQuote;
          break;
        case '?':
          kind = tkEscQmark;
          break;
        default:
          break;
      }
      if (!kind) {
        Invalid(start);
        return false;
      }
      ++FPos;
      Emit(t, kind, start);
      return true;
    }
    default: {
      bool digits;
      if (FPadded) {
        digits = ScanRunBlocks();
      } else {
        const auto* p = reinterpret_cast<const unsigned char*>(FPos);
        std::uint8_t all = ccDigit;
        std::uint8_t cls;
        while ((cls = kDataClasses.c[*p]) != ccStop) {
          all &= cls;
          ++p;
        }
        FPos = reinterpret_cast<const char*>(p);
        digits = all == ccDigit;
      }
      Emit(t, digits ? tkNumber : tkData, start);
      return true;
    }
  }
}

void Lexer::Next(Token& t) {
  for (;;) {
    bool made = true;
    switch (FMode) {
      case TagMode:
        made = ScanTag(t, false);
        break;
      case PositionalTagMode:
        made = ScanTag(t, true);
        break;
      case DataMode:
        made = ScanData(t, false);
        break;
      case PositionalDataMode:
        made = ScanData(t, true);
        break;
      case FreeTextMode: {
        const char* start = FPos;
        auto c = static_cast<unsigned char>(*FPos);
        if (c == 0) {
          Emit(t, tkEof, start);
        } else if (c == 0xFE) {
          ++FPos;
          FFreeTextPending = false;
          FMode = PositionalDataMode;
          Emit(t, tkTagFe, start);
        } else if (c == 0xFF) {
          ++FPos;
          Emit(t, tkStringFe, start);
        } else {
          const auto* p = reinterpret_cast<const unsigned char*>(FPos);
          while (*p && *p < 0xFE) ++p;
          FPos = reinterpret_cast<const char*>(p);
          Emit(t, tkStringFe, start);
        }
        break;
      }
    }
    if (FSubst != FSubstEnd) ReportSubstitutions();
    if (made) return;
  }
}

}  // namespace kalvix
