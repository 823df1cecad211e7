// The Telebib2 tables: what each segment tag holds, the order of segments in each message
// body and inside each rubrique block. Held once per process; the data flags can be changed
// at run time and are shared by every message.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Tokens.h"

namespace kalvix {

constexpr int kMaxKeys = 20;

struct SegmentLayout {
  // What the parser reads for every segment comes first, on one cache line.
  char cls = 'S';                  // 'R' rubrique, 'S' simple, 'T' technical
  bool secondSepRequired = false;  // MMD: the "+" before the second element must be there
  int index = 0;
  int count = 0;
  int kind = tkInvalid;            // token of the tag (tkInvalid for XGH and XEH, whose tokens carry a value)
  std::uint32_t elementEnd = 0;    // bit i: key i is the last component of its data element
  std::uint32_t initialFlags = 0;  // bit i: key i carries information
  std::string tag;
  std::string keys[kMaxKeys];
  // The keys of up to 16 bytes zero-padded, for FindKey: two word compares instead of a
  // string compare. Longer keys are looked up by their text.
  std::uint64_t packed[kMaxKeys][2] = {};
  // Open-addressing table over the packed keys (slot numbers, -1 = free): the engine reads a
  // couple of hundred values a message, and a scan of up to 20 keys per read showed.
  static constexpr int kBuckets = 64;
  std::int8_t buckets[kBuckets];
};

// Bucket of a packed key in SegmentLayout::buckets.
inline unsigned KeyBucket(const std::uint64_t w[2]) {
  std::uint64_t h = (w[0] ^ (w[1] * 0x9E3779B97F4A7C15ull)) * 0xC2B2AE3D27D4EB4Full;
  return static_cast<unsigned>(h >> 58);
}

// An ordered list of tags (layout indexes); rubrique tags stand for whole blocks.
struct ContentModel {
  std::string key;  // "5,1" for a message body, the rubrique tag for a block
  std::vector<int> entries;
  std::vector<std::int8_t> kinds;  // token kind of each entry's tag
  std::uint32_t rubriques = 0;     // bit i: entry i is a rubrique (a block)
  int lastBlock = -1;              // position of the last rubrique entry, or -1
};

class Layouts {
 public:
  static const Layouts& Get() {
    static const Layouts instance;
    return instance;
  }

  int Count() const { return static_cast<int>(FLayouts.size()); }
  const SegmentLayout& At(int i) const { return FLayouts[i]; }
  // Layout index of a tag, or -1.
  int IndexOf(std::string_view tag) const;
  int IndexOfKind(int kind) const { return kind >= 0 && kind < tkKindCount ? FByKind[kind] : -1; }
  int XghIndex() const { return FXgh; }
  int XehIndex() const { return FXeh; }
  int XetIndex() const { return FXet; }
  int XgtIndex() const { return FXgt; }

  const ContentModel* Ensemble(std::string_view key) const;
  // Block model of a rubrique layout, or nullptr.
  const ContentModel* Rubrique(int layoutIndex) const;
  // Body of the message class announced by a class header token.
  const ContentModel& BodyOfHeader(int kind) const { return FEnsembles[FBodyOfHeader[kind - tkXehAssmnt]]; }
  // Two-digit class code stored in X910 for a class header token.
  static const char* ClassCodeOfHeader(int kind);

  // Follow sets of the grammar's rules (what may come right after each rule anywhere).
  const KindSet& FollowSegment(int layoutIndex) const { return FFollowSeg[layoutIndex]; }
  const KindSet& FollowBlock(int layoutIndex) const { return FFollowBlock[layoutIndex]; }
  const KindSet& FollowXrh() const { return FFollowXrh; }
  const KindSet& FollowXrt() const { return FFollowXrt; }
  const KindSet& FollowMsgHeader() const { return FFollowMsgHeader; }

  // Process-wide data flags, one bit per key.
  std::atomic<std::uint32_t>& Flags(int layoutIndex) const { return FFlags[layoutIndex]; }

 private:
  Layouts();
  void ComputeFollowSets();

  std::vector<SegmentLayout> FLayouts;
  std::vector<ContentModel> FEnsembles;
  std::vector<ContentModel> FRubriques;
  std::vector<int> FRubriqueOfLayout;
  int FByKind[tkKindCount];
  std::int16_t FByTag[26 * 26 * 26];
  int FBodyOfHeader[12];
  int FXgh = -1, FXeh = -1, FXet = -1, FXgt = -1;
  std::vector<KindSet> FFollowSeg, FFollowBlock;
  KindSet FFollowXrh, FFollowXrt, FFollowMsgHeader;
  mutable std::atomic<std::uint32_t> FFlags[64];
};

// Slot of the key named by (composite, composite position, element, element position) in a
// layout, or -1. The key is element + position when the composite is empty or its position is
// 0 or less, else composite + position + element + position ("C0011X0021").
int FindKey(const SegmentLayout& layout, std::string_view composite, int compositePos, std::string_view element,
            int elementPos);

}  // namespace kalvix
