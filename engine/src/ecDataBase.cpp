#include "ecDataBase.h"

#include <edicom/EdiComCpp.h>

#include "ClassUtils.h"
#include "Format.h"
#include "Platform.h"
#include "Registry.h"
#include "ecScript.h"
#include "ecTrace.h"
#include "ecTypes.h"

namespace ruvala {

using common::Fmt;
using common::SameText;
using common::Trim;
using edicom::ComPtr;
using kalvix::IEdiMessage;
using kalvix::IEdiSegment;

static TSgmt Sgmt(IEdiSegment* s) { return TSgmt(ComPtr<IEdiSegment>(s)); }

// --- TControlItem -----------------------------------------------------------------------------

void TControlItem::Report(int sgmtNo, const TErrorCode& error) { _Errors->Add(sgmtNo, FKeyStr, error); }

std::string TControlItem::GetValue(IEdiSegment* s) const {
  TSgmt sg = Sgmt(s);
  return FCde.empty() ? sg.Find(FDe, FDePos) : sg.FindInComponent(FCde, FCdePos, FDe, FDePos);
}

bool TControlItem::GetRequiredValue(IEdiSegment* s, std::string& value) {
  value = GetValue(s);
  if (!Trim(value).empty()) return true;
  Report(GetDataSegmentNo(s), ErrorCode("E0007", DePosition(FCde, FCdePos, FDe, FDePos)));
  return false;
}

// Points the process's script host at this rule, the message and (for a condition) a segment.
static TScriptModule& PrepareHost(TControlItem* item, TValidator* validator, IEdiMessage* edi, IEdiSegment* segment,
                                  const std::string& mask) {
  TScriptModule& host = ScriptModule();
  // Without a trace that takes information, the host need not even format what it would say.
  common::TTrace* t = EngineTrace();
  if (t && t->Wants(common::ttInformation))
    host.OnTrace = [item](const std::string& msg) { TraceInfo(item, "<Script> %s", msg); };
  else
    host.OnTrace = nullptr;
  host.Validator = validator;
  host.Edi = edi;
  host.Segment = segment;
  host.X912 = mask;
  return host;
}

bool TControlItem::EvalMandatory() {
  if (FMandatoryCondition.empty()) return FMandatory;
  std::string ignored;
  return PrepareHost(this, FValidator, FEdi, nullptr, FX912).Execute(FMandatoryCondition, ignored);
}

void TControlItem::CheckCondition(IEdiSegment* s, const std::string& value) {
  if (FCondition.empty()) return;
  TScriptModule& host = PrepareHost(this, FValidator, FEdi, s, FX912);
  host.Script().SetGlobalConstant("Value", script::TValue(value));
  std::string msg;
  if (host.Execute(FCondition, msg)) return;
  if (msg.empty()) msg = FConditionErrorMessage;
  if (msg.empty()) msg = "Unspecified error";
  Report(GetDataSegmentNo(s), ErrorCode("E0006", msg));
}

void TControlItem::RunValidate(const std::string& x912) {
  if (!MatchesMask(x912, FX912)) {
    TraceInfo(this, "  Not check : Edi.x912 = \"%s\" <> Ctrl.x912 = \"%s\"", x912, FX912);
    return;
  }
  std::int64_t unit = StrToInt(x912);
  bool mandatory = EvalMandatory();

  std::vector<IEdiSegment*> mine;
  for (const auto& s : FSegments)
    if (GetDataUnitNo(s.Get()) == unit) mine.push_back(s.Get());

  if (mandatory && !mine.empty()) {
    for (IEdiSegment* s : mine) {
      std::string value;
      if (FDePos == 0)
        CheckCondition(s, "");
      else if (GetRequiredValue(s, value))
        CheckCondition(s, value);
    }
  } else if (mandatory) {
    std::string missing = (FErrorMessage.empty() ? std::string("Missing mandatory segment") : FErrorMessage) +
                          Fmt(" (unit \"%s\")", x912);
    if (FLevel == 1) {
      Report(-1, ErrorCode("E0008", missing));
    } else {
      for (const auto& p : FParents)
        if (GetDataUnitNo(p.Get()) == unit) Report(GetDataSegmentNo(p.Get()), ErrorCode("E0008", missing));
    }
  } else {
    // Optional rules read no value at level 1, whatever DePos says.
    for (IEdiSegment* s : mine) CheckCondition(s, FLevel == 1 ? std::string() : GetValue(s));
  }
}

void TControlItem::Validate(TValidator& validator, IEdiMessage* edi, TEdiErrorList& errors, TEdiWarningList& warnings,
                            const std::string& x912) {
  TraceInfo(this, "Validate(%s (id=%d) x912=%s)", FKeyStr, FOrdre, x912);
  TraceInfo(this, "  Segments count = %d", static_cast<int>(FSegments.size()));
  FEdi = edi;
  _Errors = &errors;
  FWarnings = &warnings;
  FValidator = &validator;
  try {
    RunValidate(x912);
  } catch (const std::exception& e) {
    throw std::runtime_error(Fmt("%s.Validate failed (%s)", "TControlItem", e.what()));
  }
}

// --- TControlTable ----------------------------------------------------------------------------

void TControlTable::Clear() {
  TraceInfo(this, "Clear");
  FItems.clear();
}

void TControlTable::Load(common::db::TDbConnection& connection, const std::string& tableName) {
  TraceInfo(this, "Load(%s)", tableName);
  FName = tableName;
  FItems.clear();
  auto rs = connection.OpenTable(tableName);
  for (; !rs->Eof(); rs->Next()) {
    auto item = std::make_unique<TControlItem>();
    item->FOrdre = rs->AsInteger("Ordre");
    item->FX912 = rs->AsString("X912");
    for (int i = 1; i <= 4; ++i) {
      TKeyItem& k = item->FKey[static_cast<std::size_t>(i)];
      k.Tag = Trim(rs->AsString(Fmt("L%dS", i)));
      k.Qual = Trim(rs->AsString(Fmt("L%dQ", i)));
      if (!k.Tag.empty()) item->FLevel = i;
    }
    for (int i = 1; i <= 4; ++i) {
      const TKeyItem& k = item->FKey[static_cast<std::size_t>(i)];
      if (k.Tag.empty()) continue;
      item->FKeyStr += k.Tag;
      if (!k.Qual.empty()) item->FKeyStr += "+" + k.Qual;
      item->FKeyStr += "'";
    }
    if (!item->FKeyStr.empty()) item->FKeyStr.pop_back();
    item->FCde = Trim(rs->AsString("Cde"));
    item->FCdePos = rs->AsInteger("CdePos");
    item->FDe = Trim(rs->AsString("De"));
    item->FDePos = rs->AsInteger("DePos");
    item->FMandatory = rs->AsBoolean("Mandatory");
    item->FMandatoryCondition = Trim(rs->AsString("MandatoryCondition"));
    item->FErrorMessage = Trim(rs->AsString("ErrorMessage"));
    item->FCondition = Trim(rs->AsString("Condition"));
    item->FConditionErrorMessage = Trim(rs->AsString("ConditionErrorMessage"));
    FItems.push_back(std::move(item));
  }
}

std::unique_ptr<TControlTable> TControlTable::Clone() const {
  auto copy = std::make_unique<TControlTable>();
  copy->FName = FName;
  copy->FItems.reserve(FItems.size());
  for (const auto& item : FItems) {
    auto c = std::make_unique<TControlItem>();
    c->FOrdre = item->FOrdre;
    c->FX912 = item->FX912;
    c->FKey = item->FKey;
    c->FKeyStr = item->FKeyStr;
    c->FCde = item->FCde;
    c->FCdePos = item->FCdePos;
    c->FDe = item->FDe;
    c->FDePos = item->FDePos;
    c->FMandatory = item->FMandatory;
    c->FMandatoryCondition = item->FMandatoryCondition;
    c->FErrorMessage = item->FErrorMessage;
    c->FCondition = item->FCondition;
    c->FConditionErrorMessage = item->FConditionErrorMessage;
    c->FLevel = item->FLevel;
    copy->FItems.push_back(std::move(c));
  }
  return copy;
}

void TControlTable::MatchSegment(IEdiSegment* sgmt, const std::string& sgmtKey, const TTabOleVariant& parents) {
  TraceInfo(this, "MatchSegment(%s)", sgmtKey);
  int level = Sgmt(sgmt).Level();
  // Tag and qualifier of the segment and its ancestors, as the walk would have them.
  std::vector<TKeyPiece> pieces(kMaxLevel + 1);
  for (int l = 2; l <= level && l <= kMaxLevel; ++l)
    if (IEdiSegment* s = l == level ? sgmt : parents[static_cast<std::size_t>(l)].Get()) {
      TSgmt sg = Sgmt(s);
      pieces[static_cast<std::size_t>(l)] = {sg.Tag(), sg.Qualifier()};
    }
  Match(
      [&](int l) {
        return l == level ? sgmt : l >= 0 && l <= kMaxLevel ? parents[static_cast<std::size_t>(l)].Get() : nullptr;
      },
      level, pieces);
}

void TControlTable::MatchSegment(const TSegmentAt& segmentAt, int level, const std::vector<TKeyPiece>& pieces) {
  // The key is built only for the trace line.
  if (common::TTrace* t = common::Trace(); t && t->Wants(common::ttInformation))
    TraceInfo(this, "MatchSegment(%s)", MakeSegmentKey(level, pieces[static_cast<std::size_t>(level)].Tag, pieces));
  Match(segmentAt, level, pieces);
}

void TControlTable::Match(const TSegmentAt& segmentAt, int level, const std::vector<TKeyPiece>& pieces) {
  int n = level - 1;
  if (n < 0 || n > 4) return;  // no rule has more than four path levels
  // Path level i is tree level i + 1.
  auto pathHolds = [&](const TControlItem& item, int last) {
    for (int i = 1; i <= last; ++i) {
      const TKeyItem& k = item.FKey[static_cast<std::size_t>(i)];
      const TKeyPiece& p = pieces[static_cast<std::size_t>(i) + 1];
      if (p.Tag != k.Tag || (!k.Qual.empty() && p.Qualifier != k.Qual)) return false;
    }
    return true;
  };

  for (const auto& item : FItems) {
    if (item->FLevel != n) continue;
    if (pathHolds(*item, n)) item->FSegments.emplace_back(segmentAt(level));
    if (n != 1 && pathHolds(*item, n - 1)) {
      IEdiSegment* parent = segmentAt(n);
      if (!parent) continue;
      bool seen = false;
      for (const auto& p : item->FParents) seen = seen || p.Get() == parent;
      if (!seen) item->FParents.emplace_back(parent);
    }
  }
}

void TControlTable::Validate(TValidator& validator, IEdiMessage* edi, TEdiErrorList& errors, TEdiWarningList& warnings,
                             const std::string& x912) {
  for (const auto& item : FItems) item->Validate(validator, edi, errors, warnings, x912);
}

// --- TControlTables ---------------------------------------------------------------------------

TControlTable& TControlTables::Get(const std::string& aTableName) {
  TraceInfo(this, "Get(%s)", aTableName);
  for (const auto& t : FItems)
    if (SameText(t->Name(), aTableName)) return *t;
  auto table = std::make_unique<TControlTable>();
  try {
    if (!FConnection) throw std::runtime_error("no connection");
    table->Load(*FConnection, aTableName);
  } catch (const std::exception&) {
    throw EDatabaseError(Fmt("Control Table \"%s\" not found", aTableName));
  }
  FItems.push_back(std::move(table));
  return *FItems.back();
}

void TControlTables::Clear() {
  TraceInfo(this, "Clear");
  FItems.clear();
}

// --- TRelations -------------------------------------------------------------------------------

TRelations::~TRelations() {
  // The cache borrows our connection.
  if (ControlTables().Connection() == FAdoConnection.get()) ControlTables().SetConnection(nullptr);
}

void TRelations::SetDbName(const std::string& value) {
  TraceInfo(this, "SetDbName(%s)", value);
  if (!common::FileExists(value)) throw EDatabaseError(Fmt("DB Not found (%s)", value));
  FDbName = value;
  try {
    FAdoConnection = common::db::OpenConnection(
        Fmt("Provider=Microsoft.Jet.OLEDB.4.0;Password=\"\";Data Source=\"%s\";Persist Security Info=True", value));
    FVersion.clear();
    std::string version = GetVersion();
    TraceInfo(this, "Version = %s", version);
    // Tables cached from another database must not answer for this one.
    ControlTables().Clear();
    ControlTables().SetConnection(FAdoConnection.get());
    Load();
  } catch (const std::exception& e) {
    // Half-loaded relations would apply some tables and silently skip others.
    FItems.clear();
    throw EDatabaseError(Fmt("Open DB \"%s\" failed (%s)", FDbName, e.what()));
  }
}

std::string TRelations::GetVersion() {
  TraceInfo(this, "GetVersion");
  if (FVersion.empty() && FAdoConnection) {
    auto rs = FAdoConnection->OpenTable("Version");
    if (!rs->Eof()) FVersion = rs->AsString("Version");
  }
  return FVersion;
}

void TRelations::Load() {
  TraceInfo(this, "Load");
  FItems.clear();
  auto rs = FAdoConnection->OpenTable("RELATIONS");
  for (; !rs->Eof(); rs->Next()) {
    TRelationItem item;
    item.FX910 = rs->AsString("X910");
    std::string x912 = Trim(rs->AsString("X912"));
    item.FX912 = x912.empty() || x912 == "*" ? 0 : static_cast<std::int32_t>(StrToInt(x912));
    item.FX916 = rs->AsString("X916");
    item.FX925 = rs->AsString("X925");
    item.FTableName = rs->AsString("Table");
    item.FControlTable = &ControlTables().Get(item.FTableName);
    FItems.push_back(std::move(item));
  }
}

void TRelations::Clear() {
  TraceInfo(this, "Clear()");
  FItems.clear();
}

TRelationItem* TRelations::Find(IEdiMessage* edi) {
  edicom::Variant v;
  if (!edi || edicom::FAILED(edi->GetFirstSgmt(&v))) return nullptr;
  ComPtr<IEdiSegment> first = SegmentFromVariant(v);
  if (!first) return nullptr;
  TSgmt f(first);
  std::string x925 = f.Find("X925", 1);
  std::string x910, x912, x916;
  if (ComPtr<IEdiSegment> second = f.Next()) {
    TSgmt s(second);
    x910 = s.Find("X910", 1);
    x912 = s.Find("X912", 1);
    x916 = s.Find("X916", 1);
  }
  for (TRelationItem& r : FItems) {
    if (r.FX910 != "*" && r.FX910 != x910) continue;
    if (r.FX912 != 0 && r.FX912 != StrToInt(x912)) continue;
    if (r.FX916 != "*" && r.FX916 != x916) continue;
    if (r.FX925 != "*" && r.FX925 != x925) continue;
    return &r;
  }
  return nullptr;
}

// --- process-wide objects ---------------------------------------------------------------------

TControlTables& ControlTables() {
  static TControlTables tables;
  return tables;
}

TRelations& Relations() {
  ControlTables();  // constructed first, so destroyed after the relations that borrow from it
  static TRelations relations;
  return relations;
}

void InitRelations() {
  const char* key = TTelebib::kRegistryKey;
  common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
  if (!reg.OpenKeyReadOnly(key)) {
    EdiShowErrorBox(Fmt("Unable to open registry key \"%s\"", key).c_str());
    return;
  }
  if (!reg.ValueExists("Referential")) {
    EdiShowErrorBox(Fmt("Invalid registry settings for \"%s, %s\"", key, "Referential").c_str());
    return;
  }
  std::string folder = common::ExtractFilePath(reg.ReadString("Referential"));
  std::string path = folder + "Ruvala.mdb";
  // The shipped sample keeps its engine database as a SQLite file of its own name.
  if (!common::FileExists(path) && common::FileExists(folder + "Ruvala.db")) path = folder + "Ruvala.db";
  Relations().SetDbName(path);
}

}  // namespace ruvala
