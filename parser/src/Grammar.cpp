#include "Grammar.h"

#include <emmintrin.h>

#include <cstring>

#include "Format.h"
#include "Lexer.h"

namespace kalvix {

namespace {

inline bool IsValueToken(int k) { return k == tkData || k == tkNumber || (k >= tkEscPlus && k <= tkEscQmark); }

KindSet Set(std::initializer_list<int> kinds) {
  KindSet s;
  for (int k : kinds) s.Add(k);
  return s;
}

KindSet ClassHeaders() {
  KindSet s;
  for (int k = tkXehAssmnt; k <= tkXehVehdes; ++k) s.Add(k);
  return s;
}

class Parser {
 public:
  Parser(SegmentTree& tree, ErrorReporter& reporter, const std::vector<common::Substitution>& substituted)
      : FTree(tree), FReporter(reporter), FLayouts(Layouts::Get()), FLex(tree.Source().c_str(), reporter, true) {
    FLex.SetSubstitutions(tree.Source().c_str(), substituted);
    for (Token& t : FWin) FLex.Next(t);
    FFollowOrdHeader = ClassHeaders();
    FFollowPosHeader = Set({tkXehPosNum, tkXehPosAss});
    FFollowMessage = ClassHeaders();
    FFollowMessage.Add(tkTagXgt);
    FFollowPosMessage = Set({tkXehPosNum, tkXehPosAss, tkTagXgt});
    FFollowXet = FFollowMessage;
    FFollowXet |= FFollowPosMessage;
    FFollowPosMsgHeader = Set({tkStringFe});
    FFollowPosBody = Set({tkTagXet});
  }

  void Interchange();

 private:
  const Token& LA(int i) const { return FWin[(FHead + static_cast<unsigned>(i) - 1) & 7u]; }
  int Kind1() const { return FWin[FHead].kind; }
  void Consume() {
    FLex.Next(FWin[FHead]);
    FHead = (FHead + 1) & 7u;
  }

  std::string At() const {
    const Token& t = LA(1);
    std::string m = "line ";
    m += std::to_string(t.line);
    m += ": syntax error at \"";
    if (t.kind == tkEof)
      m += "<eof>";
    else
      m += common::EscapeControls(t.Text());
    m += "\" missing ";
    return m;
  }
  void Missing(int kind) { FReporter.Add(At() + TokenName(kind)); }
  void MissingOneOf(const KindSet& s) {
    std::string m = At() + "{";
    for (int k = 0; k < tkKindCount; ++k)
      if (s.Has(k)) {
        m += ' ';
        m += TokenName(k);
      }
    m += " }";
    FReporter.Add(std::move(m));
  }
  void Recover(const KindSet& follow) {
    if (!FRecoveryConsumed) {
      Consume();
      FRecoveryConsumed = true;
      return;
    }
    if (follow.Has(Kind1()) || Kind1() == tkEof) {
      FRecoveryConsumed = false;
      return;
    }
    while (!follow.Has(Kind1()) && Kind1() != tkEof) Consume();
    FRecoveryConsumed = true;
  }
  bool Match(int kind, const KindSet& follow) {
    if (Kind1() == kind) {
      Consume();
      return true;
    }
    Missing(kind);
    Recover(follow);
    return false;
  }

  ValueRef Value();
  int ReadElement(const SegmentLayout& l, int k);
  bool Elements(const SegmentLayout& l, int startKey, bool secondRequired, const KindSet& follow);
  SegmentNode* Segment(int layoutIdx, const KindSet& follow, int startKey = 0, bool secondRequired = false,
                       ValueRef first = ValueRef());
  void Body(const ContentModel& m, std::size_t start, int depth);
  void Block(int layoutIdx, int depth);
  void BlockMark(int kind, int depth);
  void Header(const KindSet& follow);
  void MessageRule();
  void PositionalMessage();
  void Xet();

  // Tree actions.
  SegmentNode* Open(int level) const { return FOpen[level < kOpenLevels ? level : kOpenLevels - 1]; }
  void SetOpen(int level, SegmentNode* n) {
    if (level < kOpenLevels) FOpen[level] = n;
  }
  void AddSegmentNode(SegmentNode* n) {
    FTree.Add(Open(FLevel), n);
    if (FSubLevelPending) {
      FSubLevelPending = false;
      ++FLevel;
      SetOpen(FLevel, n);
    }
  }

