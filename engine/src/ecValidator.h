// TValidator: one validation of one message text. Parses it, walks every segment in document
// order, hands each to the checker of its tag and records the findings with their segment
// number and key; keeps the group and unit state the special checks share.
#pragma once

#include <edicom/EdiComCpp.h>
#include <kalvix/Kalvix.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "EdiProcs.h"
#include "ecCheckContext.h"
#include "ecErrors.h"
#include "ecScript.h"
#include "ecTelebib.h"

namespace ruvala {

using common::edBrokerToBroker;
using common::edBrokerToCy;
using common::edBrokerToUnknown;
using common::edCyToBroker;
using common::edCyToCy;
using common::edCyToUnknown;
using common::edUnknown;
using common::TEdiDirection;

constexpr int kMaxLevel = 10;
using TTabOleVariant = std::array<edicom::ComPtr<kalvix::IEdiSegment>, kMaxLevel + 1>;

// The segment number lives in the low 16 bits of a segment's Data, the unit number in the high.
std::int32_t DataWithSegmentNo(std::int32_t data, std::int32_t segmentNo);
std::int32_t DataWithUnitNo(std::int32_t data, std::int32_t unitNo);
inline std::int32_t DataSegmentNo(std::int32_t data) { return data & 0xFFFF; }
inline std::int32_t DataUnitNo(std::int32_t data) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(data) >> 16);
}
void SetDataSegmentNo(kalvix::IEdiSegment* s, std::int32_t segmentNo);
void SetDataUnitNo(kalvix::IEdiSegment* s, std::int32_t unitNo);
std::int32_t GetDataSegmentNo(kalvix::IEdiSegment* s);
std::int32_t GetDataUnitNo(kalvix::IEdiSegment* s);

class TControlTable;  // the message's control table, when the control rules are built in

class TValidator final : public TCheckContext {
 public:
  explicit TValidator(TTelebib* telebib = nullptr);
  ~TValidator();
  TValidator(TValidator&&) = delete;
  TValidator& operator=(TValidator&&) = delete;
  TValidator(const TValidator&) = delete;
  TValidator& operator=(const TValidator&) = delete;

  void SetEdiMessage(const std::string& text) {
    FEdiMessage = text;
    FComText = nullptr;
  }
  // The text as a component string; borrowed, it must outlive the next validation.
  void SetEdiMessage(edicom::BSTR text);
  const std::string& EdiMessage() const { return FEdiMessage; }
  bool Validate();
  int ValidateEx(std::string& error);

  bool InterApplication() const override { return FInterApp; }
  void SetInterApplication(bool on) { FInterApp = on; }
  bool CheckFilter() const { return FCheckFilter; }
  void SetCheckFilter(bool on) { FCheckFilter = on; }
  bool FilterMode() const override { return FInterApp || FCheckFilter; }
  TDate MessageDate() const override { return FMessageDate; }
  void SetMessageDate(TDate day) { FMessageDate = day; }
  TEdiDirection Direction() const { return FEdiDirection; }
  void SetMaxError(int n) { FMaxError = n; }
  // Walks the message with the parser's cursor when it offers one (the default), or with a
  // handle per segment as any client of the published interfaces would; both find the same.
  void SetCursorWalk(bool on) { FCursorWalk = on; }

  const TEdiErrorList& Errors() const { return FErrors; }
  const TEdiWarningList& Warnings() const { return FWarnings; }
  TEdiErrorList& Errors() { return FErrors; }
  TEdiWarningList& Warnings() { return FWarnings; }
  kalvix::IEdiMessage* Edi() const { return FEdi.Get(); }
  TVariantMap& GlobalVar() { return FGlobalVar; }
  TTelebib& Telebib() const { return *FTelebib; }

  // Group state written by the XGH and XEH checkers.
  void SetGroupParties(const std::string& x921, const std::string& x923, const std::string& x925) override {
    FX921 = x921;
    FX923 = x923;
    FX925 = x925;
  }
  const std::string& X921() const { return FX921; }
  const std::string& X923() const { return FX923; }
  const std::string& X925() const override { return FX925; }
  int& XehCount() override { return FXehCount; }
  // Entry i, the last one when i is negative; "No X912 value" / "No X916 value" when empty.
  std::string GetX912(int i) const override;
  std::string GetX916(int i) const override;
  void SetX912(int i, const std::string& value) override;  // left-padded with "0" to 4 characters
  void SetX916(int i, const std::string& value) override;
  int X912Count() const { return static_cast<int>(FX912.size()); }
  std::string GetOca() const override;
  TCheckNext& CheckNext(std::size_t checker) override;
  void RecordFinding(bool warning, TErrorCode code) override;
  std::string GetSegmentKey(kalvix::IEdiSegment* s) const;
  const TTabOleVariant& Parents() const { return FParents; }

 private:
  void Clear();
  void ValidateSegments();
  void ValidateControlTable(const std::string& x912, bool last);
  bool ValidateBody();
  // The key of a finding's segment; empty when the segment object cannot tell it.
  std::string SafeKey(kalvix::IEdiSegment* s) const;
  std::string SafeKey(kalvix::IEdiSegmentCursor* c) const;
  std::string CursorSegmentKey(kalvix::IEdiSegmentCursor* c) const;
  TTelebib& Referential() const { return *FTelebib; }

  TTelebib* FTelebib;
  std::string FEdiMessage;
  edicom::BSTR FComText = nullptr;  // FEdiMessage as the caller passed it, when plain ASCII
  edicom::ComPtr<kalvix::IEdiMessage> FEdi;
  TEdiErrorList FErrors;
  TEdiWarningList FWarnings;
  bool FInterApp = true;
  bool FCursorWalk = true;
  TTabOleVariant FParents;
  // Walking by the cursor, which of FParents hold the latest segment of their level; a control
  // table asks for them only when one of its rules holds the segment.
  std::array<bool, kMaxLevel + 1> FParentMade{};
  std::vector<TKeyPiece> FPieces;  // tag and qualifier of FParents, while a control table matches
  std::int32_t FSgmtNo = 0;
  std::int32_t FMaxError = 2147483647;
  TEdiDirection FEdiDirection = edUnknown;
  TVariantMap FGlobalVar;
  std::string FX921, FX923, FX925;
  std::vector<std::string> FX912, FX916;
  std::unique_ptr<TControlTable> FControlTable;
  TDate FMessageDate = 0;
  bool FCheckFilter = false;
  std::int32_t FXehCount = 0;
  std::vector<TCheckNext> FCheckNext;  // per checker of the referential, for one validation
  // The current segment's finding, once a check recorded it.
  bool FRaisedWarning = false;
  TErrorCode FFinding;
};

// Today as a whole automation day, local time.
TDate Today();

}  // namespace ruvala
