// The segment checkers: TSegment checks one parsed segment against the referential, walking its
// layout; 14 tags get a checker of their own for what the layout cannot express.
#pragma once

#include <edicom/EdiComCpp.h>
#include <kalvix/Kalvix.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ecCheckContext.h"
#include "ecErrors.h"
#include "ecTelebib.h"

namespace ruvala {

// A segment of the parsed message, read through the parser's segment object. A failing call
// throws with the member's name and the parser's reason.
struct TPlanElement;
class TSlotCache;

// A segment of the parsed message, read through the parser's segment object, or the current
// segment of the parser's cursor, whose handle is then made only when asked for. A failing call
// throws with the member's name and the parser's reason.
class TSgmt {
 public:
  explicit TSgmt(edicom::ComPtr<kalvix::IEdiSegment> s);
  explicit TSgmt(kalvix::IEdiSegmentCursor* cursor) : FCursor(cursor) {}
  kalvix::IEdiSegment* Get() const;
  std::string Tag() const;
  int Level() const;
  bool Empty() const;
  bool Rubrique() const;
  std::string Qualifier() const;
  std::string Find(const std::string& de, int pos) const;
  std::string FindInComponent(const std::string& cde, int cdePos, const std::string& de, int pos) const;
  // A value as UTF-8: a view of the parser's own bytes when they are plain ASCII, otherwise of
  // `buffer` holding the conversion. Valid until the next read into the same buffer or a change
  // of the message.
  std::string_view View(std::string_view cde, int cdePos, std::string_view de, int pos, std::string& buffer) const;
  // The same for an element of a check plan: on the cursor, by the slot the element keeps.
  std::string_view View(const TPlanElement& el, int cdePos, int pos, std::string& buffer) const;
  // Any value, with the slot cache that stands for its composite, element and tag.
  std::string_view View(const TSlotCache& slots, std::string_view cde, int cdePos, std::string_view de, int pos,
                        std::string& buffer) const;
  // The tag, the same way.
  std::string_view TagView(std::string& buffer) const;
  void Insert(const std::string& value, const std::string& de, int pos) const;
  std::int32_t Data() const;
  void SetData(std::int32_t data) const;
  // The parent segment, or an empty handle.
  edicom::ComPtr<kalvix::IEdiSegment> Parent() const;
  edicom::ComPtr<kalvix::IEdiSegment> Next() const;
  edicom::ComPtr<kalvix::IEdiSegment> FirstChild() const;
  // Whether values are read through the parser's 8-bit shortcut rather than IEdiSegment alone.
  bool ReadsValuesDirectly() const { return FValues || FCursor; }

 private:
  std::string_view CursorValue(std::string_view cde, int cdePos, std::string_view de, int pos,
                               std::string& buffer) const;

  mutable edicom::ComPtr<kalvix::IEdiSegment> FSeg;
  edicom::ComPtr<kalvix::IEdiSegmentValues> FValues;
  kalvix::IEdiSegmentCursor* FCursor = nullptr;
};

// False when RUVALA_NO_VALUE_SHORTCUT is set (to anything but "" or "0"): the engine then reads
// every segment through IEdiSegment alone, as with a parser that offers no IEdiSegmentValues.
// Read once per process.
bool ValueShortcutWanted();

// Component strings and UTF-8 text; plain ASCII, by far the most common, is copied directly
// (every message text and every value read crosses this way).
std::string TextFromCom(std::u16string_view text);
edicom::BStr TextToCom(std::string_view utf8);

// The segment handle held in a VARIANT result (VT_DISPATCH), or an empty one (VT_NULL).
edicom::ComPtr<kalvix::IEdiSegment> SegmentFromVariant(edicom::VARIANT& v);

// "%s:%d, %s:%d" (composite, position, element, position) or "%s:%d" for a simple element.
std::string DePosition(std::string_view cde, int cdePos, std::string_view de, int dePos);
// Digits only; a leading "+" or "-" when signs are allowed and more follows.
bool IsNumericText(std::string_view text, bool signAllowed);

// Masks of the DTM format codes 1 to 12 (index 0 unused).
extern const char* const DateMasks[13];
// Whether the parts of d under mask m make a calendar date and time of day.
bool IsDateValue(const std::string& d, const std::string& m);

// The parser's slots of one plan element at its first four composite and element positions,
// learnt on first read: -2 unknown, -1 none. Validations on several threads may fill it at once;
// they all write the same values.
class TSlotCache {
 public:
  static constexpr int kPositions = 4;
  TSlotCache() {
    for (auto& s : FSlots) s.store(-2, std::memory_order_relaxed);
  }
  TSlotCache(const TSlotCache& o) { *this = o; }
  TSlotCache& operator=(const TSlotCache& o) {
    for (int i = 0; i < kPositions * kPositions; ++i)
      FSlots[i].store(o.FSlots[i].load(std::memory_order_relaxed), std::memory_order_relaxed);
    return *this;
  }
  ~TSlotCache() = default;
  // Entry of (composite row, element position), both from 0; nullptr when out of reach.
  std::atomic<std::int16_t>* At(int row, int pos) const {
    if (row < 0 || row >= kPositions || pos < 0 || pos >= kPositions) return nullptr;
    return &FSlots[row * kPositions + pos];
  }

