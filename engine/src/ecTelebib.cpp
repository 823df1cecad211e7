#include "ecTelebib.h"

#include <edicom/EdiCom.h>

#include <cstring>
#include <stdexcept>
#include <tuple>

#include "Format.h"
#include "Registry.h"
#include "ecTrace.h"
#include "ecTypes.h"

namespace ruvala {

using common::Fmt;
using common::db::TDbRecordset;

namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

// The place of a tag of three capitals in FSegmentByTag, or -1.
int TagSlot(std::string_view tag) {
  if (tag.size() != 3) return -1;
  int slot = 0;
  for (char c : tag) {
    if (c < 'A' || c > 'Z') return -1;
    slot = slot * 26 + (c - 'A');
  }
  return slot;
}

template <class T>
const T* At(const std::vector<T>& rows, const TCodeIndex& idx, const std::string& key) {
  std::size_t at = idx.Find(key);
  return at == TCodeIndex::npos ? nullptr : &rows[at];
}

// Field-by-field equality of two keys (tuples of texts).
template <class Tuple>
bool SameKey(const Tuple& a, const Tuple& b) {
  return std::apply(
      [&](const auto&... x) { return std::apply([&](const auto&... y) { return (SameBytes(x, y) && ...); }, b); }, a);
}

// Indexes rows by the fields that key(row) returns as a tuple of texts.
template <class T, class KeyOf>
void BuildIndex(FirstRowIndex& idx, const std::vector<T>& rows, KeyOf key) {
  idx.Build(
      rows.size(), [&](std::size_t i) { return std::apply([](auto... f) { return HashFields(f...); }, key(rows[i])); },
      [&](std::size_t i, std::size_t j) { return SameKey(key(rows[i]), key(rows[j])); });
}

// The first row whose key(row) equals the arguments, or nullptr.
template <class T, class KeyOf, class... F>
const T* Find(const FirstRowIndex& idx, const std::vector<T>& rows, KeyOf key, F... fields) {
  const auto wanted = std::tuple(fields...);
  std::size_t pos = idx.Find(HashFields(fields...), [&](std::size_t i) { return SameKey(key(rows[i]), wanted); });
  return pos == FirstRowIndex::npos ? nullptr : &rows[pos];
}

// StripLeadingZeros without a copy, for lookups.
std::string_view WithoutLeadingZeros(std::string_view text) {
  std::size_t i = text.find_first_not_of('0');
  return i == std::string_view::npos ? std::string_view("0") : text.substr(i);
}

// N_Value compares as a number: 0 and -0 hash alike; NaN equals nothing, so it is never found.
std::string NumberBits(double v) {
  double n = v == 0 ? 0.0 : v;
  return std::string(reinterpret_cast<const char*>(&n), sizeof n);
}

auto ValeurKey(const TValeurItem& r) { return std::tuple<std::string_view, std::string_view>(r.FKey, r.FValeur); }
auto ValeurSpecKey(const TValeurSpecItem& r) {
  return std::tuple<std::string_view, std::string_view, std::string_view>(r.FKey, r.FCode, r.FValeur);
}
auto DeQualifiantKey(const TDeQualifiantItem& r) {
  return std::tuple<std::string_view, std::string_view>(r.FKey, r.FQualifiant);
}
auto PostalKey(const TPostalItem& r) { return std::tuple<std::string_view, std::string_view>(r.FZipCode, r.FKey); }
auto FormulaKey(const TFormulaItem& r) {
  return std::tuple<std::string_view, std::string_view, std::string_view>(r.FOca, r.FKey, r.FFormula);
}
auto ProductKey(const TProductItem& r) { return std::tuple<std::string_view, std::string_view>(r.FKey, r.FProduct); }
auto CodeSpecKey(const TCodeSpecItem& r) { return std::tuple<std::string_view, std::string_view>(r.FKey, r.FCode); }

void ForEachRow(common::db::TDbConnection& db, const char* sql, const std::function<void(const TDbRecordset&)>& f) {
  std::unique_ptr<TDbRecordset> rs = db.Query(sql);
  for (; !rs->Eof(); rs->Next()) f(*rs);
}

}  // namespace

std::string StripLeadingZeros(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == '0') ++i;
  return i == text.size() ? std::string("0") : std::string(text.substr(i));
}

