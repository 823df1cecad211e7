#include <edicom/EdiCom.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "EngineTestSupport.h"
#include "Registry.h"
#include "ecRowIndex.h"
#include "ecTelebib.h"
#include "ecTypes.h"

using namespace ruvala;
using enginetest::TempMachineHive;

namespace {

constexpr TDate kMsgDate = 45838;  // 2025-06-30

void WriteDatabaseKey(const std::function<void(common::TRegistry&)>& fill) {
  common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey(TTelebib::kRegistryKey, true));
  fill(reg);
}

// Collects the engine's error boxes instead of showing them.
struct ErrorBoxes {
  ErrorBoxes() {
    EdiSetErrorBoxHandler([](const char* text, void* self) { static_cast<ErrorBoxes*>(self)->texts.push_back(text); },
                          this);
  }
  ~ErrorBoxes() { EdiSetErrorBoxHandler(nullptr, nullptr); }
  std::vector<std::string> texts;
};

class ReferentialTest : public ::testing::TestWithParam<std::string> {
 protected:
  static std::string Path(const std::string& kind) {
    return kind == "sqlite" ? enginetest::SampleSqlite() : enginetest::SampleAccess();
  }
  void SetUp() override {
    if (!common::FileExists(Path(GetParam()))) GTEST_SKIP() << "no sample referential " << Path(GetParam());
    ASSERT_NO_THROW(FRef.SetAccessDbName(Path(GetParam())));
  }
  TTelebib FRef;
};

}  // namespace

TEST_P(ReferentialTest, LoadsEveryTableAndItsLinks) {
  std::map<std::string, std::size_t> counts;
  for (auto& [name, n] : FRef.TableCounts()) counts[name] = n;
  EXPECT_EQ(counts.size(), 23u);
  EXPECT_EQ(counts["A_SEGMENT"], 49u);
  EXPECT_EQ(counts["A_SEGMENT_LAYOUT"], 95u);
  EXPECT_EQ(counts["A_CDE_LAYOUT"], 108u);
  EXPECT_EQ(counts["A_DE_QUALIFIANT"], 303u);
  EXPECT_EQ(counts["VALEUR"], 243u);
  EXPECT_EQ(counts["VALEURTELEBIB"], 236u);
  EXPECT_EQ(counts["Index_Value"], 52u);
  EXPECT_EQ(counts["POSTAL"], 60u);
  EXPECT_EQ(counts["FORMULA"], 24u);
  EXPECT_EQ(counts["CODEOCA"], 10u);

  TSegment& adr = FRef.GetSegment("ADR");
  ASSERT_FALSE(adr.FLayout.empty());
  EXPECT_EQ(adr.FLayout[0].FDE, "X001");
  EXPECT_TRUE(adr.FLayout[0].FMandatory);
  EXPECT_EQ(FRef.GetSegment("ATT").FDE, "X010");
  EXPECT_EQ(FRef.GetSegment("IPD").FDE, "X060");
  EXPECT_FALSE(FRef.GetDe("X070").FQualifiant.Items().empty());
  EXPECT_EQ(FRef.GetDe("X048").FNature, 2);
  EXPECT_EQ(FRef.GetDe("X003").FLength, 9);
  EXPECT_EQ(FRef.GetVersion(), "2.02.611.01");
}

TEST_P(ReferentialTest, AbsentCodesFailWithTheirTexts) {
  auto message = [](auto f) {
    try {
      f();
    } catch (const std::exception& e) {
      return std::string(e.what());
    }
    return std::string("no failure");
  };
  EXPECT_EQ(message([&] { FRef.GetSegment("att"); }), "Segment \"att\" not found");
  EXPECT_EQ(message([&] { FRef.GetSegment("ZZZ"); }), "Segment \"ZZZ\" not found");
  EXPECT_EQ(message([&] { FRef.GetDe("X999"); }), "De \"X999\" not found");
  EXPECT_EQ(message([&] { FRef.GetCDe("C999"); }), "Cde \"C999\" not found");
}

