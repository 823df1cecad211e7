#include "SegmentTree.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace kalvix {

namespace {
constexpr std::size_t kMaxChunk = 1 << 20;
constexpr std::uint32_t kMaxText = 0x7FFFFFFFu;
constexpr std::size_t kKeepArena = 4 << 20;
}  // namespace

SegmentTree::SegmentTree() = default;
SegmentTree::~SegmentTree() = default;

void SegmentTree::Clear() {
  // Keep up to a few megabytes of arena for the next tree; give the rest back.
  std::size_t kept = 0, n = 0;
  while (n < FChunks.size() && kept + FChunkSizes[n] <= kKeepArena) kept += FChunkSizes[n++];
  FChunks.resize(n);
  FChunkSizes.resize(n);
  FChunkInUse = 0;
  FArenaUsed = 0;
  FArenaPos = nullptr;
  FArenaLeft = 0;
  FEdits.clear();
  FRootFirst = FRootLast = nullptr;
  ++FGeneration;
}

void SegmentTree::SetSource(std::string text) {
  Clear();
  if (text.size() >= kMaxText) throw std::length_error("text too long");
  FSource = std::move(text);
  // The lexer reads data runs 16 bytes at a time: NUL bytes after the text keep it inside.
  FSource.append(kSourcePad, '\0');
  // Ordinary interchanges need about 4.5 bytes of nodes and values per byte of text; later
  // chunks add a quarter of the text size each, so the slack stays a fraction of the tree.
  std::size_t guess = FSource.size() * 5 + 256;
  if (guess > kMaxChunk) guess = kMaxChunk;
  // Chunks kept from an earlier text serve as far as this one needs them; the rest go back,
  // so that a small text after a large one does not hold the large one's memory.
  std::size_t kept = 0, n = 0;
  while (n < FChunks.size() && kept + FChunkSizes[n] <= guess) kept += FChunkSizes[n++];
  FChunks.resize(n);
  FChunkSizes.resize(n);
  // Released values are copies of parts of the text: an edit store much larger than this text
  // is an earlier text's.
  if (FEdits.capacity() > FSource.size() / 4 + 256) std::string().swap(FEdits);
  std::size_t later = FSource.size() / 4;
  FLaterChunk = later < 512 ? 512 : later > kMaxChunk ? kMaxChunk : later;
  FNextChunk = guess - kept > FLaterChunk ? guess - kept : FLaterChunk;
}

void* SegmentTree::Allocate(std::size_t bytes) {
  bytes = (bytes + 7) & ~std::size_t{7};
  if (bytes > FArenaLeft) {
    while (FChunkInUse < FChunks.size() && FChunkSizes[FChunkInUse] < bytes) ++FChunkInUse;
    if (FChunkInUse == FChunks.size()) {
      std::size_t size = bytes > FNextChunk ? bytes : FNextChunk;
      FChunks.emplace_back(new char[size]);
      FChunkSizes.push_back(size);
      FNextChunk = FLaterChunk;
    }
    FArenaPos = FChunks[FChunkInUse].get();
    FArenaLeft = FChunkSizes[FChunkInUse];
    ++FChunkInUse;
  }
  void* p = FArenaPos;
  FArenaUsed += bytes;
  FArenaPos += bytes;
  FArenaLeft -= bytes;
  return p;
}

std::size_t SegmentTree::HeapBytes() const {
  std::size_t n = FSource.capacity() + FEdits.capacity() + FChunks.capacity() * sizeof(void*) +
                  FChunkSizes.capacity() * sizeof(std::size_t);
  for (std::size_t size : FChunkSizes) n += size;
  return n;
}

ValueRef SegmentTree::Store(std::string_view s) {
  if (s.empty()) return {};
  if (FEdits.size() + s.size() >= kMaxText) throw std::length_error("edit store full");
  ValueRef r{static_cast<std::uint32_t>(FEdits.size()), static_cast<std::uint32_t>(s.size()) | kEditStoreBit};
  FEdits.append(s);
  return r;
}

SegmentNode* SegmentTree::NewSegment(int layoutIndex, const ValueRef* values, int used) {
  const Layouts& l = Layouts::Get();
  // The node and its values in one piece of the arena.
  const std::size_t valueBytes = sizeof(ValueRef) * static_cast<std::size_t>(used > 0 ? used : 0);
  void* mem = Allocate(sizeof(SegmentNode) + valueBytes);
  auto* n = new (mem) SegmentNode();
  n->layout = static_cast<std::int16_t>(layoutIndex);
  n->ownFlags = l.Flags(layoutIndex).load(std::memory_order_relaxed);
  if (used > 0) {
    n->values = reinterpret_cast<ValueRef*>(static_cast<char*>(mem) + sizeof(SegmentNode));
    std::memcpy(static_cast<void*>(n->values), values, valueBytes);
    n->slotCount = static_cast<std::uint8_t>(used);
  }
  return n;
}

