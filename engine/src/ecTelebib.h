// The Telebib2 referential: the 23 reference tables loaded once into memory from an Access file,
// a SQLite copy or a SQL Server catalog, and the lookups of the segment checks.
//
// Lookups answer "the first row in load order that matches"; each is served by a hash index
// built while loading (key = the lookup's fields, compared as the lookup compares them).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "db/DbAccess.h"
#include "ecRowIndex.h"

namespace ruvala {

class TSegment;  // the checker of one segment tag (ecTypes)

using TDate = double;  // automation day count; 0 = none

// Obsolete for a message of that day: a deletion date on or before it.
inline bool IsObsolete(TDate dateDel, TDate msgDate) { return dateDel != 0 && dateDel <= msgDate; }
// Out of date: not yet in force, or no longer in force.
inline bool IsOutOfDate(TDate start, TDate end, TDate msgDate) {
  return (start != 0 && start > msgDate) || (end != 0 && end < msgDate);
}

// Removes "0" from the front; an emptied or empty text becomes "0".
std::string StripLeadingZeros(std::string_view text);
// Integer conversion of the qualifier comparisons; throws std::invalid_argument
// "'%s' is not a valid integer value".
std::int64_t StrToInt(std::string_view text);

struct TSegmentLayoutItem {
  std::string FKey;  // SEGMENT
  std::string FCDE;  // "-" for a simple data element
  std::string FDE;
  bool FMandatory = false;
  std::int32_t FOccurrence = 0;
};

struct TCdeLayoutItem {
  std::string FKey;  // CDE
  std::string FDe;
  bool FMandatory = false;
  std::int32_t FOccurrence = 0;
};

struct TCdeItem {
  std::string FKey;
  std::vector<TCdeLayoutItem> FLayout;
  bool CanHaveSpecificValue = false;  // a layout row names X901
};

struct TDeQualifiantItem {
  std::string FKey;  // DE
  std::int32_t FVersion = 0;
  std::string FQualifiant;
  TDate FDateDel = 0;
};

// A data element's own qualifier list.
class TDeQualifiant {
 public:
  void Add(const TDeQualifiantItem& item);
  // The first qualifier equal to the value (as integers when numeric). Not found: false.
  // Found: obsolete tells whether it is obsolete for msgDate; the result is !obsolete.
  // Numeric mode throws the conversion failure for a text that is no integer.
  bool IsValid(std::string_view value, bool numeric, TDate msgDate, bool& obsolete) const;
  const std::vector<TDeQualifiantItem>& Items() const { return FItems; }