  SegmentTree& FTree;
  ErrorReporter& FReporter;
  const Layouts& FLayouts;
  Lexer FLex;
  Token FWin[8];
  unsigned FHead = 0;
  int FLevel = 0;
  SegmentNode* FOpen[kOpenLevels] = {};
  bool FSubLevelPending = false;
  bool FRecoveryConsumed = true;
  ValueRef FVals[kMaxKeys];
  std::string FBuf;
  KindSet FFollowOrdHeader, FFollowPosHeader, FFollowMessage, FFollowPosMessage, FFollowXet, FFollowPosMsgHeader,
      FFollowPosBody, FNothing;
};

ValueRef Parser::Value() {
  int k = Kind1();
  if (!IsValueToken(k)) return {};
  const Token& t = LA(1);
  if (!IsValueToken(LA(2).kind)) {
    // One token: a slice of the text, no copy.
    ValueRef r = (k == tkData || k == tkNumber) ? FTree.SourceRef(t.text, t.len) : FTree.SourceRef(t.text + 1, 1);
    Consume();
    return r;
  }
  FBuf.clear();
  while (IsValueToken(k = Kind1())) {
    const Token& u = LA(1);
    if (k == tkData || k == tkNumber)
      FBuf.append(u.text, u.len);
    else
      FBuf.push_back(u.text[1]);
    Consume();
  }
  return FTree.Store(FBuf);
}

int Parser::ReadElement(const SegmentLayout& l, int k) {
  FVals[k] = Value();
  while (!((l.elementEnd >> k) & 1)) {
    if (Kind1() != tkCompSep) {
      while (!((l.elementEnd >> k) & 1)) ++k;
      break;
    }
    Consume();
    ++k;
    FVals[k] = Value();
  }
  return k + 1;
}

bool Parser::Elements(const SegmentLayout& l, int startKey, bool secondRequired, const KindSet& follow) {
  int k = startKey;
  if (k >= l.count) return true;
  k = ReadElement(l, k);
  for (int e = 1; k < l.count; ++e) {
    if (Kind1() == tkDataSep) {
      Consume();
      k = ReadElement(l, k);
    } else if (secondRequired && e == 1) {
      Missing(tkDataSep);
      Recover(follow);
      return false;
    } else {
      break;
    }
  }
  return true;
}

// tag (already checked or matched here), TAG_SEP, elements, SGMT_END; the new node on success.
SegmentNode* Parser::Segment(int layoutIdx, const KindSet& follow, int startKey, bool secondRequired, ValueRef first) {
  const SegmentLayout& l = FLayouts.At(layoutIdx);
  if (l.kind != tkInvalid) {
    if (!Match(l.kind, follow)) return nullptr;
  } else {
    Consume();  // header tokens carry the first value; the caller stores it
  }
  for (int i = 0; i < l.count; ++i) FVals[i] = ValueRef();
  FVals[0] = first;
  if (!Match(tkTagSep, follow)) return nullptr;
  if (!Elements(l, startKey, secondRequired || l.secondSepRequired, follow)) return nullptr;
  if (!Match(tkSgmtEnd, follow)) return nullptr;
  int used = l.count;
  while (used > 0 && FVals[used - 1].len == 0) --used;
  return FTree.NewSegment(layoutIdx, FVals, used);
}

void Parser::BlockMark(int kind, int depth) {
  const KindSet& follow = kind == tkXrh ? FLayouts.FollowXrh() : FLayouts.FollowXrt();
  if (!Match(kind, follow) || !Match(tkTagSep, follow)) return;
  if (Kind1() != tkNumber) {
    Missing(tkNumber);
    Recover(follow);
    return;
  }
  const Token& num = LA(1);
  long long found = 0;
  for (std::uint32_t i = 0; i < num.len && found <= 0x7FFFFFFF; ++i) found = found * 10 + (num.text[i] - '0');
  if (found > 0x7FFFFFFF) found = 0x7FFFFFFF;
  Consume();
  int line = LA(1).line;
  if (!Match(tkSgmtEnd, follow)) return;
  if (found != depth) {
    std::string m = "Invalid block level, line " + std::to_string(line) + ". Found " + std::to_string(found) +
                    ", expecting " + std::to_string(depth) + "\n";
    FReporter.Add(std::move(m));
  }
}

void Parser::Block(int layoutIdx, int depth) {
  FSubLevelPending = true;
  BlockMark(tkXrh, depth);
  if (SegmentNode* n = Segment(layoutIdx, FLayouts.FollowSegment(layoutIdx))) AddSegmentNode(n);
  if (const ContentModel* m = FLayouts.Rubrique(layoutIdx)) Body(*m, 1, depth + 1);
  BlockMark(tkXrt, depth);
  if (FLevel > 0) --FLevel;
}

void Parser::Body(const ContentModel& m, std::size_t start, int depth) {
  for (std::size_t i = start; i < m.entries.size(); ++i) {
    int idx = m.entries[i];
    const SegmentLayout& l = FLayouts.At(idx);
    if (l.cls != 'R') {
      const KindSet& follow = FLayouts.FollowSegment(idx);
      while (Kind1() == l.kind)
        if (SegmentNode* n = Segment(idx, follow)) AddSegmentNode(n);
    } else if (static_cast<int>(i) != m.lastBlock) {
      while (Kind1() == tkXrh && LA(2).kind == tkTagSep && LA(3).kind == tkNumber && LA(4).kind == tkSgmtEnd &&
             LA(5).kind == l.kind)
        Block(idx, depth);
    } else {
      while (Kind1() == tkXrh) Block(idx, depth);
    }
  }
}

void Parser::Header(const KindSet& follow) {
  SegmentNode* n = Segment(FLayouts.XghIndex(), follow, 1, true, FTree.Store("1"));
  if (!n) return;
  FTree.Add(nullptr, n);
  FOpen[0] = n;
}

void Parser::MessageRule() {
  int k = Kind1();
  if (!IsClassHeader(k)) {
    MissingOneOf(ClassHeaders());
    Recover(FFollowMessage);
    return;
  }
  if (SegmentNode* n = Segment(FLayouts.XehIndex(), FLayouts.FollowMsgHeader(), 1, false,
                               FTree.Store(Layouts::ClassCodeOfHeader(k)))) {
    ++FLevel;
    FTree.Add(Open(FLevel - 1), n);
    SetOpen(FLevel, n);
  }
  Body(FLayouts.BodyOfHeader(k), 0, 1);
  Xet();
}

void Parser::PositionalMessage() {
  int k = Kind1();
  if (k != tkXehPosNum && k != tkXehPosAss) {
    MissingOneOf(FFollowPosHeader);
    Recover(FFollowPosMessage);
    return;
  }
  const Token& head = LA(1);
  ValueRef cls = FTree.SourceRef(head.text + 4, head.len - 4);
  if (SegmentNode* n = Segment(FLayouts.XehIndex(), FFollowPosMsgHeader, 1, false, cls)) {
    ++FLevel;
    FTree.Add(Open(FLevel - 1), n);
    SetOpen(FLevel, n);
  }
  if (Kind1() != tkStringFe) {
    Missing(tkStringFe);
    Recover(FFollowPosBody);
  } else {
    const Token& t = LA(1);
    ValueRef text = FTree.SourceRef(t.text, t.len);
    Consume();
    if (Match(tkTagFe, FFollowPosBody) && Match(tkSgmtEnd, FFollowPosBody))
      FTree.Add(Open(FLevel), FTree.NewPositional(text));
  }
  Xet();
}

void Parser::Xet() {
  if (SegmentNode* n = Segment(FLayouts.XetIndex(), FFollowXet)) {
    if (FLevel > 0) --FLevel;
    FTree.Add(Open(FLevel), n);
  }
}

void Parser::Interchange() {
  int k = Kind1();
  if (k == tkXghOrdinary) {
    Header(FFollowOrdHeader);
    do MessageRule();
    while (IsClassHeader(Kind1()));
  } else if (k == tkTagPosSgmt) {
    Header(FFollowPosHeader);
    do PositionalMessage();
    while (Kind1() == tkXehPosNum || Kind1() == tkXehPosAss);
  } else {
    MissingOneOf(Set({tkTagPosSgmt, tkXghOrdinary}));
    Recover(FNothing);
    return;
  }
  if (SegmentNode* n = Segment(FLayouts.XgtIndex(), FNothing)) FTree.Add(nullptr, n);
}

// Token kind of every three-letter word that is a whole tag token, -1 for the rest.
struct TagTable {
  std::int8_t kind[26 * 26 * 26];
  TagTable() {
    std::memset(kind, -1, sizeof kind);
    const Layouts& l = Layouts::Get();
    for (int i = 0; i < l.Count(); ++i) {
      const std::string& t = l.At(i).tag;
      if (l.At(i).kind != tkInvalid)
        kind[((t[0] - 'A') * 26 + (t[1] - 'A')) * 26 + (t[2] - 'A')] = static_cast<std::int8_t>(l.At(i).kind);
    }
  }
};

// A well-formed ordinary interchange read straight from the bytes, without tokens: the same
// decisions, values and tree actions as Parser makes when it meets no problem. At the first
// byte that is not exactly what a clean parse consumes it gives up, and Parser reads the text
// again from the start with its lexer, messages and recovery.
class CleanParser {
 public:
  explicit CleanParser(SegmentTree& tree) : FTree(tree), FLayouts(Layouts::Get()), FPos(tree.Source().c_str()) {}