std::int64_t StrToInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;  // leading blanks are read over, as a number reader does
  std::size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = i;
  std::int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > 2147483648LL) break;
  }
  bool neg = start < text.size() && text[start] == '-';
  if (i == digits || i != text.size() || v > (neg ? 2147483648LL : 2147483647LL))
    throw std::invalid_argument(Fmt("'%s' is not a valid integer value", text));
  return neg ? -v : v;
}

const TFormatSettings& FormatSettings() {
  static const TFormatSettings settings;
  return settings;
}

// --- qualifier lists -------------------------------------------------------------------------

void TDeQualifiant::Add(const TDeQualifiantItem& item) {
  std::size_t pos = FItems.size();
  FItems.push_back(item);
  FByText.emplace(item.FQualifiant, pos);
  try {
    FByNumber.emplace(StrToInt(item.FQualifiant), pos);
  } catch (const std::invalid_argument&) {
    if (FFirstNonInteger == SIZE_MAX) FFirstNonInteger = pos;
  }
}

bool TDeQualifiant::IsValid(std::string_view value, bool numeric, TDate msgDate, bool& obsolete) const {
  obsolete = false;
  std::size_t pos = SIZE_MAX;
  if (numeric) {
    if (FItems.empty()) return false;
    std::int64_t v = StrToInt(value);
    auto it = FByNumber.find(v);
    if (it != FByNumber.end()) pos = it->second;
    // A scan in load order would fail on an unreadable qualifier met before the match.
    if (FFirstNonInteger != SIZE_MAX && (pos == SIZE_MAX || FFirstNonInteger < pos))
      StrToInt(FItems[FFirstNonInteger].FQualifiant);
  } else {
    std::size_t at = FByText.Find(value);
    if (at != TCodeIndex::npos) pos = at;
  }
  if (pos == SIZE_MAX) return false;
  obsolete = IsObsolete(FItems[pos].FDateDel, msgDate);
  return !obsolete;
}

bool TDomainCodeItem::IsDomainValid(const std::string& domain) const {
  std::string d = StripLeadingZeros(domain);
  for (const std::string& x : FDomain)
    if (x == d) return true;
  return false;
}

// --- TTelebib ---------------------------------------------------------------------------------

TTelebib::TTelebib() { FormatSettings(); }
TTelebib::~TTelebib() = default;

void TTelebib::LoadSettings() {
  TraceInfo(this, "LoadSettings()");
  common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
  if (!reg.OpenKeyReadOnly(kRegistryKey)) {
    EdiShowErrorBox(Fmt("Unable to open registry key \"%s\"", kRegistryKey).c_str());
    return;
  }
  bool useSql = false;
  if (reg.ValueExists("Referential.Sql")) {
    try {
      useSql = reg.ReadBool("Referential.Sql");
    } catch (const common::ERegistryException&) {
      useSql = false;
    }
  }
  if (useSql) {
    std::string user = reg.ReadString("Referential.SqlUserid");
    std::string password = reg.ReadString("Referential.SqlPassword");
    std::string server = reg.ReadString("Referential.SqlServer");
    if (user.empty() || server.empty()) throw std::runtime_error("Invalid registry settings");
    try {
      SqlConnect(user, password, server);
      FInitialized = true;
    } catch (const std::exception& e) {
      EdiShowErrorBox(Fmt("SqlConnect failed (%s)", e.what()).c_str());
    }
  } else if (reg.ValueExists("Referential")) {
    SetAccessDbName(reg.ReadString("Referential"));
    FInitialized = true;
  } else {
    EdiShowErrorBox(Fmt("Invalid registry settings for \"%s, %s\"", kRegistryKey, "Referential").c_str());
  }
}

void TTelebib::SetAccessDbName(const std::string& path) {
  TraceInfo(this, "SetAccessDbName(%s)", path);
  FAccessDbName = path;
  try {
    FAccessDb.reset();
    FAccessDb = common::db::OpenConnection(
        Fmt("Provider=Microsoft.Jet.OLEDB.4.0;Password=\"\";Data Source=\"%s\";Persist Security Info=True", path));
    LoadFromAccess();
  } catch (const std::exception& e) {
    throw std::runtime_error(Fmt("Open DB \"%s\" failed (%s)", path, e.what()));
  }
}