TEST_P(ReferentialTest, LookupsFollowTheirComparisonRules) {
  bool obsolete = true;
  EXPECT_NE(FRef.GetValeur("A020", "1", kMsgDate, obsolete), nullptr);
  EXPECT_FALSE(obsolete);
  EXPECT_EQ(FRef.GetValeur("A020", "9", kMsgDate, obsolete), nullptr);  // DatDel 2015-01-01
  EXPECT_TRUE(obsolete);
  EXPECT_NE(FRef.GetValeur("A020", "8", kMsgDate, obsolete), nullptr);  // DatDel 2099-01-01
  EXPECT_FALSE(obsolete);
  EXPECT_EQ(FRef.GetValeur("A020", "77", kMsgDate, obsolete), nullptr);
  EXPECT_FALSE(obsolete);
  // The deletion day itself is obsolete, the day before it is not.
  const TDate del2015 = 42005;  // 2015-01-01
  EXPECT_EQ(FRef.GetValeur("A020", "9", del2015, obsolete), nullptr);
  EXPECT_TRUE(obsolete);
  EXPECT_NE(FRef.GetValeur("A020", "9", del2015 - 1, obsolete), nullptr);

  EXPECT_TRUE(FRef.HasListOfValue("A020"));
  EXPECT_FALSE(FRef.HasListOfValue("A532"));
  EXPECT_NE(FRef.GetValeurSpec("90", "A020", "0039", kMsgDate, obsolete), nullptr);
  EXPECT_EQ(FRef.GetValeurSpec("90", "A020", "39", kMsgDate, obsolete), nullptr);  // no zero stripping here
  EXPECT_EQ(FRef.GetValeurSpec("91", "A020", "0039", kMsgDate, obsolete), nullptr);
  EXPECT_TRUE(obsolete);

  ASSERT_NE(FRef.GetFormula("0039", "101", "RCDEL"), nullptr);
  EXPECT_EQ(FRef.GetFormula("0039", "101", "NOFORM"), nullptr);
  const TProductItem* mix = FRef.GetProduct("00039", "AUTOMIX");
  ASSERT_NE(mix, nullptr);
  EXPECT_EQ(mix->FDomain, "10");  // the first of its rows
  EXPECT_TRUE(FRef.OcaIsValid("39"));
  EXPECT_TRUE(FRef.OcaIsValid("0039"));
  EXPECT_FALSE(FRef.OcaIsValid("0777"));
  EXPECT_NE(FRef.GetPostal("1000", "B"), nullptr);
  EXPECT_EQ(FRef.GetPostal("1999", "B"), nullptr);
  EXPECT_EQ(FRef.GetPostal("B", "1000"), nullptr);
  EXPECT_NE(FRef.GetDeQualifiant("X008", "B"), nullptr);
  EXPECT_EQ(FRef.GetDeQualifiant("X008", "ZZ"), nullptr);

  const TGuaranteeItem* g = FRef.GetGuarantee("102");
  ASSERT_NE(g, nullptr);
  EXPECT_TRUE(g->IsDomainValid("011"));
  EXPECT_FALSE(g->IsDomainValid("10"));
  EXPECT_NE(FRef.GetRiskObject("200"), nullptr);
  EXPECT_EQ(FRef.GetRiskObject("998"), nullptr);
  EXPECT_EQ(FRef.GetTypePolice("09"), nullptr);
}

// Every indexed lookup answers what the scan in load order answers, for every row of the table.
TEST_P(ReferentialTest, IndexedLookupsAnswerAsTheScanInLoadOrder) {
  auto scan = [](const auto& rows, auto same) {
    for (const auto& r : rows)
      if (same(r)) return &r;
    return static_cast<decltype(&rows[0])>(nullptr);
  };
  bool obsolete;
  for (const TValeurItem& v : FRef.Valeurs())
    EXPECT_EQ(FRef.GetValeur(v.FKey, v.FValeur, /*MsgDate=*/0, obsolete),
              scan(FRef.Valeurs(), [&](const auto& x) { return x.FKey == v.FKey && x.FValeur == v.FValeur; }));
  for (const TDeQualifiantItem& q : FRef.DeQualifiants())
    EXPECT_EQ(FRef.GetDeQualifiant(q.FKey, q.FQualifiant), scan(FRef.DeQualifiants(), [&](const auto& x) {
                return x.FKey == q.FKey && x.FQualifiant == q.FQualifiant;
              }));
  for (const TPostalItem& p : FRef.Postals())
    EXPECT_EQ(FRef.GetPostal(p.FZipCode, p.FKey),
              scan(FRef.Postals(), [&](const auto& x) { return x.FZipCode == p.FZipCode && x.FKey == p.FKey; }));
  for (const TProductItem& p : FRef.Products())
    EXPECT_EQ(FRef.GetProduct("00" + p.FKey, p.FProduct),
              scan(FRef.Products(), [&](const auto& x) { return x.FKey == p.FKey && x.FProduct == p.FProduct; }));
  // The fields of a key stay apart: moving a character from one to the other finds nothing.
  EXPECT_EQ(FRef.GetDeQualifiant("X00", "8B"), nullptr);
  EXPECT_EQ(FRef.GetPostal("100", "0B"), nullptr);
}

