// The catalogue of findings (29 errors, 12 warnings), the exceptions through which checks report
// them, and the per-validation lists of recorded findings.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Format.h"

namespace ruvala {

struct TErrorCode {
  std::string Code;     // "E0009", "W0001"
  std::string Message;  // a template in the tables, filled in a finding
};

constexpr int kErrorCount = 29;
constexpr int kWarningCount = 12;
extern const TErrorCode ErrorTable[kErrorCount];
extern const TErrorCode WarningTable[kWarningCount];

using TFormatArgs = std::vector<common::FormatArg>;

// The entry of that exact (case-sensitive) code with its template filled once: an argument
// holding "%" is inserted unchanged. An unknown code gives `notFound` back unchanged.
TErrorCode GetErrorCode(std::string_view code, const TFormatArgs& args = {}, TErrorCode notFound = {});
TErrorCode GetWarningCode(std::string_view code, const TFormatArgs& args = {}, TErrorCode notFound = {});

template <class... A>
TErrorCode ErrorCode(std::string_view code, A&&... args) {
  return GetErrorCode(code, TFormatArgs{common::ToFormatArg(std::forward<A>(args))...});
}
template <class... A>
TErrorCode WarningCode(std::string_view code, A&&... args) {
  return GetWarningCode(code, TFormatArgs{common::ToFormatArg(std::forward<A>(args))...});
}

// The tables as comma text of code=template entries, each quoted with inner quotes doubled.
std::string GetErrorCodeList();
std::string GetWarningCodeList();
// One entry of comma text: quoted when it holds a blank, comma, quote or control character.
std::string CommaTextEntry(std::string_view entry);

// A finding raised by a check. Only a catalogue record makes one: there is deliberately no
// constructor from a bare text, so a check cannot raise a finding without a code.
class ETelebibError : public std::runtime_error {
 public:
  explicit ETelebibError(const TErrorCode& code) : std::runtime_error(code.Message), ErrorCode(code) {}
  ETelebibError(const std::string&) = delete;  // "Do not use this constructor"
  ETelebibError(const char*) = delete;
  TErrorCode ErrorCode;
};

// The class alone tells a warning from an error.
class ETelebibWarning : public ETelebibError {
 public:
  using ETelebibError::ETelebibError;
};

struct TEdiErrorItem {
  TEdiErrorItem(int sgmtNo, std::string sgmtKey, TErrorCode error)
      : SgmtNo(sgmtNo), SgmtKey(std::move(sgmtKey)), Error(std::move(error)) {}
  int SgmtNo;
  std::string SgmtKey;
  TErrorCode Error;
  // "Segment #%d, %s, %s, %s": number, key, code, message.
  std::string ToString() const;
};

class TEdiErrorList {
 public:
  virtual ~TEdiErrorList() = default;
  void Add(int sgmtNo, const std::string& sgmtKey, const TErrorCode& error);
  // Fills error's template with args first.
  void Add(int sgmtNo, const std::string& sgmtKey, const TFormatArgs& args, const TErrorCode& error);
  void Clear() { FItems.clear(); }
  // Throws std::out_of_range "List index out of bounds (%d)".
  const TEdiErrorItem& GetItems(int index) const;
  int Count() const { return static_cast<int>(FItems.size()); }
  // First item whose message lacks "Obsolete"; nullptr when there is none.
  const TEdiErrorItem* GetFirstError() const;
  // True when every item's message holds "Obsolete" (so for an empty list too).
  bool ObsoleteOnly() const;

 private:
  std::vector<std::unique_ptr<TEdiErrorItem>> FItems;
};

class TEdiWarningList : public TEdiErrorList {};

// A segment's place in the tree: its tag below level 2, otherwise "TAG+QUAL" of the segments
// most recently met at levels 2 .. level joined by "'". levels[i] holds (tag, qualifier) of
// level i; levels missing from the vector give an empty piece "+".
struct TKeyPiece {
  std::string Tag;
  std::string Qualifier;
};
std::string MakeSegmentKey(int level, const std::string& tag, const std::vector<TKeyPiece>& levels);

}  // namespace ruvala