// Gives a node a slot for every key of its layout.
void SegmentTree::GrowSlots(SegmentNode* n) {
  const SegmentLayout& lay = Layouts::Get().At(n->layout);
  auto* v = static_cast<ValueRef*>(Allocate(sizeof(ValueRef) * static_cast<std::size_t>(lay.count)));
  for (int i = 0; i < lay.count; ++i) v[i] = i < n->slotCount ? n->values[i] : ValueRef();
  n->values = v;
  n->slotCount = static_cast<std::uint8_t>(lay.count);
}

void SegmentTree::SetSlotRef(SegmentNode* n, int slot, ValueRef r) {
  if (slot >= n->slotCount) GrowSlots(n);
  n->values[slot] = r;
}

SegmentNode* SegmentTree::NewSegment(std::string_view tag) {
  int idx = Layouts::Get().IndexOf(tag);
  if (idx >= 0) return NewSegment(idx, nullptr, 0);
  // A tag outside the tables holds no values, only its tag.
  auto* n = new (Allocate(sizeof(SegmentNode))) SegmentNode();
  n->values = static_cast<ValueRef*>(Allocate(sizeof(ValueRef)));
  n->values[0] = Store(tag);
  return n;
}

SegmentNode* SegmentTree::NewPositional(ValueRef text) {
  auto* n = new (Allocate(sizeof(SegmentNode))) SegmentNode();
  n->positional = true;
  n->values = static_cast<ValueRef*>(Allocate(sizeof(ValueRef)));
  n->values[0] = text;
  return n;
}

// Links a new leaf into document order right after `before` (nullptr: at the very end of an
// empty order).
void SegmentTree::LinkNew(SegmentNode* before, SegmentNode* node) {
  node->prev = before;
  node->next = before ? before->next : nullptr;
  if (node->next) node->next->prev = node;
  if (before) before->next = node;
}

void SegmentTree::Add(SegmentNode* parent, SegmentNode* node) {
  node->parent = parent;
  node->level = parent ? parent->level + 1 : 0;
  SegmentNode* before = nullptr;
  if (parent) {
    if (!FBuilding) before = parent->lastChild ? LastDescendant(parent->lastChild) : parent;
    if (parent->lastChild)
      parent->lastChild->nextSibling = node;
    else
      parent->firstChild = node;
    parent->lastChild = node;
  } else {
    if (!FBuilding) before = FRootLast ? LastDescendant(FRootLast) : nullptr;
    if (FRootLast)
      FRootLast->nextSibling = node;
    else
      FRootFirst = node;
    FRootLast = node;
  }
  if (!FBuilding) LinkNew(before, node);
}

void SegmentTree::InsertChildAt(SegmentNode* parent, SegmentNode* node, int index) {
  SegmentNode* prevSib = nullptr;
  SegmentNode* c = parent->firstChild;
  for (int i = 0; i < index && c; ++i) {
    prevSib = c;
    c = c->nextSibling;
  }
  if (!c) {
    Add(parent, node);
    return;
  }
  node->parent = parent;
  node->level = parent->level + 1;
  node->nextSibling = c;
  if (prevSib)
    prevSib->nextSibling = node;
  else
    parent->firstChild = node;
  if (!FBuilding) LinkNew(c->prev, node);
}

void SegmentTree::RebuildOrder() {
  SegmentNode* prev = nullptr;
  SegmentNode* n = FRootFirst;
  while (n) {
    n->prev = prev;
    if (prev) prev->next = n;
    prev = n;
    if (n->firstChild) {
      n = n->firstChild;
      continue;
    }
    while (n && !n->nextSibling) n = n->parent;
    if (n) n = n->nextSibling;
  }
  if (prev) prev->next = nullptr;
}

// The document order after a node's subtree reaches its next sibling before any other node
// of its level, so the sibling link gives the same answer as walking the order.
SegmentNode* SegmentTree::NextSibling(const SegmentNode* n) { return n->nextSibling; }

SegmentNode* SegmentTree::PrecedingOtherLevel(const SegmentNode* n) {
  SegmentNode* m = n->prev;
  while (m && m->level == n->level) m = m->prev;
  return m;
}

int SegmentTree::FindChildIndex(const SegmentNode* p, std::string_view tag) const {
  if (!p->firstChild) return -1;
  int idx = 0;
  for (const SegmentNode* m = p->next; m && m->level == p->level + 1; m = m->next, ++idx)
    if (Tag(m) == tag) return idx;
  return -1;
}

namespace {
std::string_view StripZeros(std::string_view s) {
  while (!s.empty() && s.front() == '0') s.remove_prefix(1);
  return s;
}
}  // namespace

