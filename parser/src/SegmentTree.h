// The in-memory model of one interchange: segment nodes in a tree, each with its values.
// The tree owns every node and every value: nodes live in an arena, values are slices of the
// parsed text or of the tree's own store, so nothing is allocated per value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Layouts.h"

namespace kalvix {

// A slice of the parsed text, or (top bit of len set) of the tree's edit store.
struct ValueRef {
  std::uint32_t off = 0;
  std::uint32_t len = 0;
};
constexpr std::uint32_t kEditStoreBit = 0x80000000u;
// NUL bytes kept after the source text, so that the lexer may read a block past its end.
constexpr std::size_t kSourcePad = 16;

// Nodes and their values share the arena; values follow their node, 8-byte aligned.
struct SegmentNode {
  SegmentNode* parent = nullptr;
  SegmentNode* firstChild = nullptr;
  SegmentNode* lastChild = nullptr;
  SegmentNode* nextSibling = nullptr;
  SegmentNode* next = nullptr;  // document order
  SegmentNode* prev = nullptr;
  // Values in layout order, only up to the last one given (slotCount); a positional-data
  // node keeps its free text, a tag outside the tables its tag, in values[0].
  ValueRef* values = nullptr;
  std::int32_t level = 0;
  std::int32_t data = 0;
  std::uint32_t ownFlags = 0;  // the layout's data flags when the segment was created
  std::int16_t layout = -1;    // -1: positional data, or a tag outside the tables
  std::uint8_t slotCount = 0;
  bool positional : 1 = false;
  bool deleted : 1 = false;
};
static_assert(sizeof(SegmentNode) % alignof(ValueRef) == 0);

class SegmentTree {
 public:
  SegmentTree();
  ~SegmentTree();
  SegmentTree(const SegmentTree&) = delete;
  SegmentTree& operator=(const SegmentTree&) = delete;

  // Removes every node and value. The source text stays unless replaced.
  void Clear();
  // Takes the text that parsed values will be slices of (clears the tree first); kSourcePad
  // NUL bytes are added after it.
  void SetSource(std::string text);
  const std::string& Source() const { return FSource; }
  // Bumped whenever the tree is emptied: handles compare it to find out they are stale.
  std::uint64_t Generation() const { return FGeneration; }

  bool Building() const { return FBuilding; }
  void SetBuilding(bool on) { FBuilding = on; }

  // Node creation. A new segment has no values; the parser gives the first `used` of them.
  SegmentNode* NewSegment(std::string_view tag);
  SegmentNode* NewSegment(int layoutIndex, const ValueRef* values, int used);
  SegmentNode* NewPositional(ValueRef text);
  // Free text of a positional-data node.
  std::string_view Text(const SegmentNode* n) const { return n->positional ? View(n->values[0]) : std::string_view(); }
  void ClearText(SegmentNode* n) {
    if (n->positional) n->values[0] = ValueRef();
  }

  // Stores a text in the edit store and returns its reference.
  ValueRef Store(std::string_view s);
  std::string_view View(ValueRef r) const {
    return (r.len & kEditStoreBit) ? std::string_view(FEdits.data() + r.off, r.len & ~kEditStoreBit)
                                   : std::string_view(FSource.data() + r.off, r.len);
  }
  // Reference to a slice of the source text.
  ValueRef SourceRef(const char* p, std::size_t n) const {
    return {static_cast<std::uint32_t>(p - FSource.data()), static_cast<std::uint32_t>(n)};
  }

  // Tree operations.
  void Add(SegmentNode* parent, SegmentNode* node);
  void InsertChildAt(SegmentNode* parent, SegmentNode* node, int index);
  void RebuildOrder();
  SegmentNode* First() const { return FRootFirst; }
  static SegmentNode* FirstChild(const SegmentNode* n) { return n->firstChild ? n->next : nullptr; }
  static SegmentNode* NextSibling(const SegmentNode* n);
  static SegmentNode* PrecedingOtherLevel(const SegmentNode* n);
  int FindChildIndex(const SegmentNode* p, std::string_view tag) const;
  // Places a new node under p by the content model of p; false (nothing added) and the
  // reason when p needs a model that does not exist.
  bool PlaceChild(SegmentNode* p, SegmentNode* node, const char** failure);
  bool DescendantsEmpty(const SegmentNode* n) const;

  // Segment data of a node.
  std::string_view Tag(const SegmentNode* n) const;
  const SegmentLayout* Layout(const SegmentNode* n) const {
    return n->layout >= 0 ? &Layouts::Get().At(n->layout) : nullptr;
  }
  char Class(const SegmentNode* n) const { return n->layout >= 0 ? Layouts::Get().At(n->layout).cls : 'S'; }
  std::string_view GetValue(const SegmentNode* n, std::string_view composite, int compositePos,
                            std::string_view element, int elementPos) const;
  bool SetValue(SegmentNode* n, std::string_view composite, int compositePos, std::string_view element, int elementPos,
                std::string_view value);
  void SetSlot(SegmentNode* n, int slot, std::string_view value);
  std::string_view Slot(const SegmentNode* n, int slot) const {
    return slot < n->slotCount && n->layout >= 0 ? View(n->values[slot]) : std::string_view();
  }
  void SetSlotRef(SegmentNode* n, int slot, ValueRef r);
  std::string_view Qualifier(const SegmentNode* n) const;
  void SetQualifier(SegmentNode* n, std::string_view value);
  void ClearValues(SegmentNode* n);
  bool IsEmpty(const SegmentNode* n) const;
  bool AllValuesEmpty(const SegmentNode* n) const;
  void SaveFlags(const SegmentNode* n) const;

  // Heap bytes the tree holds (every arena chunk, the text, the edit store), for the benchmarks.
  std::size_t HeapBytes() const;
  // Arena bytes handed out to nodes and values.
  std::size_t ArenaUsed() const { return FArenaUsed; }

 private:
  void* Allocate(std::size_t bytes);
  void GrowSlots(SegmentNode* n);
  void LinkNew(SegmentNode* before, SegmentNode* node);
  static SegmentNode* LastDescendant(SegmentNode* n) {
    while (n->lastChild) n = n->lastChild;
    return n;
  }

  std::string FSource;
  std::string FEdits;
  // Arena chunks; kept (up to a limit) when the tree is emptied so that the next parse
  // reuses them.
  std::vector<std::unique_ptr<char[]>> FChunks;
  std::vector<std::size_t> FChunkSizes;
  std::size_t FChunkInUse = 0;  // chunks [0, FChunkInUse) hold nodes
  std::size_t FArenaUsed = 0;
  char* FArenaPos = nullptr;
  std::size_t FArenaLeft = 0;
  std::size_t FNextChunk = 4096;
  std::size_t FLaterChunk = 4096;
  SegmentNode* FRootFirst = nullptr;
  SegmentNode* FRootLast = nullptr;
  bool FBuilding = false;
  std::uint64_t FGeneration = 1;
};

}  // namespace kalvix