// Rows whose hashes all collide: probing still finds each key, and the first row of a key wins.
TEST(FirstRowIndex, CollisionsAndDuplicates) {
  const std::vector<std::string> keys = {"a", "b", "a", "c", "b", "", "c"};
  FirstRowIndex idx;
  idx.Build(
      keys.size(), [](std::size_t) { return 7u; }, [&](std::size_t i, std::size_t j) { return keys[i] == keys[j]; });
  auto find = [&](const std::string& k) { return idx.Find(7, [&](std::size_t i) { return keys[i] == k; }); };
  EXPECT_EQ(find("a"), 0u);
  EXPECT_EQ(find("b"), 1u);
  EXPECT_EQ(find("c"), 3u);
  EXPECT_EQ(find(""), 5u);
  EXPECT_EQ(find("d"), FirstRowIndex::npos);
  EXPECT_NE(HashFields("ab", "c"), HashFields("a", "bc"));
  EXPECT_EQ(FirstRowIndex().Find(7, [](std::size_t) { return true; }), FirstRowIndex::npos);
}

// The code index grows past its first table, keeps the first position of a code, and tells an
// absent code (also after clear) from a present one.
TEST(CodeIndex, FirstPositionWinsAcrossGrowth) {
  TCodeIndex idx;
  EXPECT_EQ(idx.Find("X001"), TCodeIndex::npos);
  for (std::size_t i = 0; i < 300; ++i) idx.emplace("X" + std::to_string(i), i);
  idx.emplace("X7", 999);
  idx.emplace("", 300);
  for (std::size_t i = 0; i < 300; ++i) ASSERT_EQ(idx.Find("X" + std::to_string(i)), i);
  EXPECT_EQ(idx.Find(""), 300u);
  EXPECT_EQ(idx.Find("X300"), TCodeIndex::npos);
  EXPECT_EQ(idx.Find("x7"), TCodeIndex::npos);  // codes are compared as they are
  idx.clear();
  EXPECT_EQ(idx.Find("X7"), TCodeIndex::npos);
}

TEST_P(ReferentialTest, NumericQualifiersCompareAsIntegers) {
  const TDeItem& x018 = FRef.GetDe("X018");
  bool obsolete = false;
  EXPECT_TRUE(x018.FQualifiant.IsValid("1", true, kMsgDate, obsolete));
  EXPECT_TRUE(x018.FQualifiant.IsValid("001", false, kMsgDate, obsolete));
  EXPECT_FALSE(x018.FQualifiant.IsValid("1", false, kMsgDate, obsolete));
  EXPECT_THROW(x018.FQualifiant.IsValid("1a", true, kMsgDate, obsolete), std::invalid_argument);
  const TDeItem& x010 = FRef.GetDe("X010");
  EXPECT_FALSE(x010.FQualifiant.IsValid("A299", false, kMsgDate, obsolete));
  EXPECT_TRUE(obsolete);
}

INSTANTIATE_TEST_SUITE_P(Sources, ReferentialTest, ::testing::Values("sqlite", "access"),
                         [](const auto& p) { return p.param; });

TEST(ReferentialText, StripLeadingZeros) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {{"0042", "42"}, {"000", "0"}, {"", "0"}, {"420", "420"}, {"0A0", "A0"}};
  for (auto& c : cases) EXPECT_EQ(StripLeadingZeros(c.in), c.out) << c.in;
}

