#include "ecValidator.h"

#include <mutex>
#include <stdexcept>
#include <utility>

#include "DateUtils.h"
#include "Format.h"
#include "ecDataBase.h"
#include "ecTrace.h"
#include "ecTypes.h"

namespace ruvala {

using common::Fmt;
using edicom::BStr;
using edicom::ComPtr;
using kalvix::IEdiSegment;

// --- Data stamp -------------------------------------------------------------------------------

std::int32_t DataWithSegmentNo(std::int32_t data, std::int32_t segmentNo) {
  std::uint32_t d = static_cast<std::uint32_t>(data);
  return static_cast<std::int32_t>((d & 0xFFFF0000u) | (static_cast<std::uint32_t>(segmentNo) & 0xFFFFu));
}

std::int32_t DataWithUnitNo(std::int32_t data, std::int32_t unitNo) {
  std::uint32_t d = static_cast<std::uint32_t>(data);
  return static_cast<std::int32_t>((d & 0xFFFFu) | (static_cast<std::uint32_t>(unitNo) << 16));
}

void SetDataSegmentNo(IEdiSegment* s, std::int32_t segmentNo) {
  TSgmt sg{ComPtr<IEdiSegment>(s)};
  sg.SetData(DataWithSegmentNo(sg.Data(), segmentNo));
}

void SetDataUnitNo(IEdiSegment* s, std::int32_t unitNo) {
  TSgmt sg{ComPtr<IEdiSegment>(s)};
  sg.SetData(DataWithUnitNo(sg.Data(), unitNo));
}

std::int32_t GetDataSegmentNo(IEdiSegment* s) { return DataSegmentNo(TSgmt(ComPtr<IEdiSegment>(s)).Data()); }
std::int32_t GetDataUnitNo(IEdiSegment* s) { return DataUnitNo(TSgmt(ComPtr<IEdiSegment>(s)).Data()); }

TDate Today() { return common::TodayDate(); }

// --- TValidator -----------------------------------------------------------------------------

TValidator::TValidator(TTelebib* telebib) : FTelebib(telebib ? telebib : &TelebibInstance()) {}
TValidator::~TValidator() = default;

std::string TValidator::GetX912(int i) const {
  if (FX912.empty()) throw std::runtime_error("No X912 value");
  return i < 0 || static_cast<std::size_t>(i) >= FX912.size() ? FX912.back() : FX912[static_cast<std::size_t>(i)];
}

std::string TValidator::GetX916(int i) const {
  if (FX916.empty()) throw std::runtime_error("No X916 value");
  return i < 0 || static_cast<std::size_t>(i) >= FX916.size() ? FX916.back() : FX916[static_cast<std::size_t>(i)];
}

static void StoreAt(std::vector<std::string>& list, int i, std::string value) {
  if (i < 0) {
    list.push_back(std::move(value));
    return;
  }
  if (static_cast<std::size_t>(i) >= list.size()) list.resize(static_cast<std::size_t>(i) + 1);
  list[static_cast<std::size_t>(i)] = std::move(value);
}

void TValidator::SetX912(int i, const std::string& value) {
  StoreAt(FX912, i, value.size() >= 4 ? value : std::string(4 - value.size(), '0') + value);
}

void TValidator::SetX916(int i, const std::string& value) { StoreAt(FX916, i, value); }

std::string TValidator::GetOca() const {
  switch (FEdiDirection) {
    case edCyToBroker:
    case edCyToCy:
      return FX921;
    case edBrokerToCy:
      return FX923;
    default:
      return "?";
  }
}

void TValidator::SetEdiMessage(edicom::BSTR text) {
  std::u16string_view w = text ? std::u16string_view(text, ::SysStringLen(text)) : std::u16string_view();
  // One pass copies plain ASCII into the text's own storage, kept from the last message.
  FEdiMessage.resize(w.size());
  bool ascii = true;
  for (std::size_t i = 0; i < w.size() && ascii; ++i) {
    ascii = w[i] < 0x80;
    FEdiMessage[i] = static_cast<char>(w[i]);
  }
  if (!ascii) FEdiMessage = edicom::Utf16ToUtf8(w);
  // Plain ASCII converts back to the very same text: the parser may take the caller's string.
  FComText = ascii && text ? text : nullptr;
}

TCheckNext& TValidator::CheckNext(std::size_t checker) {
  if (checker >= FCheckNext.size()) FCheckNext.resize(checker + 1);
  return FCheckNext[checker];
}

void TValidator::RecordFinding(bool warning, TErrorCode code) {
  FRaisedWarning = warning;
  FFinding = std::move(code);
}

// The cursor's latest segment of each level stands for the walk's parents, as FParents does
// in a walk by handles.
std::string TValidator::CursorSegmentKey(kalvix::IEdiSegmentCursor* c) const {
  TSgmt sg(c);
  int level = sg.Level();
  if (level < 2) return sg.Tag();
  std::vector<TKeyPiece> pieces(kMaxLevel + 1);
  for (int l = 2; l <= level && l <= kMaxLevel; ++l) {
    if (l == level) {
      pieces[static_cast<std::size_t>(l)] = {sg.Tag(), sg.Qualifier()};
      continue;
    }
    edicom::Variant v;
    if (edicom::FAILED(c->get_LatestAt(l, &v))) continue;
    ComPtr<IEdiSegment> p = SegmentFromVariant(v);
    if (!p) continue;
    TSgmt ps(p);
    pieces[static_cast<std::size_t>(l)] = {ps.Tag(), ps.Qualifier()};
  }
  return MakeSegmentKey(level, sg.Tag(), pieces);
}

std::string TValidator::GetSegmentKey(IEdiSegment* s) const {
  TSgmt sg{ComPtr<IEdiSegment>(s)};
  int level = sg.Level();
  if (level < 2) return sg.Tag();
  std::vector<TKeyPiece> pieces(kMaxLevel + 1);
  for (int l = 2; l <= level && l <= kMaxLevel; ++l) {
    IEdiSegment* p = l == level ? s : FParents[static_cast<std::size_t>(l)].Get();
    if (!p) continue;
    TSgmt ps{ComPtr<IEdiSegment>(p)};
    pieces[static_cast<std::size_t>(l)] = {ps.Tag(), ps.Qualifier()};
  }
  return MakeSegmentKey(level, sg.Tag(), pieces);
}

void TValidator::Clear() {
  FErrors.Clear();
  FWarnings.Clear();
  FX912.clear();
  FX916.clear();
  // The unit count goes with the unit lists: kept from the previous message (whose group header
  // failed its check before resetting it) it would ask for the domain of a unit of that message.
  FXehCount = 0;
}

namespace {
// The borrowed component text serves one validation alone.
struct TForgetText {
  edicom::BSTR& text;
  ~TForgetText() { text = nullptr; }
};
}  // namespace

static bool IsBlankText(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) > ' ') return false;
  return true;
}

