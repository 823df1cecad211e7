// The ODBC backend through Debian's SQLite ODBC driver, registered in a temporary
// odbcinst.ini, against the same files read directly; login failures through FreeTDS.
#include <gtest/gtest.h>

#include "DbTestUtil.h"
#include "db/DbAccess.h"
#include "registry/Registry.h"

using namespace common::db;
using namespace dbtest;

namespace {

const char* kSqliteDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
const char* kTdsDriver = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";

// A private driver list and machine hive for one test.
class DbOdbc : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kSqliteDriver)) GTEST_SKIP() << kSqliteDriver << " is not installed";
    std::ofstream(Dir.File("odbcinst.ini"))
        << "[VerimekSQLite]\nDriver=" << kSqliteDriver << "\n\n[FreeTDS]\nDriver=" << kTdsDriver << "\n";
    setenv("ODBCSYSINI", Dir.Path.c_str(), 1);
    setenv("TARNHOLT_MACHINE_HIVE", Dir.File("machine.reg").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ODBCSYSINI");
    unsetenv("TARNHOLT_MACHINE_HIVE");
  }
  static void SetDriver(const std::string& name) {
    common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\tarnholt\\services\\Database", true));
    reg.WriteString("Referential.OdbcDriver", name);
  }
  static std::string SqlText(const std::string& catalog, const std::string& server = "ignored",
                             const std::string& password = "pw") {
    return "Provider=SQLOLEDB.1;Password=" + password +
           ";Persist Security Info=True;User ID=verimek;Initial Catalog=" + catalog + ";Data Source=" + server;
  }
  TTempDir Dir;
};

}  // namespace

TEST_F(DbOdbc, DriverNameFromTheRegistry) {
  EXPECT_EQ(DbOdbcDriver(), "FreeTDS");
  SetDriver("VerimekSQLite");
  EXPECT_EQ(DbOdbcDriver(), "VerimekSQLite");
  SetDriver("");
  EXPECT_EQ(DbOdbcDriver(), "FreeTDS");
}

TEST_F(DbOdbc, SampleReferentialMatchesTheFile) {
  SetDriver("VerimekSQLite");
  std::string file = std::string(EDI_BINARY_DIR) + "/data/referential.db";
  auto odbc = OpenConnection(SqlText(file));
  auto lite = OpenConnection(JetText(file));
  EXPECT_EQ(odbc->BackendName(), "ODBC");
  EXPECT_FALSE(odbc->IsSqlServer());
  for (const std::string& q : ReferentialQueries()) EXPECT_EQ(Rows(*odbc->Query(q)), Rows(*lite->Query(q))) << q;
  EXPECT_EQ(Rows(*odbc->Query("Select top 1 Version From version_referentiel order by id desc")),
            (std::vector<std::string>{"T:20261101"}));
  auto t = odbc->OpenTable("version_referentiel");
  EXPECT_EQ(Rows(*t), Rows(*lite->OpenTable("version_referentiel")));
  EXPECT_TRUE(t->Locate({{"Version", "20250601"}}));
  EXPECT_EQ(t->AsInteger("id"), 1);
  EXPECT_FALSE(t->Locate({{"Version", "2025"}}));
}

TEST_F(DbOdbc, EveryTypeMatchesTheOtherBackends) {
  SetDriver("VerimekSQLite");
  if (!fs::exists(Shared("fixtures/access/types.sql"))) GTEST_SKIP() << "shared fixtures absent";
  ASSERT_EQ(MakeSqlite(Dir.File("types.db"), ReadFile(Shared("fixtures/access/types.sql"))), "");
  auto odbc = OpenConnection(SqlText(Dir.File("types.db")));
  auto lite = OpenConnection(JetText(Dir.File("types.db")));
  std::unique_ptr<TDbConnection> mdb;
  if (fs::exists(Shared("fixtures/access/types.mdb")))
    mdb = OpenConnection(JetText(Shared("fixtures/access/types.mdb")));
  // The SQLite ODBC driver converts doubles through text and may lose the last digit
  // (0.30000000000000004 arrives as 0.29999999999999999): floats compare to 15 digits.
  for (const char* t : {"AllTypes", "Ordered", "NoKey", "EmptyTable"}) {
    std::string q = std::string("select * from ") + t + " order by 1, 2";
    auto rows = Rows(*odbc->Query(q), 15);
    EXPECT_EQ(rows, Rows(*lite->Query(q), 15)) << t;
    if (mdb) {
      EXPECT_EQ(rows, Rows(*mdb->Query(q), 15)) << t;
    }
  }
  auto rs = odbc->Query("select Txt, Memo, N, X from AllTypes where id = 4");
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->AsString("txt"), "Éléments assurés €");
  EXPECT_EQ(rs->AsInteger("N"), -2147483647 - 1);
  EXPECT_EQ(ErrorOf([&] { odbc->Query("select nope from AllTypes"); }).rfind("Query failed: [", 0), 0u);
}

TEST_F(DbOdbc, FailuresNeverShowThePassword) {
  const std::string secret = "Pw-s3cr3t";
  SetDriver("NoSuchDriver");
  std::string e = ErrorOf([&] { OpenConnection(SqlText("REFERENTIEL", "srv", secret)); });
  EXPECT_EQ(e.rfind("Connecting with driver \"NoSuchDriver\" failed: [", 0), 0u) << e;
  EXPECT_EQ(e.find(secret), std::string::npos) << e;
  if (fs::exists(kTdsDriver)) {
    // Nothing listens on port 1: the login fails at once, with the driver's reason.
    SetDriver("FreeTDS");
    e = ErrorOf([&] { OpenConnection(SqlText("REFERENTIEL", "127.0.0.1,1", secret)); });
    EXPECT_EQ(e.rfind("Connecting with driver \"FreeTDS\" failed: [", 0), 0u) << e;
    if (getenv("DB_VERBOSE")) std::printf("%s\n", e.c_str());
    EXPECT_EQ(e.find(secret), std::string::npos) << e;
  }
  EXPECT_EQ(MaskPassword(SqlText("C", "S", secret)).find(secret), std::string::npos);
}