  bool Interchange();

 private:
  // A clean parse adds every node after all others in document order: link it there, so that
  // the order needs no rebuilding.
  void Add(SegmentNode* parent, SegmentNode* n) {
    FTree.Add(parent, n);
    n->prev = FLast;
    if (FLast) FLast->next = n;
    FLast = n;
  }
  // Line breaks and the blanks after them, between the tokens of tag mode.
  void SkipBreaks() {
    while (*FPos == '\r' || *FPos == '\n') {
      ++FPos;
      while (*FPos == ' ') ++FPos;
    }
  }
  // Whether the text at q starts with the n characters of s (the source ends with NUL bytes,
  // so a short text stops the comparison).
  static bool StartsWith(const char* q, const char* s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
      if (q[i] != s[i]) return false;
    return true;
  }
  bool Lit(const char* s, std::size_t n) {
    if (!StartsWith(FPos, s, n)) return false;
    FPos += n;
    return true;
  }
  // Kind of the tag token at q (an ordinary tag, XRH, XRT, XET, XGT), or -1.
  static int TagAt(const char* q) {
    static const TagTable kTags;
    auto a = static_cast<unsigned>(static_cast<unsigned char>(q[0]) - 'A');
    auto b = static_cast<unsigned>(static_cast<unsigned char>(q[1]) - 'A');
    if (a >= 26 || b >= 26) return -1;
    auto c = static_cast<unsigned>(static_cast<unsigned char>(q[2]) - 'A');
    return c >= 26 ? -1 : kTags.kind[(a * 26 + b) * 26 + c];
  }
  // The body loops ask for the same next tag once per model entry: remember it.
  int PeekTag() {
    if (FPos != FPeekPos) {
      SkipBreaks();
      FPeekPos = FPos;
      FPeekKind = TagAt(FPos);
    }
    return FPeekKind;
  }
  // The digits of a block mark up to its terminator: "XRH+" or "XRT+" already read. The
  // level, or -1 when the run is not one NUMBER token followed by "'".
  long long BlockNumber() {
    const char* q = FPos;
    long long v = 0;
    while (static_cast<unsigned>(*q - '0') < 10) {
      if (v <= 0x7FFFFFFF) v = v * 10 + (*q - '0');
      ++q;
    }
    if (q == FPos || *q != '\'') return -1;
    FPos = q + 1;
    return v;
  }
  // Whether the next five tokens are XRH, TAG_SEP, NUMBER, SGMT_END and the tag `kind`. The
  // rubrique loops of a model ask in turn at the same place: the tag found there is kept.
  bool BlockOf(int kind) {
    if (PeekTag() != tkXrh) return false;
    if (FPos != FBlockPeekPos) {
      const char* save = FPos;
      FBlockPeekPos = FPos;
      FBlockPeekKind = -1;
      FPos += 3;
      SkipBreaks();
      if (*FPos == '+') {
        ++FPos;
        if (BlockNumber() >= 0) {
          SkipBreaks();
          FBlockPeekKind = TagAt(FPos);
        }
      }
      FPos = save;
    }
    return FBlockPeekKind == kind;
  }
  bool BlockMark(const char* tag, int depth) {
    SkipBreaks();
    if (!Lit(tag, 3)) return false;
    SkipBreaks();
    if (*FPos != '+') return false;
    ++FPos;
    return BlockNumber() == depth;
  }
  [[gnu::always_inline]] inline bool Value(ValueRef& out);
  int Elements(const SegmentLayout& l, int startKey, bool secondRequired);
  SegmentNode* Segment(int layoutIdx, int startKey = 0, bool secondRequired = false, ValueRef first = ValueRef());
  bool Body(const ContentModel& m, std::size_t start, int depth, SegmentNode* holder);
  bool Block(int layoutIdx, int depth, SegmentNode* holder);
  int ClassHeader();