// Steps shared by Validate and ValidateEx once the text is known not to be empty.
bool TValidator::ValidateBody() {
  FEdiDirection = common::EdiGetDirection(FEdiMessage);
  if (FMessageDate == 0) FMessageDate = Today();
  // A pending code-list check never crosses from one validation into the next.
  FCheckNext.resize(FTelebib->Segments().size());
  for (TCheckNext& next : FCheckNext) next.Active = false;
  try {
    ValidateSegments();
    for (std::size_t i = 0; i < FX912.size(); ++i) ValidateControlTable(FX912[i], i + 1 == FX912.size());
  } catch (const std::exception& e) {
    FParents = {};
    FControlTable.reset();
    FErrors.Add(0, "", ErrorCode("E0003", e.what()));
    return false;
  }
  FControlTable.reset();
  return true;
}

bool TValidator::Validate() {
  TraceInfo(this, "Validate()");
  TForgetText forget{FComText};
  Clear();
  if (IsBlankText(FEdiMessage)) {
    FErrors.Add(0, "", ErrorCode("E0002"));
    return false;
  }
  ValidateBody();
  return FErrors.Count() == 0;
}

int TValidator::ValidateEx(std::string& error) {
  TraceInfo(this, "ValidateEx()");
  TForgetText forget{FComText};
  Clear();
  if (IsBlankText(FEdiMessage)) {
    FErrors.Add(0, "", ErrorCode("E0002"));
    return 0;
  }
  if (!ValidateBody()) return 0;
  if (FErrors.Count() > 0) {
    const TEdiErrorItem& first = FErrors.GetItems(0);
    if (first.Error.Code == "E0004") return 1;
    error = first.Error.Message;
    return 3;
  }
  if (FWarnings.Count() > 0) {
    error = FWarnings.GetItems(0).Error.Message;
    return 2;
  }
  return 0;
}