bool SegmentTree::PlaceChild(SegmentNode* p, SegmentNode* node, const char** failure) {
  if (!p->firstChild) {
    Add(p, node);
    return true;
  }
  std::string_view tag = Tag(node);
  int idx = FindChildIndex(p, tag);
  if (idx >= 0) {
    InsertChildAt(p, node, idx);
    return true;
  }
  const Layouts& l = Layouts::Get();
  const ContentModel* model;
  if (Tag(p) == "XEH") {
    std::string key(StripZeros(GetValue(p, "", 0, "X910", 1)));
    key += ',';
    key += StripZeros(GetValue(p, "", 0, "X914", 1));
    model = l.Ensemble(key);
    if (!model) {
      if (failure) *failure = "Ensemble layout not found";
      return false;
    }
  } else {
    model = p->positional ? nullptr : l.Rubrique(p->layout);
    if (!model) {
      if (failure) *failure = "Rubrique layout not found";
      return false;
    }
  }
  std::size_t i = 0;
  while (i < model->entries.size() && model->entries[i] != node->layout) ++i;
  if (node->layout < 0) i = model->entries.size();
  for (++i; i < model->entries.size(); ++i) {
    idx = FindChildIndex(p, l.At(model->entries[i]).tag);
    if (idx >= 0) {
      InsertChildAt(p, node, idx);
      return true;
    }
  }
  Add(p, node);
  return true;
}

bool SegmentTree::DescendantsEmpty(const SegmentNode* n) const {
  if (!n->firstChild) return true;
  for (const SegmentNode* m = n->next; m && m->level > n->level; m = m->next)
    if (!IsEmpty(m)) return false;
  return true;
}

std::string_view SegmentTree::Tag(const SegmentNode* n) const {
  if (n->positional) return "[DATA]";
  if (n->layout < 0) return View(n->values[0]);
  return Layouts::Get().At(n->layout).tag;
}

std::string_view SegmentTree::GetValue(const SegmentNode* n, std::string_view composite, int compositePos,
                                       std::string_view element, int elementPos) const {
  const SegmentLayout* lay = Layout(n);
  if (!lay) return {};
  int slot = FindKey(*lay, composite, compositePos, element, elementPos);
  return slot < 0 ? std::string_view() : Slot(n, slot);
}

void SegmentTree::SetSlot(SegmentNode* n, int slot, std::string_view value) {
  if (slot >= n->slotCount) {
    if (value.empty()) return;
    GrowSlots(n);
  }
  ValueRef& r = n->values[slot];
  if (value.empty()) {
    r = ValueRef();
  } else if ((r.len & kEditStoreBit) && (r.len & ~kEditStoreBit) >= value.size()) {
    // Reuse the slot's own storage: repeated edits do not grow the store.
    std::memcpy(FEdits.data() + r.off, value.data(), value.size());
    r.len = static_cast<std::uint32_t>(value.size()) | kEditStoreBit;
  } else {
    r = Store(value);
  }
}

bool SegmentTree::SetValue(SegmentNode* n, std::string_view composite, int compositePos, std::string_view element,
                           int elementPos, std::string_view value) {
  const SegmentLayout* lay = Layout(n);
  if (!lay) return false;
  int slot = FindKey(*lay, composite, compositePos, element, elementPos);
  if (slot < 0 || slot >= kMaxKeys) return false;
  SetSlot(n, slot, value);
  return true;
}

std::string_view SegmentTree::Qualifier(const SegmentNode* n) const {
  const SegmentLayout* lay = Layout(n);
  return lay ? Slot(n, 0) : std::string_view();
}

void SegmentTree::SetQualifier(SegmentNode* n, std::string_view value) {
  const SegmentLayout* lay = Layout(n);
  if (lay && lay->count > 0) SetSlot(n, 0, value);
}

void SegmentTree::ClearValues(SegmentNode* n) {
  const SegmentLayout* lay = Layout(n);
  if (!lay) return;
  for (int i = 0; i < n->slotCount; ++i) n->values[i] = ValueRef();
}

bool SegmentTree::IsEmpty(const SegmentNode* n) const {
  if (n->positional) return (n->values[0].len & ~kEditStoreBit) == 0;
  const SegmentLayout* lay = Layout(n);
  if (!lay) return true;
  if (lay->cls == 'T') return false;
  std::uint32_t flags = Layouts::Get().Flags(n->layout).load(std::memory_order_relaxed);
  for (int i = 0; i < n->slotCount; ++i)
    if (((flags >> i) & 1) && (n->values[i].len & ~kEditStoreBit)) return false;
  return true;
}

bool SegmentTree::AllValuesEmpty(const SegmentNode* n) const {
  const SegmentLayout* lay = Layout(n);
  if (!lay) return true;
  for (int i = 0; i < n->slotCount; ++i)
    if (n->values[i].len & ~kEditStoreBit) return false;
  return true;
}

void SegmentTree::SaveFlags(const SegmentNode* n) const {
  if (n->layout >= 0) Layouts::Get().Flags(n->layout).store(n->ownFlags, std::memory_order_relaxed);
}

}  // namespace kalvix
