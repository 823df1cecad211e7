// The control rules: the script host's contract and host functions, and the relations and control
// tables against the sample engine database and small engine databases made for one case.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <mutex>

#include "EngineTestSupport.h"
#include "Format.h"
#include "SysTrace.h"
#include "ecDataBase.h"
#include "ecScript.h"
#include "ecTypes.h"
#include "ecValidator.h"

using namespace ruvala;
using edicom::ComPtr;
using enginetest::ParserEnvironment;

static ::testing::Environment* const gParserEnv = ::testing::AddGlobalTestEnvironment(new ParserEnvironment);

namespace {

constexpr TDate kMsgDate = 45838;  // 2025-06-30

// A contract with its policyholder block, a risk object with two guarantees (one IFD each).
const char* const kContract =
    "XGH+1+0039+104512+002'XEH+01+2+0002+1++10'IPD+A532+AUTO01'DTM+001:01012025:001'RFF+001:POL123456'"
    "XRH+1'PTY+003+CLI00457'NME+001+DUPONT:JEAN'ADR+001+RUE DE LA LOI:16+1000+BRUXELLES+B'XRT+1'"
    "XRH+1'ROD+110'XRH+2'ICD+101'IFD+RCBASE'XRT+2'XRH+2'ICD+105'IFD+PJAUTO'XRT+2'XRT+1'XET+01'XGT+1'";

ComPtr<kalvix::IEdiMessage> Parse(const std::string& text) {
  ComPtr<kalvix::IEdiMessage> m;
  EXPECT_TRUE(edicom::SUCCEEDED(edicom::CreateInstance(kalvix::CLSID_EdiMessage, kalvix::IID_IEdiMessage, m)));
  edicom::BStr t(text);
  m->put_InputStream(t.Get());
  std::int32_t errors = -1;
  m->get_ErrorCount(&errors);
  EXPECT_EQ(errors, 0) << text;
  return m;
}

// The n-th segment (1-based) of the message in document order.
ComPtr<kalvix::IEdiSegment> Segment(kalvix::IEdiMessage* m, int n) {
  edicom::Variant v;
  m->GetFirstSgmt(&v);
  ComPtr<kalvix::IEdiSegment> s = SegmentFromVariant(v);
  for (int i = 1; i < n && s; ++i) s = TSgmt(s).Next();
  return s;
}

std::string SqliteEngineDb(const std::string& name, const std::string& sql) {
  std::string path = common::TempFolder() + "ruvala-engine-" + name + "-" + std::to_string(::getpid()) + ".db";
  std::remove(path.c_str());
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  std::string all =
      "CREATE TABLE RELATIONS (Id INTEGER PRIMARY KEY, X910 TEXT, X912 TEXT, X916 TEXT, X925 TEXT, \"Table\" TEXT);"
      "CREATE TABLE Version (Version TEXT);"
      "INSERT INTO Version VALUES('9.9');" +
      sql;
  char* err = nullptr;
  EXPECT_EQ(sqlite3_exec(db, all.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
  return path;
}

// CREATE TABLE text of a control table.
std::string ControlTableSql(const std::string& name) {
  return "CREATE TABLE " + name +
         " (Ordre INTEGER PRIMARY KEY, X912 TEXT, L1S TEXT, L1Q TEXT, L2S TEXT, L2Q TEXT, L3S TEXT, L3Q TEXT, "
         "L4S TEXT, L4Q TEXT, Cde TEXT, CdePos INTEGER, De TEXT, DePos INTEGER, Mandatory BOOLEAN, "
         "MandatoryCondition TEXT, ErrorMessage TEXT, Condition TEXT, ConditionErrorMessage TEXT);";
}

struct Found {
  std::string code;
  int segmentNo;
  std::string key, message;
  bool operator==(const Found& o) const {
    return code == o.code && segmentNo == o.segmentNo && key == o.key && message == o.message;
  }
};
std::ostream& operator<<(std::ostream& os, const Found& f) {
  return os << f.code << " #" << f.segmentNo << " [" << f.key << "] " << f.message;
}

// Errors of the codes the control tables raise (and E0003 for their failures).
std::vector<Found> ControlErrors(const TValidator& v) {
  std::vector<Found> out;
  for (int i = 0; i < v.Errors().Count(); ++i) {
    const auto& e = v.Errors().GetItems(i);
    if (e.Error.Code == "E0003" || e.Error.Code == "E0006" || e.Error.Code == "E0007" || e.Error.Code == "E0008")
      out.push_back({e.Error.Code, e.SgmtNo, e.SgmtKey, e.Error.Message});
  }
  return out;
}

class ControlTest : public ::testing::Test {
 protected:
  static TTelebib& Ref() {
    static TTelebib ref;
    if (!ref.Initialized() && ref.AccessDbName().empty()) ref.SetAccessDbName(enginetest::SampleSqlite());
    return ref;
  }
  void SetUp() override {
    if (!ParserEnvironment::Available()) GTEST_SKIP() << "the parser component is not built";
    if (!common::FileExists(enginetest::SampleSqlite())) GTEST_SKIP() << "no sample referential";
  }
  void UseEngineDb(const std::string& path) {
    if (Relations().DbName() != path) Relations().SetDbName(path);
  }
  std::vector<Found> ValidateIA(const std::string& text) {
    TValidator v(&Ref());
    v.SetMessageDate(kMsgDate);
    v.SetEdiMessage(text);
    v.Validate();
    return ControlErrors(v);
  }
};

// --- the script host --------------------------------------------------------------------------

class ScriptHostTest : public ControlTest {
 protected:
  TScriptModule FHost;  // a fresh engine: no globals left by other tests
  TValidator FValidator{&Ref()};
  std::vector<std::string> FTrace;
  void SetUp() override {
    ControlTest::SetUp();
    FHost.Validator = &FValidator;
    FHost.OnTrace = [this](const std::string& msg) { FTrace.push_back(msg); };
  }
  bool Run(const std::string& script, std::string& errorMsg) { return FHost.Execute(script, errorMsg); }
  std::string ScriptError(const std::string& script) {
    std::string msg;
    try {
      Run(script, msg);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "(no failure)";
  }
};

TEST_F(ScriptHostTest, ResultDecidesPassAndErrorMsgExplainsAFailure) {
  struct Case {
    const char* script;
    bool pass;
    const char* errorMsg;  // after the run; the caller passed "untouched"
  } cases[] = {
      {"result := true", true, "untouched"},
      {"result := 'TRUE'", true, "untouched"},
      {"result := 'true'", true, "untouched"},
      {"result := 1", false, ""},
      {"result := 'yes'", false, ""},
      {"ErrorMsg := 'bad value'; result := false", false, "bad value"},
      {"ErrorMsg := ''; result := false", false, ""},
  };
  for (const Case& c : cases) {
    // Each case on a validator of its own: a variable keeps the type of its first value.
    TValidator fresh(&Ref());
    FHost.Validator = &fresh;
    std::string msg = "untouched";
    EXPECT_EQ(Run(c.script, msg), c.pass) << c.script;
    EXPECT_EQ(msg, c.errorMsg) << c.script;
  }
  FHost.Validator = &FValidator;
}

TEST_F(ScriptHostTest, ResultNeverAssignedFailsFirstThenCarriesTheLastValue) {
  EXPECT_EQ(ScriptError("x := 1"), "Unable to retreive \"Result\" value");
  std::string msg;
  EXPECT_TRUE(Run("result := true", msg));
  EXPECT_TRUE(Run("x := 2", msg)) << "result preset from the validator's variables";
  EXPECT_FALSE(Run("ErrorMsg := 'first'; result := false", msg));
  msg.clear();
  EXPECT_FALSE(Run("x := 3", msg));
  EXPECT_EQ(msg, "first") << "ErrorMsg carried over too";
}

TEST_F(ScriptHostTest, AssignedVariablesReachLaterScriptsOfTheSameValidator) {
  std::string msg;
  ASSERT_TRUE(Run("X := 'A'; result := true", msg));
  EXPECT_EQ(FValidator.GlobalVar().GetValues("x").AsString(), "A");
  EXPECT_TRUE(Run("result := VarExists('X') and (X = 'A') and not VarExists('NeverAssigned')", msg));
  EXPECT_TRUE(Run("Y := 1; result := VarExists('y')", msg)) << "a variable of the running script";
  // Every assignment is reported before it is stored.
  EXPECT_NE(std::find(FTrace.begin(), FTrace.end(), "Variable \"X\" changed to \"A\""), FTrace.end());
  EXPECT_NE(std::find(FTrace.begin(), FTrace.end(), "Variable \"result\" changed to \"True\""), FTrace.end());
  ASSERT_TRUE(Run("Trace('hello ' + X); result := true", msg));
  EXPECT_NE(std::find(FTrace.begin(), FTrace.end(), "hello A"), FTrace.end());
}

TEST_F(ScriptHostTest, CompileAndRunTimeErrorsBecomeScriptErrors) {
  EXPECT_EQ(ScriptError("result := "), "Script Error : Expression expected.");
  EXPECT_EQ(ScriptError("result := undefinedThing"), "Script Error : Variable undefinedThing is not defined.");
  EXPECT_EQ(ScriptError("result := Nope(1)"), "Script Error : Function Nope not found");
  EXPECT_EQ(ScriptError("while true do x := 1; result := true"), "Script Error : Script stopped.");
  // Values that hold more than the memory bound end the run the same way, the process intact.
  EXPECT_EQ(ScriptError("SetArray(a, INTEGER, 1000000); b := a; a[0] := 1; c := a; a[0] := 2; d := a; a[0] := 3; "
                        "e := a; a[0] := 4; f := a; a[0] := 5; g := a; a[0] := 6; result := true"),
            "Script Error : Script memory limit of 256 MiB exceeded.");
  // FindChild needs a current segment; mandatory conditions have none.
  EXPECT_EQ(ScriptError("result := FindChild('ADR')").rfind("Script Error : ", 0), 0u);
}

TEST_F(ScriptHostTest, FindChildSearchesEveryDescendantOfTheCurrentSegment) {
  auto m = Parse(kContract);
  FHost.Edi = m.Get();
  auto rod = Segment(m.Get(), 9);
  ASSERT_EQ(TSgmt(rod).Tag(), "ROD");
  auto pty = Segment(m.Get(), 6);
  ASSERT_EQ(TSgmt(pty).Tag(), "PTY");
  struct Case {
    kalvix::IEdiSegment* segment;
    const char* path;
    bool found;
  } cases[] = {
      {rod.Get(), "ICD", true},          // a child, any qualifier
      {rod.Get(), "IFD", true},          // a grandchild
      {rod.Get(), "IFD+PJAUTO", true},   // qualifier given
      {rod.Get(), "IFD+OTHER", false},   //
      {rod.Get(), "ICD+105'IFD", true},  // the path ends at the apostrophe
      {rod.Get(), "ADR", false},         // in another block
      {pty.Get(), "ADR", true},          //
      {pty.Get(), "PTY", false},         // not the segment itself
  };
  for (const Case& c : cases) {
    FHost.Segment = c.segment;
    std::string msg;
    std::string path = c.path;
    for (std::size_t at = 0; (at = path.find('\'', at)) != std::string::npos; at += 2) path.insert(at, 1, '\'');
    std::string script = "result := FindChild('" + path + "')";
    EXPECT_EQ(Run(script, msg), c.found) << c.path;
  }
}

TEST_F(ScriptHostTest, FindSearchesTheUnitChosenByTheMask) {
  auto m = Parse(kContract);
  FHost.Edi = m.Get();
  struct Case {
    const char* mask;
    const char* path;
    bool found;
  } cases[] = {
      {"*", "ICD+101", true},                // anywhere in the unit
      {"*", "ICD", false},                   // no "+": the qualifier must be empty
      {"0002", "ICD+101'IFD+PJAUTO", true},  // each part on its own
      {"00?2", "ICD+101'IFD+NONE", false},
      {"*", "", true},
      {"[0-1]00[!3]", "IPD+A532", true},
  };
  for (const Case& c : cases) {
    FHost.X912 = c.mask;
    std::string msg;
    std::string path = c.path;
    for (std::size_t at = 0; (at = path.find('\'', at)) != std::string::npos; at += 2) path.insert(at, 1, '\'');
    EXPECT_EQ(Run("result := Find('" + path + "')", msg), c.found) << c.mask << " " << c.path;
  }
  FHost.X912 = "0009";
  EXPECT_EQ(ScriptError("result := Find('IPD+A532')").rfind("Script Error : ", 0), 0u) << "no such unit";

  // Three units: the mask picks the header whatever its place.
  auto multi = Parse(
      "XGH+1+0039+104512'XEH+01+2+0002+1++10'IPD+A532+AUTO01'XET+01'XEH+03+1+0010+1++20'IND+002+ABEX:1099'XET+03'"
      "XEH+07+1+0031+1'RFF+007:CC-2025-05'XET+07'XGT+1'");
  FHost.Edi = multi.Get();
  std::string msg;
  FHost.X912 = "0010";
  EXPECT_TRUE(Run("result := Find('IND+002') and not Find('IPD+A532')", msg));
  FHost.X912 = "*";
  EXPECT_TRUE(Run("result := Find('IPD+A532') and not Find('IND+002')", msg)) << "the first header matches *";
}

TEST(MaskTest, WildcardsSetsAndCase) {
  struct Case {
    const char* text;
    const char* mask;
    bool match;
  } cases[] = {
      {"0002", "00??", true},      {"0002", "*", true},         {"", "*", true},     {"0002", "0004", false},
      {"0031", "*1", true},        {"0031", "0*3", false},      {"ab", "AB", true},  {"0007", "000[0-7]", true},
      {"0008", "000[0-7]", false}, {"0008", "000[!0-7]", true}, {"0002", "", false}, {"12", "1[", false},
      {"1[", "1[", true},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchesMask(c.text, c.mask), c.match) << c.text << " " << c.mask;
}

TEST(PathTest, ReleasedCharactersAreKeptAndNeverSplitOn) {
  auto parts = SplitPath("ICD+1?'2'IFD");
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0], "ICD+1?'2");
  TPathPart p = SplitTagQual("AB?+C+D?+E'F");
  EXPECT_EQ(p.Tag, "AB?+C");
  EXPECT_EQ(p.Qual, "D?+E");
  EXPECT_TRUE(SplitTagQual("IFD").Qual.empty());
  EXPECT_FALSE(SplitTagQual("IFD").HasQual);
}

// --- relations and control tables -------------------------------------------------------------

// A contract of unit 0002 around policyholder blocks, with and without a name.
const std::string kUnitHead =
    "XGH+1+0039+104512+002'XEH+01+2+0002+1++10'IPD+A532+AUTO01'DTM+001:01012025:001'RFF+001:POL123456'";
const std::string kUnitTail = "XRH+1'ROD+110'XRH+2'ICD+101'IFD+RCBASE'XRT+2'XRT+1'XET+01'XGT+1'";
const std::string kNoName = "XRH+1'PTY+003+A'ADR+001+RUE:1+1000+BRUXELLES+B'XRT+1'";
const std::string kNamed = "XRH+1'PTY+003+B'NME+001+DUPONT:JEAN'ADR+001+RUE:1+1000+BRUXELLES+B'XRT+1'";

TEST_F(ControlTest, MandatoryChildIsReportedAtEachParentOfTheUnitOnlyWhenNoneHasIt) {
  UseEngineDb(enginetest::SampleEngineSqlite());
  const std::string want = "Missing mandatory segment (Policyholder name (NME) missing (unit \"0002\"))";
  EXPECT_EQ(ValidateIA(kUnitHead + kNoName + kNoName + kUnitTail),
            (std::vector<Found>{{"E0008", 6, "PTY+003'NME", want}, {"E0008", 8, "PTY+003'NME", want}}));
  EXPECT_EQ(ValidateIA(kUnitHead + kNoName + kNamed + kUnitTail), std::vector<Found>{}) << "counted per unit";
}

// A rule about a child whose parent no rule holds itself: the parent's segment comes from the
// walk when the child needs it, the same whether the walk goes by cursor or by handles.
TEST_F(ControlTest, ParentsNoRuleHoldsAreReportedTheSameByBothWalks) {
  const std::string path = SqliteEngineDb(
      "parents",
      "INSERT INTO RELATIONS VALUES(1,'*','*','*','*','T_PARENT');" + ControlTableSql("T_PARENT") +
          "INSERT INTO T_PARENT VALUES(1,'*','PTY','003','NME','','','','','','',0,'',0,1,'','name','','');");
  UseEngineDb(path);
  auto run = [&](const std::string& text, bool cursor) {
    TValidator v(&Ref());
    v.SetMessageDate(kMsgDate);
    v.SetCursorWalk(cursor);
    v.SetEdiMessage(text);
    v.Validate();
    return ControlErrors(v);
  };
  const std::vector<Found> missing = run(kUnitHead + kNoName + kNoName + kUnitTail, true);
  ASSERT_EQ(missing.size(), 2u);
  EXPECT_EQ(missing[0].segmentNo, 6);
  EXPECT_EQ(missing[1].segmentNo, 8);
  EXPECT_EQ(missing, run(kUnitHead + kNoName + kNoName + kUnitTail, false));
  EXPECT_EQ(run(kUnitHead + kNoName + kNamed + kUnitTail, true), std::vector<Found>{});
  std::remove(path.c_str());
}

TEST_F(ControlTest, BlankRequiredValueGivesE0007AndSkipsTheCondition) {
  UseEngineDb(enginetest::SampleEngineSqlite());
  std::string text = kContract;
  text.replace(text.find("DTM+001:01012025:001"), 20, "DTM+001:  :001");
  EXPECT_EQ(ValidateIA(text), (std::vector<Found>{{"E0007", 4, "DTM+001", "Value required for \"C015:1, X017:1\""}}));
}

TEST_F(ControlTest, RuleOfAnotherUnitIsSkippedWithItsTraceLine) {
  UseEngineDb(enginetest::SampleEngineSqlite());
  std::vector<std::string> lines;
  std::mutex lock;
  common::SetDebugOutputHook([&](const std::string& t) {
    std::lock_guard<std::mutex> l(lock);
    lines.push_back(t);
  });
  common::TDbMon* mon = common::Trace()->DbMon();
  bool wasActive = mon->Active();
  mon->SetActive(true);
  ValidateIA(kContract);
  mon->SetActive(wasActive);
  common::SetDebugOutputHook({});
  auto has = [&](const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(has("TControlItem\xC2\xA6Information\xC2\xA6Validate(DTM+007 (id=80) x912=0002)"));
  EXPECT_TRUE(has("  Not check : Edi.x912 = \"0002\" <> Ctrl.x912 = \"0004\""));
  EXPECT_TRUE(has("<Script> policyholder block checked"));
}

TEST_F(ControlTest, FirstMatchingRelationWinsAndUnitNumbersCompareAsIntegers) {
  std::string path =
      SqliteEngineDb("order",
                     "INSERT INTO RELATIONS VALUES(1,'02','12','*','*','T_TWELVE');"
                     "INSERT INTO RELATIONS VALUES(2,'*','*','*','*','t_any');"
                     "INSERT INTO RELATIONS VALUES(3,'02','*','*','*','T_TWELVE');" +
                         ControlTableSql("T_TWELVE") + ControlTableSql("T_ANY") +
                         "INSERT INTO T_TWELVE VALUES(1,'*','EVT','','','','','','','','',0,'',0,1,'','twelve','','');"
                         "INSERT INTO T_ANY VALUES(1,'*','EVT','','','','','','','','',0,'',0,1,'','any','','');");
  UseEngineDb(path);
  EXPECT_EQ(Relations().GetVersion(), "9.9");
  EXPECT_EQ(ControlTables().Count(), 2) << "T_TWELVE is loaded once";
  auto msg = [](const char* x912) {
    return std::string("XGH+1+104512+0039+002'XEH+02+1+") + x912 + "+1++10'DTM+004:14032025:001'XET+02'XGT+1'";
  };
  EXPECT_EQ(ValidateIA(msg("0012")),
            (std::vector<Found>{{"E0008", -1, "EVT", "Missing mandatory segment (twelve (unit \"0012\"))"}}));
  EXPECT_EQ(ValidateIA(msg("0020")),
            (std::vector<Found>{{"E0008", -1, "EVT", "Missing mandatory segment (any (unit \"0020\"))"}}));
  std::remove(path.c_str());
}

TEST_F(ControlTest, ScriptFailureEndsControlValidationKeepingEarlierErrors) {
  std::string path = SqliteEngineDb(
      "failing", "INSERT INTO RELATIONS VALUES(1,'*','*','*','*','T');" + ControlTableSql("T") +
                     "INSERT INTO T VALUES(1,'*','EVT','','','','','','','','',0,'',0,1,'','no event','','');"
                     "INSERT INTO T VALUES(2,'*','DTM','004','','','','','','','',0,'',0,1,'','',"
                     "'ErrorMsg := ''''; result := false','');"
                     "INSERT INTO T VALUES(3,'*','DTM','004','','','','','','','',0,'',0,1,'','','result := ','');"
                     "INSERT INTO T VALUES(4,'*','RFF','','','','','','','','',0,'',0,1,'','never reached','','');");
  UseEngineDb(path);
  EXPECT_EQ(ValidateIA("XGH+1+104512+0039+002'XEH+02+1+0020+1++10'DTM+004:14032025:001'XET+02'XGT+1'"),
            (std::vector<Found>{
                {"E0008", -1, "EVT", "Missing mandatory segment (no event (unit \"0020\"))"},
                {"E0006", 3, "DTM+004", "Script validation error (Unspecified error)"},
                {"E0003", 0, "",
                 "Validate segments failed (TControlItem.Validate failed (Script Error : Expression expected.))"}}));
  std::remove(path.c_str());
}

TEST_F(ControlTest, EngineDatabaseFailuresNameTheirCause) {
  std::string missing = common::TempFolder() + "no-such-engine.db";
  try {
    Relations().SetDbName(missing);
    ADD_FAILURE() << "opened a missing file";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "DB Not found (" + missing + ")");
  }
  struct Case {
    const char* name;
    std::string sql;
    const char* reason;
  } cases[] = {
      {"missing-table", "INSERT INTO RELATIONS VALUES(1,'*','*','*','*','NOPE');", "Control Table \"NOPE\" not found"},
      {"bad-x912", "INSERT INTO RELATIONS VALUES(1,'*','ab','*','*','T');" + ControlTableSql("T"),
       "'ab' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    std::string path = SqliteEngineDb(c.name, c.sql);
    try {
      Relations().SetDbName(path);
      ADD_FAILURE() << c.name;
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(std::string(e.what()), common::Fmt("Open DB \"%s\" failed (%s)", path, c.reason));
    }
    EXPECT_EQ(Relations().DbName(), path) << "not opened again in this process";
    EXPECT_EQ(Relations().Count(), 0) << "no half-loaded relations";
    std::remove(path.c_str());
  }
}

}  // namespace