namespace {

// The parser's class factory, asked for once: looking the class up in the registry store for
// every message cost more than the validation itself. Kept for the life of the process, as the
// parser library stays loaded anyway once the engine used it.
std::mutex gFactoryLock;
edicom::IClassFactory* gParserFactory = nullptr;

edicom::HRESULT CreateParserMessage(ComPtr<kalvix::IEdiMessage>& out) {
  std::lock_guard<std::mutex> lock(gFactoryLock);
  if (!gParserFactory) {
    edicom::HRESULT hr = CoGetClassObject(kalvix::CLSID_EdiMessage, edicom::CLSCTX_INPROC_SERVER, nullptr,
                                          edicom::IID_IClassFactory, reinterpret_cast<void**>(&gParserFactory));
    if (edicom::FAILED(hr)) {
      gParserFactory = nullptr;
      return hr;
    }
  }
  return gParserFactory->CreateInstance(nullptr, kalvix::IID_IEdiMessage, out.PutVoid());
}

// Empties the parent array however the walk ends.
struct TParentsGuard {
  TTabOleVariant& parents;
  ~TParentsGuard() { parents = {}; }
};
}  // namespace

void TValidator::ValidateSegments() {
  ComPtr<kalvix::IEdiMessage> edi;
  edicom::HRESULT hr = CreateParserMessage(edi);
  if (edicom::FAILED(hr) || !edi) {
    std::string why = edicom::TakeErrorDescription();
    throw std::runtime_error(why.empty() ? Fmt("Unable to create EdiMessage (0x%x)", static_cast<unsigned>(hr))
                                         : Fmt("Unable to create EdiMessage (%s)", why));
  }
  FEdi = edi;
  auto check = [](edicom::HRESULT r, const char* member) {
    if (edicom::FAILED(r)) {
      std::string why = edicom::TakeErrorDescription();
      throw std::runtime_error(
          Fmt("IEdiMessage.%s failed (%s)", member, why.empty() ? Fmt("0x%x", static_cast<unsigned>(r)) : why));
    }
  };
  check(FEdi->Reset(), "Reset");
  if (FComText) {
    check(FEdi->put_InputStream(std::exchange(FComText, nullptr)), "InputStream");
  } else {
    BStr text = TextToCom(FEdiMessage);
    check(FEdi->put_InputStream(text.Get()), "InputStream");
  }
  std::int32_t errorCount = 0;
  check(FEdi->get_ErrorCount(&errorCount), "ErrorCount");
  if (errorCount >= 1) {
    FErrors.Add(0, "", ErrorCode("E0005", errorCount));
    return;
  }

  FControlTable.reset();
  if (FInterApp)
    if (TRelationItem* relation = Relations().Find(FEdi.Get())) FControlTable = relation->ControlTable()->Clone();

  TParentsGuard guard{FParents};
  // With a control table every segment needs its key: the tag and qualifier of each level are
  // read once, as the walk meets them, instead of once per key.
  const bool matching = FInterApp && FControlTable != nullptr;
  if (matching) {
    FPieces.assign(kMaxLevel + 1, TKeyPiece{});
    FParentMade.fill(false);
  }
  // Unit number of the latest header; recomputed when a header appends to the X912 list, which
  // only grows during a walk.
  std::size_t unitsSeen = 0;
  std::int32_t unitNo = 0;
  FSgmtNo = 0;
  std::string tagBuffer;
  // The parser's cursor spares a handle per segment and reads values by slot; without it (or
  // when asked), a handle per segment as the published interfaces give them.
  ComPtr<kalvix::IEdiSegmentCursor> cursor;
  if (FCursorWalk && ValueShortcutWanted()) FEdi->QueryInterface(kalvix::IID_IEdiSegmentCursor, cursor.PutVoid());
  ComPtr<IEdiSegment> s;
  bool on = false;
  if (cursor) {
    const edicom::HRESULT moved = cursor->MoveFirst();
    check(moved, "MoveFirst");
    on = moved == edicom::S_OK;
  } else {
    edicom::Variant first;
    check(FEdi->GetFirstSgmt(&first), "GetFirstSgmt");
    s = SegmentFromVariant(first);
    on = static_cast<bool>(s);
  }
  while (on) {
    ++FSgmtNo;
    TSgmt sg = cursor ? TSgmt(cursor.Get()) : TSgmt(s);
    auto key = [&] { return cursor ? SafeKey(cursor.Get()) : SafeKey(s.Get()); };
    try {
      std::int32_t data = DataWithSegmentNo(sg.Data(), FSgmtNo);
      sg.SetData(data);
      int level = sg.Level();
      if (level < 0 || level > kMaxLevel) throw std::runtime_error(Fmt("Segment level %d too deep", level));
      // The cursor keeps the parents of the keys itself; a control table asks for handles.
      if (!cursor) {
        FParents[static_cast<std::size_t>(level)] = s;
      } else if (matching) {
        FParents[static_cast<std::size_t>(level)].Reset();
        FParentMade[static_cast<std::size_t>(level)] = false;
      }
      std::string_view tag = sg.TagView(tagBuffer);
      if (matching) FPieces[static_cast<std::size_t>(level)] = {std::string(tag), sg.Qualifier()};
      if (tag != "[DATA]") {
        std::exception_ptr raised;
        bool found = false;
        try {
          TSegment* checker = FTelebib->FindSegment(tag);
          if (!checker) FTelebib->GetSegment(std::string(tag));  // fails as the lookup by name does
          found = checker && !checker->Check(*this, sg);
        } catch (...) {
          raised = std::current_exception();
        }
        if (matching) {
          if (unitsSeen != FX912.size()) {
            unitsSeen = FX912.size();
            unitNo = FX912.empty() ? 0 : static_cast<std::int32_t>(StrToInt(FX912.back()));
          }
          sg.SetData(DataWithUnitNo(data, unitNo));
          FControlTable->MatchSegment(
              [&](int l) -> IEdiSegment* {
                if (l < 0 || l > kMaxLevel) return nullptr;
                const auto at = static_cast<std::size_t>(l);
                if (cursor && !FParentMade[at]) {
                  if (l == level) {
                    FParents[at] = ComPtr<IEdiSegment>(sg.Get());
                  } else {
                    edicom::Variant v;
                    if (edicom::SUCCEEDED(cursor->get_LatestAt(l, &v))) FParents[at] = SegmentFromVariant(v);
                  }
                  FParentMade[at] = true;
                }
                return FParents[at].Get();
              },
              level, FPieces);
        }
        if (raised) std::rethrow_exception(raised);
        if (found) (FRaisedWarning ? static_cast<TEdiErrorList&>(FWarnings) : FErrors).Add(FSgmtNo, key(), FFinding);
      }
    } catch (const ETelebibWarning& w) {
      FWarnings.Add(FSgmtNo, key(), w.ErrorCode);
    } catch (const ETelebibError& e) {
      FErrors.Add(FSgmtNo, key(), e.ErrorCode);
    } catch (const std::exception& e) {
      // Not a finding: recorded with its own text so that the user sees why.
      FErrors.Add(FSgmtNo, key(), ErrorCode("E0001", e.what()));
    }
    if (FErrors.Count() >= FMaxError) break;
    if (cursor) {
      const edicom::HRESULT moved = cursor->MoveNext();
      check(moved, "MoveNext");
      on = moved == edicom::S_OK;
    } else {
      s = sg.Next();
      on = static_cast<bool>(s);
    }
  }
}

std::string TValidator::SafeKey(IEdiSegment* s) const {
  try {
    return GetSegmentKey(s);
  } catch (const std::exception&) {
    return {};
  }
}

std::string TValidator::SafeKey(kalvix::IEdiSegmentCursor* c) const {
  try {
    return CursorSegmentKey(c);
  } catch (const std::exception&) {
    return {};
  }
}

void TValidator::ValidateControlTable(const std::string& x912, bool last) {
  if (!FControlTable) return;
  FControlTable->Validate(*this, FEdi.Get(), FErrors, FWarnings, x912);
  if (last) FControlTable.reset();
}

}  // namespace ruvala
