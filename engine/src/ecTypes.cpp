#include "ecTypes.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <unordered_map>

#include "DateUtils.h"
#include "Format.h"
#include "TextCodec.h"
#include "ecTrace.h"

namespace ruvala {

using common::Fmt;
using edicom::BStr;
using edicom::ComPtr;
using kalvix::IEdiSegment;

// --- segment object access --------------------------------------------------------------------

[[noreturn]] static void SegmentCallFailed(const char* member, edicom::HRESULT hr) {
  std::string why = edicom::TakeErrorDescription();
  throw std::runtime_error(why.empty() ? Fmt("IEdiSegment.%s failed (0x%x)", member, static_cast<unsigned>(hr))
                                       : Fmt("IEdiSegment.%s failed (%s)", member, why));
}

#define EDI_CALL(member, call)                               \
  do {                                                       \
    edicom::HRESULT hr_ = (call);                            \
    if (edicom::FAILED(hr_)) SegmentCallFailed(member, hr_); \
  } while (0)

// An 8-bit view of the shortcut as UTF-8.
static std::string FromAnsi(const char* p, std::int32_t n) {
  return common::AnsiToUtf8(std::string_view(p, static_cast<std::size_t>(n)));
}

// Plain ASCII reads the same in both: only other bytes need converting.
static std::string_view AsUtf8(std::string_view raw, std::string& buffer) {
  for (char c : raw)
    if (static_cast<unsigned char>(c) >= 0x80) {
      buffer = common::AnsiToUtf8(raw);
      return buffer;
    }
  return raw;
}

std::string TSgmt::Tag() const {
  if (FValues || FCursor) {
    const char* p = nullptr;
    std::int32_t n = 0;
    EDI_CALL("Tag", FCursor ? FCursor->TagValue(&p, &n) : FValues->TagValue(&p, &n));
    return FromAnsi(p, n);
  }
  BStr s;
  EDI_CALL("Tag", FSeg->get_Tag(s.Put()));
  return TextFromCom(s.View());
}

int TSgmt::Level() const {
  std::int32_t v = 0;
  EDI_CALL("Level", FCursor ? FCursor->get_Level(&v) : FSeg->get_Level(&v));
  return v;
}

bool TSgmt::Empty() const {
  std::int32_t v = 0;
  EDI_CALL("Empty", FCursor ? FCursor->get_Empty(&v) : FSeg->get_Empty(&v));
  return v != 0;
}

bool TSgmt::Rubrique() const {
  std::int32_t v = 0;
  EDI_CALL("Rubrique", FCursor ? FCursor->get_Rubrique(&v) : FSeg->get_Rubrique(&v));
  return v != 0;
}

std::string TSgmt::Qualifier() const {
  if (FValues || FCursor) {
    const char* p = nullptr;
    std::int32_t n = 0;
    EDI_CALL("Qualifier", FCursor ? FCursor->QualifierValue(&p, &n) : FValues->QualifierValue(&p, &n));
    return FromAnsi(p, n);
  }
  BStr s;
  EDI_CALL("Qualifier", FSeg->get_Qualifier(s.Put()));
  return TextFromCom(s.View());
}

// Element and composite codes as the parser's strings, made once: the checks ask for the same
// few hundred codes for every segment. The usual codes (a letter and three digits, "X001",
// "C015") live in a process-wide table of immutable strings kept until the process ends; the
// others in a map per thread.
static edicom::BSTR CodeString(const std::string& code) {
  if (code.size() == 4 && code[0] >= 'A' && code[0] <= 'Z' && code[1] >= '0' && code[1] <= '9' && code[2] >= '0' &&
      code[2] <= '9' && code[3] >= '0' && code[3] <= '9') {
    static std::atomic<edicom::BSTR> table[26 * 1000];
    std::atomic<edicom::BSTR>& slot =
        table[static_cast<std::size_t>(code[0] - 'A') * 1000 +
              static_cast<std::size_t>((code[1] - '0') * 100 + (code[2] - '0') * 10 + (code[3] - '0'))];
    edicom::BSTR b = slot.load(std::memory_order_acquire);
    if (!b) {
      edicom::BSTR made = BStr(code).Detach();
      if (slot.compare_exchange_strong(b, made, std::memory_order_acq_rel))
        b = made;
      else
        ::SysFreeString(made);
    }
    return b;
  }
  thread_local std::unordered_map<std::string, BStr> cache;
  auto it = cache.find(code);
  if (it == cache.end()) it = cache.emplace(code, BStr(code)).first;
  return it->second.Get();
}

std::string TextFromCom(std::u16string_view w) {
  std::string out(w.size(), '\0');
  for (std::size_t i = 0; i < w.size(); ++i) {
    if (w[i] >= 0x80) return edicom::Utf16ToUtf8(w);
    out[i] = static_cast<char>(w[i]);
  }
  return out;
}

BStr TextToCom(std::string_view utf8) {
  std::u16string w(utf8.size(), u'\0');
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (static_cast<unsigned char>(utf8[i]) >= 0x80) return BStr(utf8);
    w[i] = static_cast<char16_t>(utf8[i]);
  }
  return BStr(std::u16string_view(w));
}