  SegmentTree& FTree;
  const Layouts& FLayouts;
  const char* FPos;
  const char* FPeekPos = nullptr;
  int FPeekKind = -1;
  const char* FBlockPeekPos = nullptr;
  int FBlockPeekKind = -1;
  SegmentNode* FLast = nullptr;
  ValueRef FVals[kMaxKeys];
  std::string FBuf;
};

inline bool CleanParser::Value(ValueRef& out) {
  const char* start = FPos;
  const char* p = FPos;
  for (;;) {
    // Data runs end at "'", "+", ":", "?" or the end of the text; 16 bytes at a time (the
    // source is padded with NUL bytes).
    for (;;) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i stop = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\'')), _mm_cmpeq_epi8(v, _mm_set1_epi8('?'))),
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('+')), _mm_cmpeq_epi8(v, _mm_set1_epi8(':'))),
                       _mm_cmpeq_epi8(v, _mm_setzero_si128())));
      if (unsigned m = static_cast<unsigned>(_mm_movemask_epi8(stop))) {
        p += __builtin_ctz(m);
        break;
      }
      p += 16;
    }
    if (*p != '?') break;
    char c = p[1];
    if (c != '+' && c != ':' && c != '\'' && c != '?') return false;  // a lexical error
    if (start == FPos) FBuf.clear();
    FBuf.append(start, static_cast<std::size_t>(p - start));
    FBuf.push_back(c);
    p += 2;
    start = p;
  }
  if (start == FPos) {
    out = FTree.SourceRef(FPos, static_cast<std::size_t>(p - FPos));
  } else {
    FBuf.append(start, static_cast<std::size_t>(p - start));
    out = FTree.Store(FBuf);
  }
  FPos = p;
  return true;
}