 private:
  std::vector<TDeQualifiantItem> FItems;
  TCodeIndex FByText;
  std::unordered_map<std::int64_t, std::size_t> FByNumber;
  std::size_t FFirstNonInteger = SIZE_MAX;  // first qualifier that a numeric comparison cannot read
};

struct TDeItem {
  std::string FKey;
  std::int32_t FNature = 0;  // 2 = numeric
  std::int32_t FLength = 0;
  bool FPreVal = false;
  bool FPreDon = false;
  TDeQualifiant FQualifiant;
};

struct TValeurItem {
  std::string FKey;  // Code
  std::string FValeur;
  TDate FDateDel = 0;
};
struct TCodeTelebibItem {
  std::string FKey;
  std::int32_t FNature = 0, FLength = 0;
  bool FPreVal = false;
};
struct TValeurTelebibItem {
  std::string FKey;
  std::int32_t FVersion = 0;
  std::string FValeur;
};
struct TCodeSpecItem {
  std::string FKey;  // Ident
  std::string FCode;
  std::int32_t FNature = 0, FLength = 0;
  bool FPreVal = false;
};
struct TValeurSpecItem {
  std::string FKey;  // Ident (insurer code)
  std::string FCode;
  std::int32_t FVersion = 0;
  std::string FValeur;
  TDate FDateDel = 0;
};
struct TCodeIndexItem {
  std::string FKey;  // C_Index
  std::string FOca;
  TDate FDateDel = 0;
};
struct TValeurIndexItem {
  std::string FKey;  // C_Index
  TDate FDateStart = 0;
  double FValue = 0;
};
struct TPostalItem {
  std::string FKey;  // C_Country
  std::string FZipCode;
  TDate FDateDel = 0;
};
struct TDomainItem {  // Guarantee_Domain, TypePolicy_Domain, Rod_Domain rows
  std::string FKey;   // C_Domain
  std::string FCode;  // C_Guarantee, C_Type, C_Rod
};
// Guarantee, TypePolicy and Rod rows: a code, its deletion date and its domains.
struct TDomainCodeItem {
  std::string FKey;
  std::string FOrigin;  // guarantees only
  TDate FDateDel = 0;
  std::vector<std::string> FDomain;
  // Leading zeros of the domain are removed first; exact comparison.
  bool IsDomainValid(const std::string& domain) const;
};
using TGuaranteeItem = TDomainCodeItem;
using TTypePoliceItem = TDomainCodeItem;
using TRiskObjectItem = TDomainCodeItem;

struct TFormulaItem {
  std::string FKey;  // C_Guarantee
  std::string FOca;
  std::string FFormula;
  TDate FDateStart = 0, FDateEnd = 0, FDateDel = 0;
};
struct TProductItem {
  std::string FKey;  // C_Company
  std::string FProduct;
  std::string FDomain;
  TDate FDateStart = 0, FDateEnd = 0, FDateDel = 0;
};

// Process-wide formatting settings set when the referential is created.
struct TFormatSettings {
  std::string ShortDateFormat = "dd/mm/yyyy";
  char DateSeparator = '/';
  char DecimalSeparator = ',';
};
const TFormatSettings& FormatSettings();

class TTelebib {
 public:
  TTelebib();
  ~TTelebib();
  TTelebib(const TTelebib&) = delete;
  TTelebib& operator=(const TTelebib&) = delete;

  static constexpr const char* kRegistryKey = "SOFTWARE\\tarnholt\\services\\Database";

  // Reads the registry and loads the referential it names; configuration problems go to the
  // host's error box and leave the referential uninitialised.
  void LoadSettings();
  // Opens the Access (or SQLite) file and loads it; throws "Open DB \"%s\" failed (%s)".
  void SetAccessDbName(const std::string& path);
  // Throws "SqlConnect failed (%s)".
  void SqlConnect(const std::string& userId, const std::string& password, const std::string& server);
  void LoadFromAccess();
  void LoadFromSql();
  void Reload();
  std::string GetVersion();
  bool VersionHasChanged();

  bool Initialized() const { return FInitialized; }
  bool UseSql() const { return FUseSql; }
  const std::string& AccessDbName() const { return FAccessDbName; }
  const std::string& SqlServer() const { return FSqlServer; }

  // Lookups. The first three throw when the code is absent.
  TSegment& GetSegment(const std::string& tag) const;
  const TDeItem& GetDe(const std::string& de) const;
  const TCdeItem& GetCDe(const std::string& cde) const;
  // The same rows without a trace line or a failure: nullptr when absent. For resolving once.
  const TDeItem* FindDe(std::string_view de) const;
  const TCdeItem* FindCDe(std::string_view cde) const;
  TSegment* FindSegment(std::string_view tag) const;
  const TValeurItem* GetValeur(std::string_view code, std::string_view valeur, TDate msgDate, bool& obsolete) const;
  bool HasListOfValue(std::string_view code) const;
  const TValeurSpecItem* GetValeurSpec(std::string_view valeur, std::string_view code, std::string_view oca,
                                       TDate msgDate, bool& obsolete) const;
  const TDeQualifiantItem* GetDeQualifiant(std::string_view de, std::string_view value) const;
  const TPostalItem* GetPostal(std::string_view zipCode, std::string_view country) const;
  const TGuaranteeItem* GetGuarantee(const std::string& guarantee) const;
  const TFormulaItem* GetFormula(const std::string& oca, const std::string& guarantee,
                                 const std::string& formula) const;
  const TProductItem* GetProduct(const std::string& oca, const std::string& product) const;
  const TTypePoliceItem* GetTypePolice(const std::string& typePolice) const;
  const TRiskObjectItem* GetRiskObject(const std::string& riskObject) const;
  bool OcaIsValid(const std::string& oca) const;
  const TCodeSpecItem* GetCodeSpec(const std::string& oca, const std::string& code) const;
  const TCodeIndexItem* GetCodeIndex(const std::string& index) const;
  const TValeurIndexItem* GetValeurIndex(const std::string& index, double value) const;