bool ValueShortcutWanted() {
  static const bool wanted = [] {
    const char* v = std::getenv("RUVALA_NO_VALUE_SHORTCUT");
    return !v || !*v || std::strcmp(v, "0") == 0;
  }();
  return wanted;
}

TSgmt::TSgmt(ComPtr<IEdiSegment> s) : FSeg(std::move(s)) {
  if (FSeg && ValueShortcutWanted()) FSeg->QueryInterface(kalvix::IID_IEdiSegmentValues, FValues.PutVoid());
}

IEdiSegment* TSgmt::Get() const {
  if (!FSeg && FCursor) {
    edicom::Variant v;
    EDI_CALL("Segment", FCursor->get_Segment(&v));
    FSeg = SegmentFromVariant(v);
  }
  return FSeg.Get();
}

std::string_view TSgmt::CursorValue(std::string_view cde, int cdePos, std::string_view de, int pos,
                                    std::string& buffer) const {
  const char* member = cde.empty() ? "Find" : "FindInComponent";
  std::int32_t slot = -1;
  EDI_CALL(member, FCursor->SlotOf(cde.data(), static_cast<std::int32_t>(cde.size()), cde.empty() ? 0 : cdePos,
                                   de.data(), static_cast<std::int32_t>(de.size()), pos, &slot));
  const char* p = nullptr;
  std::int32_t n = 0;
  EDI_CALL(member, FCursor->SlotValue(slot, &p, &n));
  return AsUtf8(std::string_view(p, static_cast<std::size_t>(n)), buffer);
}

std::string_view TSgmt::View(const TPlanElement& el, int cdePos, int pos, std::string& buffer) const {
  return View(el.Slots, el.Cde, cdePos, el.De, pos, buffer);
}

std::string_view TSgmt::View(const TSlotCache& slots, std::string_view cde, int cdePos, std::string_view de, int pos,
                             std::string& buffer) const {
  std::atomic<std::int16_t>* cached = FCursor ? slots.At(cde.empty() ? 0 : cdePos - 1, pos - 1) : nullptr;
  if (!cached) return View(cde, cdePos, de, pos, buffer);
  const char* member = cde.empty() ? "Find" : "FindInComponent";
  std::int32_t slot = cached->load(std::memory_order_relaxed);
  if (slot == -2) {
    EDI_CALL(member, FCursor->SlotOf(cde.data(), static_cast<std::int32_t>(cde.size()), cde.empty() ? 0 : cdePos,
                                     de.data(), static_cast<std::int32_t>(de.size()), pos, &slot));
    cached->store(static_cast<std::int16_t>(slot), std::memory_order_relaxed);
  }
  const char* p = nullptr;
  std::int32_t n = 0;
  EDI_CALL(member, FCursor->SlotValue(slot, &p, &n));
  return AsUtf8(std::string_view(p, static_cast<std::size_t>(n)), buffer);
}

std::string_view TSgmt::View(std::string_view cde, int cdePos, std::string_view de, int pos,
                             std::string& buffer) const {
  if (FCursor) return CursorValue(cde, cdePos, de, pos, buffer);
  const char* member = cde.empty() ? "Find" : "FindInComponent";
  if (FValues) {
    const char* p = nullptr;
    std::int32_t n = 0;
    EDI_CALL(member, FValues->FindValue(cde.data(), static_cast<std::int32_t>(cde.size()), cde.empty() ? 0 : cdePos,
                                        de.data(), static_cast<std::int32_t>(de.size()), pos, &p, &n));
    return AsUtf8(std::string_view(p, static_cast<std::size_t>(n)), buffer);
  }
  BStr v;
  if (cde.empty())
    EDI_CALL(member, FSeg->Find(CodeString(std::string(de)), pos, v.Put()));
  else
    EDI_CALL(member,
             FSeg->FindInComponent(CodeString(std::string(cde)), cdePos, CodeString(std::string(de)), pos, v.Put()));
  buffer = TextFromCom(v.View());
  return buffer;
}

std::string_view TSgmt::TagView(std::string& buffer) const {
  if (FValues || FCursor) {
    const char* p = nullptr;
    std::int32_t n = 0;
    EDI_CALL("Tag", FCursor ? FCursor->TagValue(&p, &n) : FValues->TagValue(&p, &n));
    return AsUtf8(std::string_view(p, static_cast<std::size_t>(n)), buffer);
  }
  buffer = Tag();
  return buffer;
}

