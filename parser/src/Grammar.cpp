#include "Grammar.h"

#include <cstring>

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
  Parser(SegmentTree& tree, ErrorReporter& reporter)
      : FTree(tree), FReporter(reporter), FLayouts(Layouts::Get()), FLex(tree.Source().c_str(), reporter, true) {
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
      m.append(t.text, t.len);
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
SegmentNode* Parser::Segment(int layoutIdx, const KindSet& follow, int startKey, bool secondRequired,
                             ValueRef first) {
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
  if (SegmentNode* n =
          Segment(FLayouts.XehIndex(), FLayouts.FollowMsgHeader(), 1, false, FTree.Store(Layouts::ClassCodeOfHeader(k)))) {
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

}  // namespace

void ParseInterchange(std::string text, SegmentTree& tree, ErrorReporter& reporter) {
  reporter.Clear();
  tree.SetSource(std::move(text));
  tree.SetBuilding(true);
  try {
    Parser p(tree, reporter);
    p.Interchange();
  } catch (...) {
    tree.SetBuilding(false);
    tree.RebuildOrder();
    throw;
  }
  tree.SetBuilding(false);
  tree.RebuildOrder();
}

}  // namespace kalvix