 private:
  mutable std::atomic<std::int16_t> FSlots[kPositions * kPositions];
};

// One element as a check reads it: resolved once per tag from the layout and the referential.
struct TPlanElement {
  std::string_view Cde;  // empty for a simple element
  std::string_view De;
  const TDeItem* Item = nullptr;  // nullptr: the referential lacks it, which is reported when reached
  int Occurrence = 0;
  bool Mandatory = false;
  bool NamesCodeList = false;  // the tag's element whose value names the next element's code list
  TSlotCache Slots;
};

// One layout row with its composite and elements; a simple element has one.
struct TPlanRow {
  const TSegmentLayoutItem* Row = nullptr;
  bool Simple = true;
  const TCdeItem* Cde = nullptr;  // nullptr for a simple element or a composite the referential lacks
  std::vector<TPlanElement> Elements;
  TSlotCache X901Slots, X902Slots;  // the specific value's list and owner, read for every occurrence
};

enum class TSpecificValue { None, Valid, Finding };

// Every check returns false once it recorded the segment's finding in the context; what is not a
// finding (a referential row missing, a failing parser call) is thrown.
class TSegment {
 public:
  TSegment(TTelebib& telebib, const std::string& tag) : FKey(tag), FTag(tag), FTelebib(telebib) {}
  virtual ~TSegment() = default;
  TSegment(const TSegment&) = delete;
  TSegment& operator=(const TSegment&) = delete;

  // Virtual operations in slot order.
  virtual bool CheckLayoutDe(TCheckContext& ctx, TSgmt& sgmt, const TPlanRow& row);
  virtual bool CheckDe(TCheckContext& ctx, TSgmt& sgmt, const TPlanElement& el, int cdePos, int maxDe, bool mandatory);
  virtual bool CheckCDe(TCheckContext& ctx, TSgmt& sgmt, const TPlanRow& row);
  virtual bool CheckEmpty(TCheckContext& ctx, TSgmt& sgmt);
  virtual TSpecificValue CheckSpecificValue(TCheckContext& ctx, TSgmt& sgmt, const TPlanRow& row, int cdePos,
                                            const TCdeItem& cde);
  virtual bool CheckMandatory(TCheckContext& ctx, const TPlanElement& el, int cdePos, bool mandatory,
                              std::string_view value, int dePos);
  virtual bool CheckFormat(TCheckContext& ctx, const TPlanElement& el, int cdePos, std::string_view value, int dePos);
  virtual bool Check(TCheckContext& ctx, TSgmt& sgmt);

  // Its place among the referential's checkers, which keys its pending code-list check.
  void SetIndex(std::size_t index) { FIndex = index; }
  // The layout resolved against the referential, made on first use.
  const std::vector<TPlanRow>& Plan();

  std::string FKey;
  std::string FTag;
  std::string FDE;  // the element whose value names the code list of the next element
  std::vector<TSegmentLayoutItem> FLayout;
  std::string FLibelle;

 protected:
  const TDeItem& De(const TPlanElement& el) const;
  TTelebib& FTelebib;

 private:
  std::size_t FIndex = 0;
  bool FPlanned = false;
  std::vector<TPlanRow> FPlan;
};

// The checker of a tag: one of the 14 special ones, otherwise the generic TSegment.
std::unique_ptr<TSegment> CreateSegmentChecker(TTelebib& telebib, const std::string& tag);

// Record a finding and give false, for `return RaiseError(ctx, ...)`.
inline bool RaiseError(TCheckContext& ctx, TErrorCode code) {
  ctx.RecordFinding(false, std::move(code));
  return false;
}
inline bool RaiseWarning(TCheckContext& ctx, TErrorCode code) {
  ctx.RecordFinding(true, std::move(code));
  return false;
}

}  // namespace ruvala