std::string TSgmt::Find(const std::string& de, int pos) const {
  std::string buffer;
  return std::string(View({}, 0, de, pos, buffer));
}

std::string TSgmt::FindInComponent(const std::string& cde, int cdePos, const std::string& de, int pos) const {
  std::string buffer;
  return std::string(View(cde, cdePos, de, pos, buffer));
}

void TSgmt::Insert(const std::string& value, const std::string& de, int pos) const {
  BStr v(value), d(de);
  EDI_CALL("Insert", Get()->Insert(v.Get(), d.Get(), pos));
}

std::int32_t TSgmt::Data() const {
  std::int32_t v = 0;
  EDI_CALL("Data", FCursor ? FCursor->get_Data(&v) : FSeg->get_Data(&v));
  return v;
}

void TSgmt::SetData(std::int32_t data) const {
  EDI_CALL("Data", FCursor ? FCursor->put_Data(data) : FSeg->put_Data(data));
}

ComPtr<IEdiSegment> SegmentFromVariant(edicom::VARIANT& v) {
  ComPtr<IEdiSegment> out;
  if ((v.vt == edicom::VT_DISPATCH || v.vt == edicom::VT_UNKNOWN) && v.punkVal)
    v.punkVal->QueryInterface(kalvix::IID_IEdiSegment, out.PutVoid());
  return out;
}

ComPtr<IEdiSegment> TSgmt::Parent() const {
  edicom::Variant v;
  EDI_CALL("Parent", Get()->get_Parent(&v));
  return SegmentFromVariant(v);
}

ComPtr<IEdiSegment> TSgmt::Next() const {
  edicom::Variant v;
  EDI_CALL("GetNextSgmt", Get()->GetNextSgmt(&v));
  return SegmentFromVariant(v);
}

ComPtr<IEdiSegment> TSgmt::FirstChild() const {
  edicom::Variant v;
  EDI_CALL("GetFirstChild", Get()->GetFirstChild(&v));
  return SegmentFromVariant(v);
}

// --- helpers ----------------------------------------------------------------------------------

std::string DePosition(std::string_view cde, int cdePos, std::string_view de, int dePos) {
  if (!cde.empty() && cde != "-") return Fmt("%s:%d, %s:%d", cde, cdePos, de, dePos);
  return Fmt("%s:%d", de, dePos);
}