  // Row counts of the 23 tables in load order, with their table names.
  std::vector<std::pair<std::string, std::size_t>> TableCounts() const;
  // Load-order rows, for tools and tests.
  const std::vector<TValeurItem>& Valeurs() const { return FValeurs; }
  const std::vector<TProductItem>& Products() const { return FProduct; }
  const std::vector<TPostalItem>& Postals() const { return FPostal; }
  const std::vector<TDeQualifiantItem>& DeQualifiants() const { return FDeQualifiant; }
  const std::vector<std::unique_ptr<TSegment>>& Segments() const { return FSegments; }

 private:
  void LoadTables(bool sql);
  void ClearTables();
  std::string ReadVersion();

  std::unique_ptr<common::db::TDbConnection> FAccessDb;
  std::string FAccessDbName;
  bool FUseSql = false;
  std::string FSqlUserid, FSqlPassword, FSqlServer;
  std::string FVersion;
  bool FInitialized = false;

  // Tables in load order.
  std::vector<TSegmentLayoutItem> FSegmentLayout;
  std::vector<std::unique_ptr<TSegment>> FSegments;
  std::vector<TCdeLayoutItem> FCdeLayout;
  std::vector<TCdeItem> FCde;
  std::vector<TDeQualifiantItem> FDeQualifiant;
  std::vector<TDeItem> FDe;
  std::vector<TValeurItem> FValeurs;
  std::vector<TCodeTelebibItem> FCodeTelebib;
  std::vector<TValeurTelebibItem> FValeurTelebib;
  std::vector<TCodeSpecItem> FCodeSpec;
  std::vector<TValeurSpecItem> FValeursSpec;
  std::vector<TCodeIndexItem> FCodeIndex;
  std::vector<TValeurIndexItem> FValeurIndex;
  std::vector<TPostalItem> FPostal;
  std::vector<TDomainItem> FGuaranteeDomain;
  std::vector<TGuaranteeItem> FGuarantee;
  std::vector<TFormulaItem> FFormula;
  std::vector<TProductItem> FProduct;
  std::vector<TDomainItem> FTypePoliceDomain;
  std::vector<TTypePoliceItem> FTypePolice;
  std::vector<TDomainItem> FRiskObjectDomain;
  std::vector<TRiskObjectItem> FRiskObject;
  std::vector<std::string> FOca;

  // Indexes: key -> position of the first matching row in load order.
  using TIndex = TCodeIndex;
  TIndex FSegmentIdx, FDeIdx, FCdeIdx, FGuaranteeIdx, FTypePoliceIdx, FRiskObjectIdx, FCodeIndexIdx;
  // Lookups over several fields, hashed from the arguments without building a key.
  FirstRowIndex FValeurIdx, FValeurSpecIdx, FDeQualifiantIdx, FPostalIdx, FFormulaIdx, FProductIdx, FCodeSpecIdx,
      FValeurIndexIdx;
  TCodeIndex FValeurCodes;
  std::unordered_set<std::string> FOcaUpper;
  // Checkers of the tags of three capitals by direct index: the walk asks for one per segment.
  std::vector<TSegment*> FSegmentByTag;
};

// The referential of the process, created on first use; lives until the engine is unloaded.
TTelebib& TelebibInstance();

}  // namespace ruvala