static std::string ReplaceNoCase(std::string text, std::string_view what, std::string_view with) {
  std::string upperWhat = Upper(what);
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (i + what.size() <= text.size() && Upper(std::string_view(text).substr(i, what.size())) == upperWhat) {
      out.append(with);
      i += what.size();
    } else {
      out.push_back(text[i++]);
    }
  }
  return out;
}

// A setting as a value of the connection text: quoted when it holds a character that would end
// or open a value there, so that a password with ";" reaches the server whole and a user name
// cannot add entries to the text.
static std::string ConnectionValue(const std::string& v) {
  bool plain = v.find_first_of(";\"'") == std::string::npos && (v.empty() || (v.front() != ' ' && v.back() != ' '));
  if (plain) return v;
  std::string out = "\"";
  for (char c : v) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

void TTelebib::SqlConnect(const std::string& userId, const std::string& password, const std::string& server) {
  TraceInfo(this, "SqlConnect(%s, %s)", userId, server);
  FUseSql = true;
  FSqlUserid = userId;
  FSqlPassword = password;
  FSqlServer = server;
  FAccessDbName.clear();
  try {
    std::string text =
        "Provider=SQLOLEDB.1;Password=%password;Persist Security Info=True;User ID=%userid;"
        "Initial Catalog=REFERENTIEL;Data Source=%server";
    text = ReplaceNoCase(text, "%userid", ConnectionValue(userId));
    text = ReplaceNoCase(text, "%password", ConnectionValue(password));
    text = ReplaceNoCase(text, "%server", ConnectionValue(server));
    FAccessDb.reset();
    FAccessDb = common::db::OpenConnection(text);
    LoadFromSql();
  } catch (const std::exception& e) {
    std::string why = e.what();
    // The password never leaves the engine, whatever the driver put in its message.
    if (!password.empty())
      for (std::size_t p; (p = why.find(password)) != std::string::npos;) why.replace(p, password.size(), "***");
    throw std::runtime_error(Fmt("SqlConnect failed (%s)", why));
  }
}

void TTelebib::LoadFromAccess() {
  TraceInfo(this, "LoadFromAccess()");
  LoadTables(false);
}

void TTelebib::LoadFromSql() {
  TraceInfo(this, "LoadFromSql()");
  LoadTables(true);
  TraceInfo(this, "Version : %s", GetVersion());
}

void TTelebib::Reload() {
  TraceInfo(this, "Reload()");
  if (FUseSql)
    LoadFromSql();
  else
    LoadFromAccess();
}

void TTelebib::ClearTables() {
  FSegmentLayout.clear();
  FSegments.clear();
  FCdeLayout.clear();
  FCde.clear();
  FDeQualifiant.clear();
  FDe.clear();
  FValeurs.clear();
  FCodeTelebib.clear();
  FValeurTelebib.clear();
  FCodeSpec.clear();
  FValeursSpec.clear();
  FCodeIndex.clear();
  FValeurIndex.clear();
  FPostal.clear();
  FGuaranteeDomain.clear();
  FGuarantee.clear();
  FFormula.clear();
  FProduct.clear();
  FTypePoliceDomain.clear();
  FTypePolice.clear();
  FRiskObjectDomain.clear();
  FRiskObject.clear();
  FOca.clear();
  for (TIndex* idx :
       {&FSegmentIdx, &FDeIdx, &FCdeIdx, &FGuaranteeIdx, &FTypePoliceIdx, &FRiskObjectIdx, &FCodeIndexIdx})
    idx->clear();
  for (FirstRowIndex* idx : {&FValeurIdx, &FValeurSpecIdx, &FDeQualifiantIdx, &FPostalIdx, &FFormulaIdx, &FProductIdx,
                             &FCodeSpecIdx, &FValeurIndexIdx})
    idx->Clear();
  FValeurCodes.clear();
  FOcaUpper.clear();
  FSegmentByTag.clear();
}

void TTelebib::LoadTables(bool /*sql*/) {
  if (!FAccessDb) throw std::runtime_error("No connection");
  common::db::TDbConnection& db = *FAccessDb;
  ClearTables();

  // 1-2: segments and their layouts (layout rows belong to a tag ignoring case).
  ForEachRow(db, "Select SEGMENT, CDE, DE, Obligatoire, Occurrence from A_SEGMENT_LAYOUT order by Segment, Ordre",
             [&](const TDbRecordset& r) {
               FSegmentLayout.push_back({r.AsString("SEGMENT"), r.AsString("CDE"), r.AsString("DE"),
                                         r.AsBoolean("Obligatoire"), r.AsInteger("Occurrence")});
             });
  std::unordered_map<std::string, std::vector<std::size_t>> layoutByTag;
  for (std::size_t i = 0; i < FSegmentLayout.size(); ++i) layoutByTag[Upper(FSegmentLayout[i].FKey)].push_back(i);
  ForEachRow(db, "Select Segment, DE from A_SEGMENT order by SEGMENT", [&](const TDbRecordset& r) {
    std::string tag = r.AsString("Segment");
    std::unique_ptr<TSegment> s = CreateSegmentChecker(*this, tag);
    s->FDE = r.AsString("DE");
    auto it = layoutByTag.find(Upper(tag));
    if (it != layoutByTag.end())
      for (std::size_t i : it->second) s->FLayout.push_back(FSegmentLayout[i]);
    s->SetIndex(FSegments.size());
    FSegmentIdx.emplace(tag, FSegments.size());
    FSegments.push_back(std::move(s));
  });

  FSegmentByTag.assign(std::size_t{26} * 26 * 26, nullptr);
  for (const auto& checker : FSegments)
    if (int slot = TagSlot(checker->FTag); slot >= 0 && !FSegmentByTag[static_cast<std::size_t>(slot)])
      FSegmentByTag[static_cast<std::size_t>(slot)] = checker.get();

  // 3-4: composites.
  ForEachRow(db, "Select CDE, DE, Obligatoire, Occurrence from A_CDE_LAYOUT order by Cde, Ordre",
             [&](const TDbRecordset& r) {
               FCdeLayout.push_back(
                   {r.AsString("CDE"), r.AsString("DE"), r.AsBoolean("Obligatoire"), r.AsInteger("Occurrence")});
             });
  std::unordered_map<std::string, std::vector<std::size_t>> cdeLayout;
  for (std::size_t i = 0; i < FCdeLayout.size(); ++i) cdeLayout[Upper(FCdeLayout[i].FKey)].push_back(i);
  ForEachRow(db, "Select CDE from A_CDE order by Cde", [&](const TDbRecordset& r) {
    TCdeItem c;
    c.FKey = r.AsString("CDE");
    auto it = cdeLayout.find(Upper(c.FKey));
    if (it != cdeLayout.end())
      for (std::size_t i : it->second) {
        c.FLayout.push_back(FCdeLayout[i]);
        if (FCdeLayout[i].FDe == "X901") c.CanHaveSpecificValue = true;
      }
    FCdeIdx.emplace(c.FKey, FCde.size());
    FCde.push_back(std::move(c));
  });

  // 5-6: data elements and their qualifiers.
  ForEachRow(
      db, "Select DE, Version, Qualifiant, DatDel from A_DE_QUALIFIANT order by DE, Version, Qualifiant",
      [&](const TDbRecordset& r) {
        TDeQualifiantItem q{r.AsString("DE"), r.AsInteger("Version"), r.AsString("Qualifiant"), r.AsDate("DatDel")};
        FDeQualifiant.push_back(std::move(q));
      });
  BuildIndex(FDeQualifiantIdx, FDeQualifiant, DeQualifiantKey);
  std::unordered_map<std::string, std::vector<std::size_t>> qualByDe;
  for (std::size_t i = 0; i < FDeQualifiant.size(); ++i) qualByDe[Upper(FDeQualifiant[i].FKey)].push_back(i);
  ForEachRow(db, "Select DE, Nature, Lgr, PreVal, PreDon from A_DE order by De", [&](const TDbRecordset& r) {
    TDeItem d;
    d.FKey = r.AsString("DE");
    d.FNature = r.AsInteger("Nature");
    d.FLength = r.AsInteger("Lgr");
    d.FPreVal = r.AsBoolean("PreVal");
    d.FPreDon = r.AsBoolean("PreDon");
    auto it = qualByDe.find(Upper(d.FKey));
    if (it != qualByDe.end())
      for (std::size_t i : it->second) d.FQualifiant.Add(FDeQualifiant[i]);
    FDeIdx.emplace(d.FKey, FDe.size());
    FDe.push_back(std::move(d));
  });

  // 7-13: code lists, insurer-specific lists, indexes.
  ForEachRow(db, "Select Code, Valeur, DatDel from VALEUR order by Code, Valeur", [&](const TDbRecordset& r) {
    TValeurItem v{r.AsString("Code"), r.AsString("Valeur"), r.AsDate("DatDel")};
    FValeurCodes.emplace(v.FKey, 0);
    FValeurs.push_back(std::move(v));
  });
  BuildIndex(FValeurIdx, FValeurs, ValeurKey);
  ForEachRow(db, "Select Code, Nature, Lgr, PreVal from CODETELEBIB Order by Code", [&](const TDbRecordset& r) {
    FCodeTelebib.push_back({r.AsString("Code"), r.AsInteger("Nature"), r.AsInteger("Lgr"), r.AsBoolean("Preval")});
  });
  ForEachRow(db, "Select Code, Version, Valeur from VALEURTELEBIB Order by Code, Version, Valeur",
             [&](const TDbRecordset& r) {
               FValeurTelebib.push_back({r.AsString("Code"), r.AsInteger("Version"), r.AsString("Valeur")});
             });
  ForEachRow(db, "Select Ident, Code, Nature, Lgr, PreVal from CODESPEC Order by Ident, Code",
             [&](const TDbRecordset& r) {
               TCodeSpecItem c{r.AsString("Ident"), r.AsString("Code"), r.AsInteger("Nature"), r.AsInteger("Lgr"),
                               r.AsBoolean("PreVal")};
               FCodeSpec.push_back(std::move(c));
             });
  BuildIndex(FCodeSpecIdx, FCodeSpec, CodeSpecKey);
  ForEachRow(db, "Select Ident, Code, Version, Valeur, DatDel from VALEURSPEC order by Ident, Code, Version, Valeur",
             [&](const TDbRecordset& r) {
               TValeurSpecItem v{r.AsString("Ident"), r.AsString("Code"), r.AsInteger("Version"), r.AsString("Valeur"),
                                 r.AsDate("DatDel")};
               FValeursSpec.push_back(std::move(v));
             });
  BuildIndex(FValeurSpecIdx, FValeursSpec, ValeurSpecKey);
  ForEachRow(db, "Select C_Index, C_Company, DatDel from Index_Code order by C_Index", [&](const TDbRecordset& r) {
    TCodeIndexItem c{r.AsString("C_Index"), r.AsString("C_Company"), r.AsDate("DatDel")};
    FCodeIndexIdx.emplace(c.FKey, FCodeIndex.size());
    FCodeIndex.push_back(std::move(c));
  });
  ForEachRow(db, "Select C_index, D_index, N_Value from Index_Value order by C_Index, D_Index",
             [&](const TDbRecordset& r) {
               FValeurIndex.push_back({r.AsString("C_index"), r.AsDate("D_index"), r.AsFloat("N_Value")});
             });
  FValeurIndexIdx.Build(
      FValeurIndex.size(),
      [&](std::size_t i) { return HashFields(FValeurIndex[i].FKey, NumberBits(FValeurIndex[i].FValue)); },
      [&](std::size_t i, std::size_t j) {
        return FValeurIndex[i].FKey == FValeurIndex[j].FKey && FValeurIndex[i].FValue == FValeurIndex[j].FValue;
      });

  // 14: postal codes.
  ForEachRow(db, "Select C_Country, ZipCode, DatDel from POSTAL order by C_Country, ZipCode, City",
             [&](const TDbRecordset& r) {
               TPostalItem p{r.AsString("C_Country"), r.AsString("ZipCode"), r.AsDate("Datdel")};
               FPostal.push_back(std::move(p));
             });
  BuildIndex(FPostalIdx, FPostal, PostalKey);

  // 15-22: guarantees, formulas, products, policy types, risk objects. Domain lists by exact code.
  auto loadDomains = [&](const char* sql, const char* codeColumn, std::vector<TDomainItem>& rows) {
    ForEachRow(db, sql, [&](const TDbRecordset& r) {
      rows.push_back({r.AsString("C_Domain"), r.AsString(codeColumn)});
    });
  };
  auto domainsOf = [](const std::vector<TDomainItem>& rows) {
    std::unordered_map<std::string, std::vector<std::string>> m;
    for (const TDomainItem& d : rows) m[d.FCode].push_back(d.FKey);
    return m;
  };
  loadDomains("Select C_Domain, C_Guarantee from Guarantee_Domain", "C_Guarantee", FGuaranteeDomain);
  {
    auto domains = domainsOf(FGuaranteeDomain);
    ForEachRow(db, "Select C_Guarantee, C_Origin, DatDel from Guarantee", [&](const TDbRecordset& r) {
      TGuaranteeItem g{r.AsString("C_Guarantee"), r.AsString("C_Origin"), r.AsDate("DatDel"), {}};
      if (auto it = domains.find(g.FKey); it != domains.end()) g.FDomain = it->second;
      FGuaranteeIdx.emplace(g.FKey, FGuarantee.size());
      FGuarantee.push_back(std::move(g));
    });
  }
  ForEachRow(db,
             "Select C_Guarantee, C_Company, C_Formula, D_Start, D_End, DatDel from FORMULA order by C_Guarantee, "
             "C_Company, C_Formula",
             [&](const TDbRecordset& r) {
               TFormulaItem f{r.AsString("C_Guarantee"), r.AsString("C_Company"), r.AsString("C_Formula"),
                              r.AsDate("D_Start"),       r.AsDate("D_End"),       r.AsDate("DatDel")};
               FFormula.push_back(std::move(f));
             });
  BuildIndex(FFormulaIdx, FFormula, FormulaKey);
  ForEachRow(
      db,
      "Select C_Company, C_Product, C_Domain, D_Start, D_End, DatDel from PRODUCT order by C_Company, C_Product, "
      "C_Domain",
      [&](const TDbRecordset& r) {
        TProductItem p{r.AsString("C_Company"), r.AsString("C_Product"), r.AsString("C_Domain"),
                       r.AsDate("D_Start"),     r.AsDate("D_End"),       r.AsDate("DatDel")};
        FProduct.push_back(std::move(p));
      });
  BuildIndex(FProductIdx, FProduct, ProductKey);
  loadDomains("Select C_Domain, C_Type from TypePolicy_Domain order by C_Domain, C_Type", "C_Type", FTypePoliceDomain);
  {
    auto domains = domainsOf(FTypePoliceDomain);
    ForEachRow(db, "Select C_Type, DatDel from TypePolicy order by C_Type", [&](const TDbRecordset& r) {
      TTypePoliceItem t{r.AsString("C_Type"), "", r.AsDate("DatDel"), {}};
      if (auto it = domains.find(t.FKey); it != domains.end()) t.FDomain = it->second;
      FTypePoliceIdx.emplace(t.FKey, FTypePolice.size());
      FTypePolice.push_back(std::move(t));
    });
  }
  loadDomains("Select C_Domain, C_Rod from Rod_Domain order by C_Domain, C_Rod", "C_Rod", FRiskObjectDomain);
  {
    auto domains = domainsOf(FRiskObjectDomain);
    ForEachRow(db, "Select C_Rod, DatDel from Rod order by C_Rod", [&](const TDbRecordset& r) {
      TRiskObjectItem o{r.AsString("C_Rod"), "", r.AsDate("DatDel"), {}};
      if (auto it = domains.find(o.FKey); it != domains.end()) o.FDomain = it->second;
      FRiskObjectIdx.emplace(o.FKey, FRiskObject.size());
      FRiskObject.push_back(std::move(o));
    });
  }

  // 23: insurer codes, compared without leading zeros and ignoring case.
  ForEachRow(db, "Select CodeOca from CODEOCA", [&](const TDbRecordset& r) {
    FOca.push_back(StripLeadingZeros(r.AsString("CodeOca")));
    FOcaUpper.insert(Upper(FOca.back()));
  });
}

std::string TTelebib::ReadVersion() {
  if (!FAccessDb) return "";
  std::unique_ptr<TDbRecordset> rs;
  if (FUseSql)
    rs =
        FAccessDb->Query(FAccessDb->IsSqlServer() ? "Select top 1 Version From version_referentiel order by id desc"
                                                  : "Select Version From version_referentiel order by id desc limit 1");
  else
    rs = FAccessDb->OpenTable("version_referentiel");
  if (rs->Eof()) return "";
  std::string v = rs->AsString("Version");
  auto part = [&](std::size_t from, std::size_t n) { return from < v.size() ? v.substr(from, n) : std::string(); };
  return part(0, 1) + "." + part(1, 2) + "." + part(3, 3) + "." + part(6, 2);
}

std::string TTelebib::GetVersion() {
  TraceInfo(this, "GetVersion()");
  if (FVersion.empty()) FVersion = ReadVersion();
  return FVersion;
}

bool TTelebib::VersionHasChanged() {
  std::string before = GetVersion();
  FVersion.clear();
  return GetVersion() != before;
}

TSegment& TTelebib::GetSegment(const std::string& tag) const {
  TraceInfo(this, "GetSegment(%s)", tag);
  std::size_t at = FSegmentIdx.Find(tag);
  if (at == TCodeIndex::npos) throw std::runtime_error(Fmt("Segment \"%s\" not found", tag));
  return *FSegments[at];
}

const TDeItem& TTelebib::GetDe(const std::string& de) const {
  TraceInfo(this, "GetDe(%s)", de);
  const TDeItem* d = At(FDe, FDeIdx, de);
  if (!d) throw std::runtime_error(Fmt("De \"%s\" not found", de));
  return *d;
}

const TCdeItem& TTelebib::GetCDe(const std::string& cde) const {
  TraceInfo(this, "GetCDe(%s)", cde);
  const TCdeItem* c = At(FCde, FCdeIdx, cde);
  if (!c) throw std::runtime_error(Fmt("Cde \"%s\" not found", cde));
  return *c;
}

const TDeItem* TTelebib::FindDe(std::string_view de) const {
  std::size_t at = FDeIdx.Find(de);
  return at == TCodeIndex::npos ? nullptr : &FDe[at];
}

const TCdeItem* TTelebib::FindCDe(std::string_view cde) const {
  std::size_t at = FCdeIdx.Find(cde);
  return at == TCodeIndex::npos ? nullptr : &FCde[at];
}

TSegment* TTelebib::FindSegment(std::string_view tag) const {
  if (int slot = TagSlot(tag); slot >= 0 && !FSegmentByTag.empty())
    return FSegmentByTag[static_cast<std::size_t>(slot)];
  std::size_t at = FSegmentIdx.Find(tag);
  return at == TCodeIndex::npos ? nullptr : FSegments[at].get();
}

const TValeurItem* TTelebib::GetValeur(std::string_view code, std::string_view valeur, TDate msgDate,
                                       bool& obsolete) const {
  TraceInfo(this, "GetValeur(%s, %s)", code, valeur);
  obsolete = false;
  const TValeurItem* v = Find(FValeurIdx, FValeurs, ValeurKey, std::string_view(code), std::string_view(valeur));
  if (v && IsObsolete(v->FDateDel, msgDate)) {
    obsolete = true;
    return nullptr;
  }
  return v;
}

bool TTelebib::HasListOfValue(std::string_view code) const {
  TraceInfo(this, "HasListOfValue(%s)", code);
  return FValeurCodes.Find(code) != TCodeIndex::npos;
}

const TValeurSpecItem* TTelebib::GetValeurSpec(std::string_view valeur, std::string_view code, std::string_view oca,
                                               TDate msgDate, bool& obsolete) const {
  TraceInfo(this, "GetValeurSpec(%s, %s, %s)", valeur, code, oca);
  obsolete = false;
  const TValeurSpecItem* v = Find(FValeurSpecIdx, FValeursSpec, ValeurSpecKey, std::string_view(oca),
                                  std::string_view(code), std::string_view(valeur));
  if (v && IsObsolete(v->FDateDel, msgDate)) {
    obsolete = true;
    return nullptr;
  }
  return v;
}

const TDeQualifiantItem* TTelebib::GetDeQualifiant(std::string_view de, std::string_view value) const {
  TraceInfo(this, "GetDeQualifiant(%s, %s)", de, value);
  return Find(FDeQualifiantIdx, FDeQualifiant, DeQualifiantKey, std::string_view(de), std::string_view(value));
}

const TPostalItem* TTelebib::GetPostal(std::string_view zipCode, std::string_view country) const {
  TraceInfo(this, "GetPostal(%s, %s)", zipCode, country);
  return Find(FPostalIdx, FPostal, PostalKey, std::string_view(zipCode), std::string_view(country));
}

const TGuaranteeItem* TTelebib::GetGuarantee(const std::string& guarantee) const {
  TraceInfo(this, "GetGuarantee(%s)", guarantee);
  return At(FGuarantee, FGuaranteeIdx, guarantee);
}

const TFormulaItem* TTelebib::GetFormula(const std::string& oca, const std::string& guarantee,
                                         const std::string& formula) const {
  TraceInfo(this, "GetFormula(%s, %s, %s)", oca, guarantee, formula);
  return Find(FFormulaIdx, FFormula, FormulaKey, WithoutLeadingZeros(oca), std::string_view(guarantee),
              std::string_view(formula));
}

const TProductItem* TTelebib::GetProduct(const std::string& oca, const std::string& product) const {
  TraceInfo(this, "GetProduct(%s, %s)", oca, product);
  return Find(FProductIdx, FProduct, ProductKey, WithoutLeadingZeros(oca), std::string_view(product));
}

const TTypePoliceItem* TTelebib::GetTypePolice(const std::string& typePolice) const {
  TraceInfo(this, "GetTypePolice(%s)", typePolice);
  return At(FTypePolice, FTypePoliceIdx, typePolice);
}

const TRiskObjectItem* TTelebib::GetRiskObject(const std::string& riskObject) const {
  TraceInfo(this, "GetRiskObject(%s)", riskObject);
  return At(FRiskObject, FRiskObjectIdx, riskObject);
}

bool TTelebib::OcaIsValid(const std::string& oca) const {
  TraceInfo(this, "OcaIsValid(%s)", oca);
  return FOcaUpper.count(Upper(StripLeadingZeros(oca))) != 0;
}

const TCodeSpecItem* TTelebib::GetCodeSpec(const std::string& oca, const std::string& code) const {
  TraceInfo(this, "GetCodeSpec(%s, %s)", oca, code);
  return Find(FCodeSpecIdx, FCodeSpec, CodeSpecKey, std::string_view(oca), std::string_view(code));
}

const TCodeIndexItem* TTelebib::GetCodeIndex(const std::string& index) const {
  TraceInfo(this, "GetCodeIndex(%s)", index);
  return At(FCodeIndex, FCodeIndexIdx, index);
}

const TValeurIndexItem* TTelebib::GetValeurIndex(const std::string& index, double value) const {
  TraceInfo(this, "GetValeurIndex(%s, %s)", index, value);
  std::size_t pos = FValeurIndexIdx.Find(HashFields(index, NumberBits(value)), [&](std::size_t i) {
    return FValeurIndex[i].FKey == index && FValeurIndex[i].FValue == value;
  });
  return pos == FirstRowIndex::npos ? nullptr : &FValeurIndex[pos];
}

std::vector<std::pair<std::string, std::size_t>> TTelebib::TableCounts() const {
  return {{"A_SEGMENT_LAYOUT", FSegmentLayout.size()},
          {"A_SEGMENT", FSegments.size()},
          {"A_CDE_LAYOUT", FCdeLayout.size()},
          {"A_CDE", FCde.size()},
          {"A_DE_QUALIFIANT", FDeQualifiant.size()},
          {"A_DE", FDe.size()},
          {"VALEUR", FValeurs.size()},
          {"CODETELEBIB", FCodeTelebib.size()},
          {"VALEURTELEBIB", FValeurTelebib.size()},
          {"CODESPEC", FCodeSpec.size()},
          {"VALEURSPEC", FValeursSpec.size()},
          {"Index_Code", FCodeIndex.size()},
          {"Index_Value", FValeurIndex.size()},
          {"POSTAL", FPostal.size()},
          {"Guarantee_Domain", FGuaranteeDomain.size()},
          {"Guarantee", FGuarantee.size()},
          {"FORMULA", FFormula.size()},
          {"PRODUCT", FProduct.size()},
          {"TypePolicy_Domain", FTypePoliceDomain.size()},
          {"TypePolicy", FTypePolice.size()},
          {"Rod_Domain", FRiskObjectDomain.size()},
          {"Rod", FRiskObject.size()},
          {"CODEOCA", FOca.size()}};
}

TTelebib& TelebibInstance() {
  static TTelebib instance;
  return instance;
}

}  // namespace ruvala