bool IsNumericText(std::string_view text, bool signAllowed) {
  if (text.empty()) return false;
  std::size_t i = 0;
  if (signAllowed && text.size() > 1 && (text[0] == '+' || text[0] == '-')) i = 1;
  for (; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

// Texts are UTF-8 inside the engine; lengths and characters are those the message was written
// in, so a multi-byte character counts once.
static std::size_t CharCount(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

static std::string PadLeft(const std::string& s, std::size_t n, char c) {
  std::size_t len = CharCount(s);
  return len >= n ? s : std::string(n - len, c) + s;
}

static int StrToIntDef(const std::string& s, int def) {
  try {
    return static_cast<int>(StrToInt(s));
  } catch (const std::invalid_argument&) {
    return def;
  }
}

// First character that is not a digit or a capital letter, whole (all its bytes).
static std::string FirstBadCharacter(const std::string& s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')) continue;
    std::size_t end = i + 1;
    while (end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) ++end;
    return s.substr(i, end - i);
  }
  return {};
}

const char* const DateMasks[13] = {"",         "DDMMYYYY", "DDMMYYYYHHNNSS", "DDMM",         "YYYY",
                                   "MMYYYY",   "MMYY",     "HHNN",           "DDMMYYYYHHNN", "MM",
                                   "YYYYMMDD", "YYMM",     "DDMMYY"};

static bool ReadPart(const std::string& part, int& out) {
  if (part.empty()) return false;
  out = 0;
  for (char c : part) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

static int CurrentYear() {
  return static_cast<int>(
      common::CivilFromDays(static_cast<std::int64_t>(common::TodayDate()) - common::kDaysTo1970).Year);
}

// Day, month and year are read in that order and checked against the calendar, whatever the
// process's own date settings say.
bool IsDateValue(const std::string& d, const std::string& m) {
  auto part = [&](const char* token, const char* absent) -> std::string {
    std::size_t at = m.find(token);
    if (at == std::string::npos) return absent;
    std::size_t n = std::char_traits<char>::length(token);
    return at < d.size() ? d.substr(at, n) : std::string();
  };
  std::string yyyy = part("YYYY", ""), yy = part("YY", ""), mm = part("MM", "01"), dd = part("DD", "01"),
              hh = part("HH", "00"), nn = part("NN", "00"), ss = part("SS", "00");
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool ok;
  if (!yyyy.empty())
    ok = ReadPart(yyyy, year);
  else if (!yy.empty())
    ok = ReadPart("20" + yy, year);
  else {
    year = CurrentYear();
    ok = true;
  }
  ok = ok && ReadPart(mm, month) && ReadPart(dd, day) && ReadPart(hh, hour) && ReadPart(nn, minute) &&
       ReadPart(ss, second);
  if (ok) {
    ok = year >= 1 && year <= 9999 && common::IsValidCivil(year, month, day) && hour <= 23 && minute <= 59 &&
         second <= 59;
  }
  return ok;
}

// --- check plans ------------------------------------------------------------------------------

const std::vector<TPlanRow>& TSegment::Plan() {
  if (FPlanned) return FPlan;
  FPlan.clear();
  FPlan.reserve(FLayout.size());
  auto element = [&](std::string_view cde, const std::string& de, int occurrence, bool mandatory) {
    TPlanElement el;
    el.Cde = cde;
    el.De = de;
    el.Item = FTelebib.FindDe(de);
    el.Occurrence = occurrence;
    el.Mandatory = mandatory;
    el.NamesCodeList = de == FDE;
    return el;
  };
  for (const TSegmentLayoutItem& row : FLayout) {
    TPlanRow r;
    r.Row = &row;
    r.Simple = row.FCDE == "-";
    if (r.Simple) {
      r.Elements.push_back(element({}, row.FDE, row.FOccurrence, row.FMandatory));
    } else if ((r.Cde = FTelebib.FindCDe(row.FCDE)) != nullptr) {
      for (const TCdeLayoutItem& el : r.Cde->FLayout)
        r.Elements.push_back(element(r.Cde->FKey, el.FDe, el.FOccurrence, el.FMandatory));
    }
    FPlan.push_back(std::move(r));
  }
  FPlanned = true;
  return FPlan;
}

// An element the referential lacks fails as the lookup by name fails.
const TDeItem& TSegment::De(const TPlanElement& el) const {
  return el.Item ? *el.Item : FTelebib.GetDe(std::string(el.De));
}

// --- generic check ----------------------------------------------------------------------------

bool TSegment::Check(TCheckContext& ctx, TSgmt& sgmt) {
  TraceInfo(this, "Check(%s)", FTag);
  if (!CheckEmpty(ctx, sgmt)) return false;
  for (const TPlanRow& row : Plan())
    if (!(row.Simple ? CheckLayoutDe(ctx, sgmt, row) : CheckCDe(ctx, sgmt, row))) return false;
  return true;
}

bool TSegment::CheckEmpty(TCheckContext& ctx, TSgmt& sgmt) {
  if (!sgmt.Empty()) return true;
  if (sgmt.Rubrique()) return RaiseWarning(ctx, WarningCode("W0003", FTag));
  return RaiseWarning(ctx, WarningCode("W0004", FTag));
}

bool TSegment::CheckLayoutDe(TCheckContext& ctx, TSgmt& sgmt, const TPlanRow& row) {
  return CheckDe(ctx, sgmt, row.Elements.front(), 0, row.Row->FOccurrence, row.Row->FMandatory);
}

bool TSegment::CheckCDe(TCheckContext& ctx, TSgmt& sgmt, const TPlanRow& row) {
  std::string buffer;
  for (int p = 1; p <= row.Row->FOccurrence; ++p) {
    const TCdeItem& cde = row.Cde ? *row.Cde : FTelebib.GetCDe(row.Row->FCDE);
    if (!row.Row->FMandatory) {
      bool empty = true;
      for (const TPlanElement& el : row.Elements) {
        for (int i = 1; i <= el.Occurrence && empty; ++i)
          if (!sgmt.View(el, p, i, buffer).empty()) empty = false;
        if (!empty) break;
      }
      if (empty) continue;
    }
    TSpecificValue specific = CheckSpecificValue(ctx, sgmt, row, p, cde);
    if (specific == TSpecificValue::Finding) return false;
    if (specific == TSpecificValue::None)
      for (const TPlanElement& el : row.Elements)
        if (!CheckDe(ctx, sgmt, el, p, el.Occurrence, el.Mandatory)) return false;
  }
  return true;
}

TSpecificValue TSegment::CheckSpecificValue(TCheckContext& ctx, TSgmt& sgmt, const TPlanRow& row, int cdePos,
                                            const TCdeItem& cde) {
  if (!cde.CanHaveSpecificValue || cde.FLayout.empty()) return TSpecificValue::None;
  std::string vb, lb, ob;
  // The plan's elements are the composite's own, so its first one is the value's.
  const bool planned = row.Cde == &cde && !row.Elements.empty();
  std::string_view v = planned ? sgmt.View(row.Elements.front(), cdePos, 1, vb)
                               : sgmt.View(cde.FKey, cdePos, cde.FLayout.front().FDe, 1, vb);
  std::string_view l = sgmt.View(row.X901Slots, cde.FKey, cdePos, "X901", 1, lb);
  std::string_view o = sgmt.View(row.X902Slots, cde.FKey, cdePos, "X902", 1, ob);
  if (l.empty() && o.empty()) return TSpecificValue::None;
  auto finding = [](bool) { return TSpecificValue::Finding; };
  if (ctx.InterApplication()) return finding(RaiseError(ctx, ErrorCode("E0012", o, l, v)));
  if (l.empty() || o.empty()) return finding(RaiseError(ctx, ErrorCode("E0011", o, l, v)));
  bool obsolete = false;
  if (FTelebib.GetValeurSpec(v, l, o, ctx.MessageDate(), obsolete)) return TSpecificValue::Valid;
  if (obsolete) return finding(RaiseWarning(ctx, WarningCode("W0002", o, l, v)));
  return finding(RaiseError(ctx, ErrorCode("E0010", o, l, v)));
}

bool TSegment::CheckMandatory(TCheckContext& ctx, const TPlanElement& el, int cdePos, bool mandatory,
                              std::string_view value, int dePos) {
  if (mandatory && value.empty()) return RaiseError(ctx, ErrorCode("E0013", DePosition(el.Cde, cdePos, el.De, dePos)));
  return true;
}

bool TSegment::CheckFormat(TCheckContext& ctx, const TPlanElement& el, int cdePos, std::string_view value, int dePos) {
  if (value.empty()) return true;
  const TDeItem& item = De(el);
  if (item.FNature == 2 && !IsNumericText(value, true))
    return RaiseError(ctx, ErrorCode("E0014", DePosition(el.Cde, cdePos, el.De, dePos), value));
  if (static_cast<std::int64_t>(CharCount(value)) > item.FLength)
    return RaiseError(ctx, ErrorCode("E0015", DePosition(el.Cde, cdePos, el.De, dePos), value, item.FLength));
  return true;
}

bool TSegment::CheckDe(TCheckContext& ctx, TSgmt& sgmt, const TPlanElement& el, int cdePos, int maxDe, bool mandatory) {
  std::string buffer;
  for (int d = 1; d <= maxDe; ++d) {
    std::string_view v = sgmt.View(el, cdePos, d, buffer);
    if (!CheckMandatory(ctx, el, cdePos, mandatory, v, d) || !CheckFormat(ctx, el, cdePos, v, d)) return false;
    if (v.empty()) return true;
    const TDeItem& item = De(el);
    if (item.FPreVal) {
      bool obsolete = false;
      if (!item.FQualifiant.IsValid(v, item.FNature == 2, ctx.MessageDate(), obsolete)) {
        if (obsolete) return RaiseWarning(ctx, WarningCode("W0001", DePosition(el.Cde, cdePos, el.De, d), v));
        return RaiseError(ctx, ErrorCode("E0009", DePosition(el.Cde, cdePos, el.De, d), v));
      }
    }
    if (!FTag.empty() && FTag[0] == 'X') continue;
    TCheckNext& next = ctx.CheckNext(FIndex);
    if (el.NamesCodeList) {
      next.Active = FTelebib.HasListOfValue(v);
      next.Code.assign(v);
    } else if (next.Active) {
      next.Active = false;
      bool obsolete = false;
      if (!FTelebib.GetValeur(next.Code, v, ctx.MessageDate(), obsolete)) {
        if (obsolete) return RaiseWarning(ctx, WarningCode("W0001", DePosition(el.Cde, cdePos, el.De, d), v));
        return RaiseError(ctx, ErrorCode("E0009", DePosition(el.Cde, cdePos, el.De, d), v));
      }
    }
  }
  return true;
}

// --- special checkers -------------------------------------------------------------------------

namespace {

class TXGH : public TSegment {
 public:
  using TSegment::TSegment;
  bool Check(TCheckContext& ctx, TSgmt& sgmt) override {
    if (!TSegment::Check(ctx, sgmt)) return false;
    ctx.XehCount() = 0;
    ctx.SetGroupParties(sgmt.FindInComponent("C900", 1, "X921", 1), sgmt.FindInComponent("C905", 1, "X923", 1),
                        sgmt.Find("X925", 1));
    std::string oca = ctx.GetOca();
    if (oca != "?" && oca != "9000" && !FTelebib.OcaIsValid(oca)) return RaiseError(ctx, ErrorCode("E0029", oca));
    return true;
  }
};

// X910 is read as two characters by every later check of the message.
static void PadX910(TSgmt& sgmt) {
  try {
    // Most headers carry two characters already: writing the same value back would cost a
    // segment handle and two component strings for nothing.
    const std::string x910 = sgmt.Find("X910", 1);
    std::string padded = PadLeft(x910, 2, '0');
    if (padded != x910) sgmt.Insert(padded, "X910", 1);
  } catch (...) {
  }
}

class TXEH : public TSegment {
 public:
  using TSegment::TSegment;
  bool Check(TCheckContext& ctx, TSgmt& sgmt) override {
    PadX910(sgmt);
    // The unit lists grow whatever the checks of the header found.
    std::exception_ptr failure;
    bool passed = true;
    try {
      passed = TSegment::Check(ctx, sgmt);
    } catch (...) {
      failure = std::current_exception();
    }
    int count = ++ctx.XehCount();
    std::string previous;
    if (count > 1) previous = ctx.GetX916(-1);
    std::string x912 = sgmt.Find("X912", 1);
    std::string x916 = sgmt.Find("X916", 1);
    if (x916.empty()) x916 = "00";
    // A linked unit (X925 "001", message 304) without a domain of its own takes the previous one.
    if (count > 1 && ctx.X925() == "001" && x916 == "00" && StrToIntDef(x912, -1) == 304) x916 = previous;
    ctx.SetX916(-1, x916);
    ctx.SetX912(-1, x912);
    if (failure) std::rethrow_exception(failure);
    return passed;
  }
};

class TXET : public TSegment {
 public:
  using TSegment::TSegment;
  bool Check(TCheckContext& ctx, TSgmt& sgmt) override {
    PadX910(sgmt);
    return TSegment::Check(ctx, sgmt);
  }
};

class TDTM : public TSegment {
 public:
  using TSegment::TSegment;
  bool Check(TCheckContext& ctx, TSgmt& sgmt) override {
    if (!TSegment::Check(ctx, sgmt)) return false;
    std::string d = sgmt.FindInComponent("C015", 1, "X017", 1);
    std::string f = sgmt.FindInComponent("C015", 1, "X018", 1);
    if (f.empty()) f = "001";
    bool blank = true;
    for (char c : d)
      if (static_cast<unsigned char>(c) > ' ') blank = false;
    if (blank) return RaiseError(ctx, ErrorCode("E0016", d));
    std::int64_t code = StrToInt(f);
    if (code <= 12) {
      // A code of 0 or below has no mask: reported as a format that cannot match.
      std::string mask = code >= 1 ? DateMasks[code] : "";
      if (CharCount(d) != mask.size()) return RaiseError(ctx, ErrorCode("E0017", d, mask));
      if (!IsDateValue(d, mask)) return RaiseError(ctx, ErrorCode("E0018", d, mask));
    } else if (!IsNumericText(d, false)) {
      return RaiseError(ctx, ErrorCode("E0014", "X017:1", d));
    }
    return true;
  }
};

class TADR : public TSegment {
 public:
  using TSegment::TSegment;
  bool CheckDe(TCheckContext& ctx, TSgmt& sgmt, const TPlanElement& el, int cdePos, int maxDe,
               bool mandatory) override {
    if (!TSegment::CheckDe(ctx, sgmt, el, cdePos, maxDe, mandatory)) return false;
    if (el.De != "X006") return true;
    std::string zb, cb;
    for (int i = 1; i <= maxDe; ++i) {
      std::string_view z = sgmt.View(el.Cde, cdePos, "X006", i, zb);
      std::string c(sgmt.View({}, 0, "X008", i, cb));
      if (c.empty()) c.push_back('B');  // (an assignment trips a false -Wrestrict in g++ 12)
      if (!FTelebib.GetDeQualifiant("X008", c)) return RaiseError(ctx, ErrorCode("E0027", c));
      if (c != "B") return true;
      const TPostalItem* p = FTelebib.GetPostal(z, c);
      if (!p) return RaiseError(ctx, ErrorCode("E0028", DePosition(el.Cde, cdePos, "X006", i), z, c));
      if (IsObsolete(p->FDateDel, ctx.MessageDate()))
        return RaiseWarning(ctx, WarningCode("W0011", DePosition(el.Cde, cdePos, "X006", i), z, c));
    }
    return true;
  }
};

class TPTY : public TSegment {
 public:
  using TSegment::TSegment;
  bool CheckDe(TCheckContext& ctx, TSgmt& sgmt, const TPlanElement& el, int cdePos, int maxDe,
               bool mandatory) override {
    if (el.De == "X076") {
      std::string q = sgmt.Qualifier();
      if (q == "002" || q == "006") return true;  // broker roles carry an FSMA number there
    }
    return TSegment::CheckDe(ctx, sgmt, el, cdePos, maxDe, mandatory);
  }
};

class TCOM : public TSegment {
 public:
  using TSegment::TSegment;
  bool CheckDe(TCheckContext& ctx, TSgmt& sgmt, const TPlanElement& el, int cdePos, int maxDe,
               bool mandatory) override {
    if (!TSegment::CheckDe(ctx, sgmt, el, cdePos, maxDe, mandatory)) return false;
    if (!ctx.FilterMode()) return true;
    std::string buffer;
    if (sgmt.View("C010", 1, "X013", 1, buffer) == "003") return true;
    std::string n = sgmt.FindInComponent("C010", 1, "X014", 1);
    std::string bad = FirstBadCharacter(n);
    if (!bad.empty()) return RaiseWarning(ctx, WarningCode("W0012", bad, "C010:1, X014:1", n));
    return true;
  }
};

class TRFF : public TSegment {
 public:
  using TSegment::TSegment;
  bool CheckDe(TCheckContext& ctx, TSgmt& sgmt, const TPlanElement& el, int cdePos, int maxDe,
               bool mandatory) override {
    if (!TSegment::CheckDe(ctx, sgmt, el, cdePos, maxDe, mandatory)) return false;
    if (!ctx.FilterMode() || el.De != "X051") return true;
    std::string buffer;
    std::string_view q = sgmt.View("C070", 1, "X050", 1, buffer);
    if (q != "008" && q != "020" && q != "028") return true;
    std::string r = sgmt.FindInComponent("C070", 1, "X051", 1);
    std::string bad = FirstBadCharacter(r);
    if (!bad.empty()) return RaiseWarning(ctx, WarningCode("W0012", bad, "C070:1, X051:1", r));
    return true;
  }
};

// IND and MOA: in filter mode X024 is not examined at all.
class TIndexedAmount : public TSegment {
 public:
  using TSegment::TSegment;
  bool CheckDe(TCheckContext& ctx, TSgmt& sgmt, const TPlanElement& el, int cdePos, int maxDe,
               bool mandatory) override {
    if (ctx.FilterMode() && el.De == "X024") return true;
    return TSegment::CheckDe(ctx, sgmt, el, cdePos, maxDe, mandatory);
  }
};

class TIND final : public TIndexedAmount {
 public:
  using TIndexedAmount::TIndexedAmount;
};
class TMOA final : public TIndexedAmount {
 public:
  using TIndexedAmount::TIndexedAmount;
};

class TICD : public TSegment {
 public:
  using TSegment::TSegment;
  bool Check(TCheckContext& ctx, TSgmt& sgmt) override {
    if (!TSegment::Check(ctx, sgmt)) return false;
    if (!ctx.FilterMode()) return true;
    std::string g = sgmt.FindInComponent("C095", 1, "X058", 1);
    std::string x = ctx.GetX916(-1);
    const TGuaranteeItem* item = FTelebib.GetGuarantee(g);
    if (!item) return RaiseError(ctx, ErrorCode("E0009", "C095:1, X058:1", g));
    if (IsObsolete(item->FDateDel, ctx.MessageDate()))
      return RaiseWarning(ctx, WarningCode("W0005", "C095:1, X058:1", g, x));
    if (!item->IsDomainValid(x)) return RaiseError(ctx, ErrorCode("E0019", "C095:1, X058:1", g, x));
    return true;
  }
};

class TIFD : public TSegment {
 public:
  using TSegment::TSegment;
  bool Check(TCheckContext& ctx, TSgmt& sgmt) override {
    if (!TSegment::Check(ctx, sgmt)) return false;
    if (!ctx.FilterMode()) return true;
    std::string f = sgmt.FindInComponent("C090", 1, "X062", 1);
    ComPtr<IEdiSegment> parent = sgmt.Parent();
    if (!parent) throw std::runtime_error("Assertion failure");
    TSgmt icd(parent);
    if (icd.Tag() != "ICD") throw std::runtime_error("Assertion failure");
    std::string g = icd.FindInComponent("C095", 1, "X058", 1);
    std::string o = ctx.GetOca();
    const TFormulaItem* item = FTelebib.GetFormula(o, g, f);
    const char* pos = "C090:1, X062:1";
    if (!item) return RaiseError(ctx, ErrorCode("E0020", pos, o, g, f));
    if (IsObsolete(item->FDateDel, ctx.MessageDate())) return RaiseWarning(ctx, WarningCode("W0006", pos, o, g, f));
    if (IsOutOfDate(item->FDateStart, item->FDateEnd, ctx.MessageDate()))
      return RaiseWarning(ctx, WarningCode("W0007", pos, o, g, f));
    return true;
  }
};

class TIPD : public TSegment {
 public:
  using TSegment::TSegment;
  bool CheckDe(TCheckContext& ctx, TSgmt& sgmt, const TPlanElement& el, int cdePos, int maxDe,
               bool mandatory) override {
    if (!(ctx.FilterMode() && el.De == "X067")) return TSegment::CheckDe(ctx, sgmt, el, cdePos, maxDe, mandatory);
    std::string k = sgmt.Find("X060", 1);
    if (maxDe == 0) return true;
    std::string v = sgmt.FindInComponent("C085", 1, "X067", 1);
    if (k == "A532") return CheckProduct(ctx, v);
    if (k == "A502") return CheckTypePolicy(ctx, v);
    return TSegment::CheckDe(ctx, sgmt, el, cdePos, maxDe, mandatory);
  }

 private:
  bool CheckProduct(TCheckContext& ctx, const std::string& v) {
    std::string o = ctx.GetOca();
    std::string x = ctx.GetX916(-1);
    const char* pos = "C085:1, X067:1";
    const TProductItem* p = FTelebib.GetProduct(o, v);
    if (!p) return RaiseError(ctx, ErrorCode("E0021", pos, o, v));
    if (p->FDomain != StripLeadingZeros(x))
      return RaiseError(ctx, ErrorCode("E0022", pos, o, v, x, PadLeft(p->FDomain, 2, '0')));
    if (IsObsolete(p->FDateDel, ctx.MessageDate())) return RaiseWarning(ctx, WarningCode("W0008", pos, o, v, x));
    if (IsOutOfDate(p->FDateStart, p->FDateEnd, ctx.MessageDate()))
      return RaiseWarning(ctx, WarningCode("W0009", pos, o, v, x));
    return true;
  }
  bool CheckTypePolicy(TCheckContext& ctx, const std::string& v) {
    std::string x = ctx.GetX916(-1);
    const char* pos = "C085:1, X067:1";
    const TTypePoliceItem* t = FTelebib.GetTypePolice(v);
    if (!t) return RaiseError(ctx, ErrorCode("E0023", pos, v));
    if (IsObsolete(t->FDateDel, ctx.MessageDate())) return RaiseWarning(ctx, WarningCode("W0010", pos, v));
    if (!t->IsDomainValid(x)) return RaiseError(ctx, ErrorCode("E0024", pos, v, x));
    return true;
  }
};

class TROD : public TSegment {
 public:
  using TSegment::TSegment;
  bool Check(TCheckContext& ctx, TSgmt& sgmt) override {
    if (!TSegment::Check(ctx, sgmt)) return false;
    if (!ctx.FilterMode()) return true;
    std::string r = sgmt.Find("X052", 1);
    std::string x = ctx.GetX916(-1);
    std::string u = ctx.GetX912(-1);
    // Unit 304 may carry the pseudo risk object 998: a warning that keeps the error's entry.
    if (r == "998" && StrToIntDef(u, -1) == 304) return RaiseWarning(ctx, ErrorCode("E0009", "X052:1", r));
    const TRiskObjectItem* item = FTelebib.GetRiskObject(r);
    if (!item) return RaiseError(ctx, ErrorCode("E0009", "X052:1", r));
    if (IsObsolete(item->FDateDel, ctx.MessageDate())) return RaiseWarning(ctx, WarningCode("W0005", "X052:1", r, x));
    if (!item->IsDomainValid(x)) return RaiseError(ctx, ErrorCode("E0019", "X052:1", r, x));
    return true;
  }
};

}  // namespace

std::unique_ptr<TSegment> CreateSegmentChecker(TTelebib& telebib, const std::string& tag) {
  if (tag == "ADR") return std::make_unique<TADR>(telebib, tag);
  if (tag == "COM") return std::make_unique<TCOM>(telebib, tag);
  if (tag == "DTM") return std::make_unique<TDTM>(telebib, tag);
  if (tag == "ICD") return std::make_unique<TICD>(telebib, tag);
  if (tag == "IFD") return std::make_unique<TIFD>(telebib, tag);
  if (tag == "IND") return std::make_unique<TIND>(telebib, tag);
  if (tag == "MOA") return std::make_unique<TMOA>(telebib, tag);
  if (tag == "IPD") return std::make_unique<TIPD>(telebib, tag);
  if (tag == "PTY") return std::make_unique<TPTY>(telebib, tag);
  if (tag == "RFF") return std::make_unique<TRFF>(telebib, tag);
  if (tag == "ROD") return std::make_unique<TROD>(telebib, tag);
  if (tag == "XEH") return std::make_unique<TXEH>(telebib, tag);
  if (tag == "XET") return std::make_unique<TXET>(telebib, tag);
  if (tag == "XGH") return std::make_unique<TXGH>(telebib, tag);
  return std::make_unique<TSegment>(telebib, tag);
}

}  // namespace ruvala