TEST(ReferentialSettings, RegistryChoosesTheSource) {
  if (!common::FileExists(enginetest::SampleSqlite())) GTEST_SKIP();
  {
    TempMachineHive hive("nokey");
    ErrorBoxes boxes;
    TTelebib t;
    t.LoadSettings();
    EXPECT_FALSE(t.Initialized());
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "Unable to open registry key \"SOFTWARE\\tarnholt\\services\\Database\"");
  }
  {
    TempMachineHive hive("novalue");
    WriteDatabaseKey([](common::TRegistry& r) { r.WriteString("Other", "x"); });
    ErrorBoxes boxes;
    TTelebib t;
    t.LoadSettings();
    EXPECT_FALSE(t.Initialized());
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "Invalid registry settings for \"SOFTWARE\\tarnholt\\services\\Database, Referential\"");
  }
  {
    TempMachineHive hive("sqloff");
    WriteDatabaseKey([](common::TRegistry& r) {
      r.WriteInteger("Referential.Sql", 0);
      r.WriteString("Referential", enginetest::SampleSqlite());
    });
    TTelebib t;
    t.LoadSettings();
    EXPECT_TRUE(t.Initialized());
    EXPECT_FALSE(t.UseSql());
    EXPECT_EQ(t.AccessDbName(), enginetest::SampleSqlite());
  }
  {
    TempMachineHive hive("sqlnouser");
    WriteDatabaseKey([](common::TRegistry& r) {
      r.WriteInteger("Referential.Sql", 1);
      r.WriteString("Referential.SqlServer", "srv");
    });
    TTelebib t;
    EXPECT_THROW(
        try { t.LoadSettings(); } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "Invalid registry settings");
          throw;
        },
        std::runtime_error);
    EXPECT_FALSE(t.Initialized());
  }
  {
    // A refused server connection is a box, whose text repeats the failure's own prefix.
    TempMachineHive hive("sqlbad");
    WriteDatabaseKey([](common::TRegistry& r) {
      r.WriteInteger("Referential.Sql", 1);
      r.WriteString("Referential.SqlUserid", "sa");
      r.WriteString("Referential.SqlPassword", "s3cret");
      r.WriteString("Referential.SqlServer", "nowhere.invalid");
    });
    ErrorBoxes boxes;
    TTelebib t;
    t.LoadSettings();
    EXPECT_FALSE(t.Initialized());
    EXPECT_TRUE(t.UseSql());
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0].rfind("SqlConnect failed (SqlConnect failed (", 0), 0u) << boxes.texts[0];
    EXPECT_EQ(boxes.texts[0].find("s3cret"), std::string::npos);
  }
}

// The SQL Server path through ODBC, with Debian's SQLite driver standing in for the server (it
// takes the catalog REFERENTIEL as a file in the working folder): the same tables as the file,
// the version by query, a version change seen, and settings with ";" kept whole.
TEST(ReferentialSettings, SqlServerThroughOdbc) {
  const std::string driver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
  if (!common::FileExists(driver) || !common::FileExists(enginetest::SampleSqlite())) GTEST_SKIP();
  TempMachineHive hive("odbc");
  char tmpl[] = "/tmp/ruvala-odbc-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  // The driver by its file: the driver manager reads its list of drivers once per process.
  WriteDatabaseKey([&](common::TRegistry& r) { r.WriteString("Referential.OdbcDriver", driver); });
  {
    std::ifstream in(enginetest::SampleSqlite(), std::ios::binary);
    std::ofstream(dir + "/REFERENTIEL", std::ios::binary) << in.rdbuf();
  }
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);

  TTelebib file, sql;
  file.SetAccessDbName(enginetest::SampleSqlite());
  // A user name that would add its own catalog to an unquoted connection text.
  EXPECT_NO_THROW(sql.SqlConnect("verimek;Initial Catalog=/nonexistent/other.db", "pa;ss\"word", "localhost"));
  EXPECT_TRUE(sql.UseSql());
  EXPECT_EQ(sql.TableCounts(), file.TableCounts());
  EXPECT_EQ(sql.GetVersion(), "2.02.611.01");
  EXPECT_FALSE(sql.VersionHasChanged());

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir + "/REFERENTIEL").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "insert into version_referentiel values (3, '20270115')", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  EXPECT_TRUE(sql.VersionHasChanged());
  EXPECT_EQ(sql.GetVersion(), "2.02.701.15");
  EXPECT_NO_THROW(sql.Reload());
  EXPECT_EQ(sql.TableCounts(), file.TableCounts());

  ASSERT_EQ(chdir(cwd), 0);
  std::filesystem::remove_all(dir);
}

TEST(ReferentialSettings, UnusableFilesFailAndStayUninitialised) {
  std::string missing = common::TempFolder() + "ruvala-no-such-file.mdb";
  std::string garbage = common::TempFolder() + "ruvala-garbage-" + std::to_string(::getpid()) + ".mdb";
  std::ofstream(garbage) << "this is neither SQLite nor Access";
  for (const std::string& path : {missing, garbage}) {
    TTelebib t;
    try {
      t.SetAccessDbName(path);
      ADD_FAILURE() << "opened " << path;
    } catch (const std::runtime_error& e) {
      std::string prefix = "Open DB \"" + path + "\" failed (";
      EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << e.what();
    }
    EXPECT_FALSE(t.Initialized());
  }
  std::remove(garbage.c_str());
}
