#include "MessageWriter.h"

namespace kalvix {

MessageWriter::MessageWriter(bool question) : FQuestion(question) { FOut.reserve(100000); }

void MessageWriter::WriteValue(std::string_view v) {
  if (!v.empty()) {
    for (int i = 0; i < FQueueLen; ++i) FOut += FQueue[i] == sepComp ? ':' : FQueue[i] == sepElem ? '+' : '\'';
    FQueueLen = 0;
    std::size_t from = 0;
    for (std::size_t i = 0; i < v.size(); ++i) {
      char c = v[i];
      if (c == '+' || c == ':' || c == '\'' || c == '?') {
        FOut.append(v.data() + from, i - from);
        FOut += '?';
        from = i;
      }
    }
    FOut.append(v.data() + from, v.size() - from);
  }
  Queue(sepComp);
}

void MessageWriter::EndElement() {
  while (FQueueLen > 0 && FQueue[FQueueLen - 1] == sepComp) --FQueueLen;
  Queue(sepElem);
}

void MessageWriter::WriteSegment(const Pending& p) {
  WriteValue(p.tag);
  EndElement();
  if (p.layout >= 0) {
    const SegmentLayout& l = Layouts::Get().At(p.layout);
    for (int i = 0; i < l.count; ++i) {
      WriteValue(p.values[i]);
      if ((l.elementEnd >> i) & 1) EndElement();
    }
  }
  FQueueLen = 0;
  Queue(sepSeg);
}

bool MessageWriter::IsEmpty(const Pending& p) const {
  if (p.question) return false;
  if (p.layout < 0) return true;
  const Layouts& ls = Layouts::Get();
  const SegmentLayout& l = ls.At(p.layout);
  if (l.cls == 'T') return false;
  std::uint32_t flags = ls.Flags(p.layout).load(std::memory_order_relaxed);
  for (int i = 0; i < l.count; ++i)
    if (((flags >> i) & 1) && !p.values[i].empty()) return false;
  return true;
}

void MessageWriter::FlushPending() {
  if (!FPending.active) return;
  Pending& p = FPending;
  if (FQuestion) p.question = true;
  if (p.layout >= 0 && Layouts::Get().At(p.layout).cls == 'R') FForceWrite = true;
  bool empty = IsEmpty(p);
  if (!empty || FForceWrite) {
    WriteSegment(p);
    FBlockEmpty = FBlockEmpty && empty;
    FForceWrite = false;
  }
  p = Pending();
}

void MessageWriter::OpenBlock() {
  FlushPending();
  FMarks.push_back({FOut.size(), FQueueLen > 0});
  ++FLevel;
  FEmptyStack.push_back(FBlockEmpty);
  FBlockEmpty = true;
  std::string level = std::to_string(FLevel);
  Pending xrh;
  xrh.layout = Layouts::Get().IndexOf("XRH");
  xrh.tag = "XRH";
  xrh.values[0] = level;
  WriteSegment(xrh);
  FForceWrite = false;
}

void MessageWriter::CloseBlock() {
  if (FLevel <= 0) return;
  FlushPending();
  if (FBlockEmpty && FLevel >= FMinRemovableLevel && !FMarks.empty()) {
    // Cut the block away; the "'" owed before it is owed again.
    Mark m = FMarks.back();
    FMarks.pop_back();
    FOut.resize(m.length);
    FQueueLen = 0;
    if (m.segmentOwed) Queue(sepSeg);
  } else {
    std::string level = std::to_string(FLevel);
    Pending xrt;
    xrt.layout = Layouts::Get().IndexOf("XRT");
    xrt.tag = "XRT";
    xrt.values[0] = level;
    WriteSegment(xrt);
    FMarks.clear();
    FMarks.push_back({FOut.size(), FQueueLen > 0});
    FMinRemovableLevel = FLevel;
  }
  --FLevel;
  FForceWrite = false;
  FBlockEmpty = FEmptyStack.empty() ? true : static_cast<bool>(FEmptyStack.back());
  if (!FEmptyStack.empty()) FEmptyStack.pop_back();
}

const std::string& MessageWriter::Finish() {
  FlushPending();
  for (int i = 0; i < FQueueLen; ++i) FOut += FQueue[i] == sepComp ? ':' : FQueue[i] == sepElem ? '+' : '\'';
  FQueueLen = 0;
  return FOut;
}

void MessageWriter::NewSegment(std::string_view tag) {
  if (tag == "XRH") {
    OpenBlock();
  } else if (tag == "XRT") {
    CloseBlock();
  } else {
    FlushPending();
    FPendingTag.assign(tag);
    for (std::string& v : FPendingValues) v.clear();
    FPending = Pending();
    FPending.active = true;
    FPending.layout = Layouts::Get().IndexOf(tag);
    FPending.tag = FPendingTag;
  }
}

bool MessageWriter::SetPendingValue(std::string_view composite, int compositePos, std::string_view element,
                                    int elementPos, std::string_view value) {
  if (!FPending.active || FPending.layout < 0) return false;
  int slot = FindKey(Layouts::Get().At(FPending.layout), composite, compositePos, element, elementPos);
  if (slot < 0 || slot >= kMaxKeys) return false;
  FPendingValues[slot].assign(value);
  FPending.values[slot] = FPendingValues[slot];
  return true;
}

void MessageWriter::SetPendingFrom(const SegmentTree& tree, const SegmentNode* n) {
  FPending = Pending();
  FPending.active = true;
  FPending.layout = n->layout;
  FPending.tag = tree.Tag(n);
  if (const SegmentLayout* l = tree.Layout(n))
    for (int i = 0; i < l->count; ++i) FPending.values[i] = tree.Slot(n, i);
}

std::string GenerateTree(SegmentTree& tree, bool question) {
  tree.RebuildOrder();
  MessageWriter w(question);
  int lastLevel = 0;
  int open = 0;
  const SegmentNode* last = nullptr;
  const SegmentNode* n = tree.First();
  // Everything after n that lies in its subtree.
  auto afterSubtree = [](const SegmentNode* s) {
    const SegmentNode* m = s->next;
    while (m && m->level > s->level) m = m->next;
    return m;
  };
  while (n) {
    if (n->positional) {  // free text has no place in the one-line form
      n = n->next;
      continue;
    }
    tree.SaveFlags(n);
    char cls = tree.Class(n);
    if (n->deleted) {
      if (cls != 'R' && cls != 'T') {
        n = n->next;
      } else if (tree.Tag(n) == "XEH") {
        const SegmentNode* m = n->next;
        while (m && tree.Tag(m) != "XET" && tree.Tag(m) != "XGT") m = m->next;
        if (m && tree.Tag(m) == "XET") m = m->next;
        n = m;
      } else {
        // Other deleted rubriques and envelope segments take their own subtree with them.
        n = afterSubtree(n);
      }
      continue;
    }
    if (cls != 'R' && tree.IsEmpty(n) && (!question || tree.AllValuesEmpty(n))) {
      n = n->next;
      continue;
    }
    while ((open > 0 && lastLevel > n->level) ||
           (open > 0 && lastLevel == n->level && last && tree.Class(last) == 'R' && cls == 'R')) {
      w.CloseBlock();
      --lastLevel;
      --open;
    }
    if (cls == 'R') {
      w.OpenBlock();
      ++open;
    }
    w.FlushPending();
    w.SetPendingFrom(tree, n);
    lastLevel = n->level;
    last = n;
    n = n->next;
  }
  return w.Finish();
}

}  // namespace kalvix
