// Writes segments as Telebib2 text on one line, leaving out trailing empty components and
// elements, segments without data and blocks in which nothing was written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "SegmentTree.h"

namespace kalvix {

class MessageWriter {
 public:
  explicit MessageWriter(bool question = false);

  bool Question() const { return FQuestion; }
  void SetQuestion(bool on) { FQuestion = on; }

  // Streaming: "XRH" opens a block, "XRT" closes one (ignored when none is open), any other
  // tag writes the pending segment and starts a new one.
  void NewSegment(std::string_view tag);
  // Stores a value in the pending segment; false when there is none or the key is not in its layout.
  bool SetPendingValue(std::string_view composite, int compositePos, std::string_view element, int elementPos,
                       std::string_view value);
  // Writes what is pending and owed; the writer keeps its text and can go on.
  const std::string& Finish();

  // Steps used by the tree walk.
  void OpenBlock();
  void CloseBlock();
  void FlushPending();
  // Makes a copy of a tree segment the pending one (its values stay in the tree).
  void SetPendingFrom(const SegmentTree& tree, const SegmentNode* n);

 private:
  enum Sep : std::uint8_t { sepComp, sepElem, sepSeg };
  struct Pending {
    bool active = false;
    int layout = -1;
    std::string_view tag;
    bool question = false;
    std::string_view values[kMaxKeys];
  };
  struct Mark {
    std::size_t length;
    bool segmentOwed;  // the "'" before the block was still owed when it opened
  };

  bool IsEmpty(const Pending& p) const;
  void WriteSegment(const Pending& p);
  void WriteValue(std::string_view v);
  void EndElement();
  void Queue(Sep s) {
    if (FQueueLen < static_cast<int>(sizeof FQueue)) FQueue[FQueueLen++] = s;
  }

  std::string FOut;
  Sep FQueue[64];
  int FQueueLen = 0;
  std::vector<Mark> FMarks;
  int FLevel = 0;
  int FMinRemovableLevel = 1;
  bool FBlockEmpty = true;
  std::vector<bool> FEmptyStack;
  bool FForceWrite = false;
  bool FQuestion;
  Pending FPending;
  std::string FPendingTag;
  std::string FPendingValues[kMaxKeys];
};

// Writes a whole tree (deleted nodes and empty segments left out); question mode keeps
// segments that hold only qualifiers and every block.
std::string GenerateTree(SegmentTree& tree, bool question);

}  // namespace kalvix
