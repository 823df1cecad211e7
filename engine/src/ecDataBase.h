// Relations and control tables of the engine database: which control table applies to a
// message (RELATIONS, chosen by the message class values of the first two segments), and the
// rules of each table, which collect segments while the validator walks the message and then
// report missing mandatory segments (E0008), missing values (E0007) and failed conditions
// (E0006) per message unit.
#pragma once

#include <kalvix/Kalvix.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/DbAccess.h"
#include "ecErrors.h"
#include "ecValidator.h"

namespace ruvala {

class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TKeyItem {
  std::string Tag;
  std::string Qual;
};
// Path levels 1 to 4 (index 0 unused).
using TKey = std::array<TKeyItem, 5>;

class TControlItem {
 public:
  // Runs the rule for one message unit; reports into `errors`. Any failure becomes
  // "TControlItem.Validate failed (%s)".
  void Validate(TValidator& validator, kalvix::IEdiMessage* edi, TEdiErrorList& errors, TEdiWarningList& warnings,
                const std::string& x912);

  std::int32_t FOrdre = 0;
  std::string FX912;
  TKey FKey;
  std::string FKeyStr;
  std::string FCde;
  std::int32_t FCdePos = 0;
  std::string FDe;
  std::int32_t FDePos = 0;
  bool FMandatory = false;
  std::string FMandatoryCondition;
  std::string FErrorMessage;
  std::string FCondition;
  std::string FConditionErrorMessage;
  std::int32_t FLevel = 0;
  std::vector<edicom::ComPtr<kalvix::IEdiSegment>> FSegments;
  std::vector<edicom::ComPtr<kalvix::IEdiSegment>> FParents;

 private:
  friend class TControlTable;
  bool EvalMandatory();
  std::string GetValue(kalvix::IEdiSegment* s) const;
  bool GetRequiredValue(kalvix::IEdiSegment* s, std::string& value);
  void CheckCondition(kalvix::IEdiSegment* s, const std::string& value);
  void Report(int sgmtNo, const TErrorCode& error);
  void RunValidate(const std::string& x912);

  kalvix::IEdiMessage* FEdi = nullptr;
  TEdiErrorList* _Errors = nullptr;
  TEdiWarningList* FWarnings = nullptr;
  TValidator* FValidator = nullptr;
};

class TControlTable {
 public:
  void Load(common::db::TDbConnection& connection, const std::string& tableName);
  // A copy of every rule with nothing collected: the per-message state lives only in clones.
  std::unique_ptr<TControlTable> Clone() const;
  void Clear();
  // Offers one segment of the walk (never a "[DATA]" one) to every rule. `parents` is the
  // validator's parent array, indexed by tree level.
  void MatchSegment(kalvix::IEdiSegment* sgmt, const std::string& sgmtKey, const TTabOleVariant& parents);
  // The same, with the segment's level and the tag and qualifier of the segment and each
  // ancestor (indexed by tree level) already known, as the validator's walk has them.
  // segmentAt(l) gives the walk's segment of tree level l (the segment itself at its own
  // level), asked for only when a rule holds it; one object per segment, so that a rule meets
  // the same parent once.
  using TSegmentAt = std::function<kalvix::IEdiSegment*(int level)>;
  void MatchSegment(const TSegmentAt& segmentAt, int level, const std::vector<TKeyPiece>& pieces);
  void Validate(TValidator& validator, kalvix::IEdiMessage* edi, TEdiErrorList& errors, TEdiWarningList& warnings,
                const std::string& x912);

  const std::string& Name() const { return FName; }
  int Count() const { return static_cast<int>(FItems.size()); }
  TControlItem& GetItems(int index) const { return *FItems.at(static_cast<std::size_t>(index)); }

 private:
  void Match(const TSegmentAt& segmentAt, int level, const std::vector<TKeyPiece>& pieces);

  std::string FName;
  std::vector<std::unique_ptr<TControlItem>> FItems;
};

// The cache of control tables: each loaded once per process, found again by name ignoring case.
class TControlTables {
 public:
  // Throws EDatabaseError "Control Table \"%s\" not found" when the table cannot be loaded.
  TControlTable& Get(const std::string& aTableName);
  void Clear();
  int Count() const { return static_cast<int>(FItems.size()); }
  TControlTable& GetItems(int index) const { return *FItems.at(static_cast<std::size_t>(index)); }
  common::db::TDbConnection* Connection() const { return FConnection; }
  void SetConnection(common::db::TDbConnection* connection) { FConnection = connection; }

 private:
  common::db::TDbConnection* FConnection = nullptr;
  std::vector<std::unique_ptr<TControlTable>> FItems;
};

struct TRelationItem {
  std::string FX910;
  std::int32_t FX912 = 0;  // 0 = any
  std::string FX916;
  std::string FX925;
  std::string FTableName;
  TControlTable* FControlTable = nullptr;  // owned by the control-table cache
  TControlTable* ControlTable() const { return FControlTable; }
};

class TRelations {
 public:
  ~TRelations();
  // Opens the engine database, reads its version and loads the relations with their control
  // tables. Throws EDatabaseError "DB Not found (%s)" (DbName stays empty) or
  // "Open DB \"%s\" failed (%s)" (DbName stays set: no second attempt in this process).
  void SetDbName(const std::string& value);
  const std::string& DbName() const { return FDbName; }
  void Load();
  void Clear();
  std::string GetVersion();
  // The first relation in load order that matches the message's class values, or nullptr.
  TRelationItem* Find(kalvix::IEdiMessage* edi);
  int Count() const { return static_cast<int>(FItems.size()); }
  TRelationItem& GetItems(int index) { return FItems.at(static_cast<std::size_t>(index)); }

 private:
  std::unique_ptr<common::db::TDbConnection> FAdoConnection;
  std::string FDbName;
  std::string FVersion;
  std::vector<TRelationItem> FItems;
};

// The process-wide relations and control-table cache, created on first use.
TRelations& Relations();
TControlTables& ControlTables();

// Opens the engine database named by the registry: "Ruvala.mdb" in the referential's folder, or
// "Ruvala.db" there when the former does not exist. Registry problems go to the host's error
// box and leave the database closed.
void InitRelations();

}  // namespace ruvala