// Reads the elements into FVals from startKey on; the number of keys given a slot (values
// not read inside that range are made empty), or -1 when the text is not a clean segment.
int CleanParser::Elements(const SegmentLayout& l, int startKey, bool secondRequired) {
  int k = startKey;
  if (k < l.count) {
    for (int e = 0;; ++e) {
      if (e > 0) {
        if (k >= l.count) break;
        if (*FPos != '+') {
          if (secondRequired && e == 1) return -1;
          break;
        }
        ++FPos;
      }
      if (!Value(FVals[k])) return -1;
      while (!((l.elementEnd >> k) & 1)) {
        if (*FPos != ':') {
          while (!((l.elementEnd >> k) & 1)) FVals[++k] = ValueRef();
          break;
        }
        ++FPos;
        ++k;
        if (!Value(FVals[k])) return -1;
      }
      ++k;
    }
  }
  if (*FPos != '\'') return -1;
  ++FPos;
  return k;
}

// The tag has been read; TAG_SEP, the elements and SGMT_END follow.
SegmentNode* CleanParser::Segment(int layoutIdx, int startKey, bool secondRequired, ValueRef first) {
  const SegmentLayout& l = FLayouts.At(layoutIdx);
  FVals[0] = first;
  SkipBreaks();
  if (*FPos != '+') return nullptr;
  ++FPos;
  int used = Elements(l, startKey, secondRequired || l.secondSepRequired);
  if (used < 0) return nullptr;
  while (used > 0 && FVals[used - 1].len == 0) --used;
  return FTree.NewSegment(layoutIdx, FVals, used);
}

bool CleanParser::Block(int layoutIdx, int depth, SegmentNode* holder) {
  if (!BlockMark("XRH", depth)) return false;
  if (PeekTag() != FLayouts.At(layoutIdx).kind) return false;
  FPos += 3;
  SegmentNode* n = Segment(layoutIdx);
  if (!n) return false;
  Add(holder, n);
  const ContentModel* m = FLayouts.Rubrique(layoutIdx);
  if (m && !Body(*m, 1, depth + 1, n)) return false;
  return BlockMark("XRT", depth);
}

