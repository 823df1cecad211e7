// The segment checkers: TSegment checks one parsed segment against the referential, walking its
// layout; 14 tags get a checker of their own for what the layout cannot express.
#pragma once

#include <edicom/EdiComCpp.h>
#include <kalvix/Kalvix.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ecErrors.h"
#include "ecTelebib.h"

namespace ruvala {

class TValidator;

// A segment of the parsed message, read through the parser's segment object. A failing call
// throws with the member's name and the parser's reason.
class TSgmt {
 public:
  explicit TSgmt(edicom::ComPtr<kalvix::IEdiSegment> s);
  kalvix::IEdiSegment* Get() const { return FSeg.Get(); }
  std::string Tag() const;
  int Level() const;
  bool Empty() const;
  bool Rubrique() const;
  std::string Qualifier() const;
  std::string Find(const std::string& de, int pos) const;
  std::string FindInComponent(const std::string& cde, int cdePos, const std::string& de, int pos) const;
  void Insert(const std::string& value, const std::string& de, int pos) const;
  std::int32_t Data() const;
  void SetData(std::int32_t data) const;
  // The parent segment, or an empty handle.
  edicom::ComPtr<kalvix::IEdiSegment> Parent() const;
  edicom::ComPtr<kalvix::IEdiSegment> Next() const;
  edicom::ComPtr<kalvix::IEdiSegment> FirstChild() const;
  // Whether values are read through the parser's 8-bit shortcut rather than IEdiSegment alone.
  bool ReadsValuesDirectly() const { return static_cast<bool>(FValues); }

 private:
  // Reads values as 8-bit text when the parser offers it: most of a validation is value reads.
  std::string Value(const char* member, const std::string& cde, int cdePos, const std::string& de, int pos) const;

  edicom::ComPtr<kalvix::IEdiSegment> FSeg;
  edicom::ComPtr<kalvix::IEdiSegmentValues> FValues;
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
std::string DePosition(const std::string& cde, int cdePos, const std::string& de, int dePos);
// Digits only; a leading "+" or "-" when signs are allowed and more follows.
bool IsNumericText(const std::string& text, bool signAllowed);

// Masks of the DTM format codes 1 to 12 (index 0 unused).
extern const char* const DateMasks[13];
// Raises E0018 when the parts of d under mask m make no calendar date and time of day.
void CheckDateValue(const std::string& d, const std::string& m);

struct TCheckNext {
  bool Active = false;
  std::string Code;
};

class TSegment {
 public:
  TSegment(TTelebib& telebib, const std::string& tag) : FKey(tag), FTag(tag), FTelebib(telebib) {}
  virtual ~TSegment() = default;

  // Virtual operations in slot order.
  virtual void CheckLayoutDe(TSgmt& sgmt, const TSegmentLayoutItem& row);
  virtual void CheckDe(TSgmt& sgmt, const std::string& cde, const std::string& de, int cdePos, int maxDe,
                       bool mandatory);
  virtual void CheckCDe(TSgmt& sgmt, const TSegmentLayoutItem& row);
  virtual void CheckEmpty(TSgmt& sgmt);
  virtual bool CheckSpecificValue(TSgmt& sgmt, const TSegmentLayoutItem& row, int cdePos, const TCdeItem& cde);
  virtual void CheckMandatory(const std::string& cde, int cdePos, bool mandatory, const std::string& value, int dePos,
                              const std::string& de);
  virtual void CheckFormat(const std::string& cde, int cdePos, const std::string& value, int dePos,
                           const std::string& de);
  // Raises the first finding (ETelebibError / ETelebibWarning); other failures pass through.
  virtual void Check(TValidator& validator, TSgmt& sgmt);

  std::string FKey;
  std::string FTag;
  std::string FDE;  // the element whose value names the code list of the next element
  std::vector<TSegmentLayoutItem> FLayout;
  TValidator* FValidator = nullptr;
  std::string FLibelle;
  // A pending code-list check: carries over between segments of this tag within a validation.
  TCheckNext FCheckNext;

 protected:
  bool FilterMode() const;
  TDate MessageDate() const;
  TTelebib& FTelebib;
};

// The checker of a tag: one of the 14 special ones, otherwise the generic TSegment.
std::unique_ptr<TSegment> CreateSegmentChecker(TTelebib& telebib, const std::string& tag);

[[noreturn]] void RaiseError(const TErrorCode& code);
[[noreturn]] void RaiseWarning(const TErrorCode& code);

}  // namespace ruvala
