// Token kinds of the lexer. The numbers are fixed: syntax messages print the kind names, and
// sets of expected kinds in this order.
#pragma once

#include <cstdint>

namespace kalvix {

enum TokenKind : std::uint8_t {
  tkInvalid = 0,
  tkEof = 1,
  tkLineBreak = 2,
  tkTagSep = 3,
  tkTagPosSgmt = 4,
  tkTagXet = 5,
  tkTagXgt = 6,
  tkXehAssmnt = 7,
  tkXehClafil = 8,
  tkXehClaset = 9,
  tkXehCntrct = 10,
  tkXehCurrac = 11,
  tkXehFrprev = 12,
  tkXehPrenot = 13,
  tkXehPtydes = 14,
  tkXehRcaptn = 15,
  tkXehRquest = 16,
  tkXehTecobj = 17,
  tkXehVehdes = 18,
  tkStringFe = 19,
  tkTagFe = 20,
  tkSgmtEnd = 21,
  tkDataSep = 22,
  tkCompSep = 23,
  tkFirstTag = 24,  // ACT; the 43 ordinary tags follow in alphabetical order
  tkLastTag = 66,   // VAL
  tkXrh = 67,
  tkNumber = 68,
  tkXrt = 69,
  tkXghOrdinary = 70,
  tkXehPosNum = 71,
  tkXehPosAss = 72,
  tkData = 73,
  tkEscPlus = 74,
  tkEscColon = 75,
  tkEscQuote = 76,
  tkEscQmark = 77,
  tkPosLineBreak = 84,
  tkKindCount = 85,
};

const char* TokenName(int kind);

inline bool IsClassHeader(int k) { return k >= tkXehAssmnt && k <= tkXehVehdes; }

// A set of token kinds.
struct KindSet {
  std::uint64_t w[2] = {0, 0};
  void Add(int k) { w[k >> 6] |= std::uint64_t{1} << (k & 63); }
  bool Has(int k) const { return (w[k >> 6] >> (k & 63)) & 1; }
  KindSet& operator|=(const KindSet& o) {
    w[0] |= o.w[0];
    w[1] |= o.w[1];
    return *this;
  }
};

}  // namespace kalvix