bool CleanParser::Body(const ContentModel& m, std::size_t start, int depth, SegmentNode* holder) {
  for (std::size_t i = start; i < m.entries.size(); ++i) {
    // Token kinds are small non-negative numbers, kept in 8 bits to keep the models compact.
    const int idx = m.entries[i], kind = m.kinds[i];  // NOLINT(bugprone-signed-char-misuse)
    if (!((m.rubriques >> i) & 1)) {
      while (PeekTag() == kind) {
        FPos += 3;
        SegmentNode* n = Segment(idx);
        if (!n) return false;
        Add(holder, n);
      }
    } else if (static_cast<int>(i) != m.lastBlock) {
      while (BlockOf(kind))
        if (!Block(idx, depth, holder)) return false;
    } else {
      while (PeekTag() == tkXrh)
        if (!Block(idx, depth, holder)) return false;
    }
  }
  return true;
}

// "XEH+" and a class code, as the lexer matches it greedily; the header kind or -1.
int CleanParser::ClassHeader() {
  static const int kByDigit[10] = {-1,          tkXehCntrct, tkXehClafil, tkXehPrenot, tkXehRquest,
                                   tkXehAssmnt, tkXehRcaptn, tkXehCurrac, tkXehClaset, tkXehFrprev};
  SkipBreaks();
  if (!StartsWith(FPos, "XEH+", 4)) return -1;
  const char* q = FPos + 4;
  int kind;
  if (q[0] == '0') {
    if (q[1] < '1' || q[1] > '9') return -1;
    kind = kByDigit[q[1] - '0'];
    q += 2;
  } else if (q[0] == '9' && (q[1] == '0' || q[1] == '1' || q[1] == '7')) {
    kind = q[1] == '0' ? tkXehVehdes : q[1] == '1' ? tkXehPtydes : tkXehTecobj;
    q += 2;
  } else if (q[0] >= '1' && q[0] <= '9') {
    kind = kByDigit[q[0] - '0'];
    q += 1;
  } else {
    return -1;
  }
  FPos = q;
  return kind;
}

bool CleanParser::Interchange() {
  SkipBreaks();
  if (!Lit("XGH+", 4)) return false;
  if (*FPos == '0') ++FPos;
  if (*FPos != '1') return false;
  ++FPos;
  SegmentNode* xgh = Segment(FLayouts.XghIndex(), 1, true, FTree.Store("1"));
  if (!xgh) return false;
  Add(nullptr, xgh);
  do {
    int k = ClassHeader();
    if (k < 0) return false;
    SegmentNode* xeh = Segment(FLayouts.XehIndex(), 1, false, FTree.Store(Layouts::ClassCodeOfHeader(k)));
    if (!xeh) return false;
    Add(xgh, xeh);
    if (!Body(FLayouts.BodyOfHeader(k), 0, 1, xeh)) return false;
    if (PeekTag() != tkTagXet) return false;
    FPos += 3;
    SegmentNode* xet = Segment(FLayouts.XetIndex());
    if (!xet) return false;
    Add(xgh, xet);
    SkipBreaks();
  } while (StartsWith(FPos, "XEH+", 4));
  if (PeekTag() != tkTagXgt) return false;
  FPos += 3;
  SegmentNode* xgt = Segment(FLayouts.XgtIndex());
  if (!xgt) return false;
  Add(nullptr, xgt);
  // Parser's lexer runs eight tokens ahead of the trailer: what it would meet there must be
  // free of lexical errors too.
  ErrorReporter ahead;
  ahead.SetEcho(false);
  Lexer lex(FPos, ahead, true);
  Token t;
  for (int i = 0; i < 8; ++i) lex.Next(t);
  return ahead.Count() == 0;
}

}  // namespace

void ParseInterchange(std::string text, SegmentTree& tree, ErrorReporter& reporter, bool cleanPath,
                      const std::vector<common::Substitution>& substituted) {
  reporter.Clear();
  tree.SetSource(std::move(text));
  tree.SetBuilding(true);
  bool clean = false;
  try {
    // Substituted characters are reported by the lexer: the token-free path has none to give.
    clean = cleanPath && substituted.empty() && CleanParser(tree).Interchange();
    if (!clean) {
      tree.Clear();
      Parser p(tree, reporter, substituted);
      p.Interchange();
    }
  } catch (...) {
    tree.SetBuilding(false);
    tree.RebuildOrder();
    throw;
  }
  tree.SetBuilding(false);
  if (!clean) tree.RebuildOrder();
}

}  // namespace kalvix
