// verimek-cli config / referential, run as a program against a private machine hive.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "DbTestUtil.h"

using namespace dbtest;

namespace {

struct TRun {
  int Status;
  std::string Out;
};

class CliReferential : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(Dir.File("odbcinst.ini")) << "[VerimekSQLite]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n"
                                            << "[FreeTDS]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so\n";
  }
  // Runs verimek-cli in the temporary folder with `input` on standard input; output and
  // errors together.
  TRun Cli(const std::string& args, const std::string& input = "") {
    std::ofstream(Dir.File("stdin.txt"), std::ios::trunc) << input;
    std::string cmd = "cd '" + Dir.Path.string() + "' && TARNHOLT_MACHINE_HIVE='" + Hive() + "' ODBCSYSINI='" +
                      Dir.Path.string() + "' '" + EDI_BINARY_DIR + "/bin/verimek-cli' " + args + " <stdin.txt 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    TRun r{-1, ""};
    char buf[4096];
    std::size_t n;
    while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) r.Out.append(buf, n);
    int st = p ? pclose(p) : -1;
    r.Status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
  }
  std::string Hive() const { return Dir.File("machine.reg"); }
  static std::string SampleDb() { return std::string(EDI_BINARY_DIR) + "/data/referential.db"; }
  TTempDir Dir;
};

}  // namespace

TEST_F(CliReferential, FileReferential) {
  TRun r = Cli("referential");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Out.find("cannot open HKEY_LOCAL_MACHINE\\SOFTWARE\\tarnholt\\services\\Database"), std::string::npos);

  r = Cli("config referential nowhere.db");
  EXPECT_EQ(r.Status, 1);
  EXPECT_FALSE(fs::exists(Hive()));

  r = Cli("config referential '" + SampleDb() + "'");
  ASSERT_EQ(r.Status, 0) << r.Out;
  std::string hive = ReadFile(Hive());
  EXPECT_NE(hive.find("\"Referential\"=\"" + SampleDb() + "\""), std::string::npos) << hive;
  EXPECT_NE(hive.find("\"Referential.Sql\"=dword:00000000"), std::string::npos) << hive;

  r = Cli("referential");
  EXPECT_EQ(r.Status, 0) << r.Out;
  EXPECT_EQ(r.Out.rfind("File: " + SampleDb() + "\nVersion: 2.02.611.01\nA_SEGMENT_LAYOUT   95\n", 0), 0u) << r.Out;
  for (const char* line : {"\nVALEUR             243\n", "\nIndex_Value        52\n", "\nCODEOCA            10\n"})
    EXPECT_NE(r.Out.find(line), std::string::npos) << line;
  EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 25) << r.Out;  // file, version, 23 tables
}

TEST_F(CliReferential, VersionTextIsCutIntoParts) {
  struct Case {
    const char *stored, *shown;
  } cases[] = {{"12345678", "1.23.456.78"}, {"123", "1.23.."}, {"20261101", "2.02.611.01"}, {"1234567890", "1.23.456.78"}};
  for (const Case& c : cases) {
    std::string db = Dir.File(std::string("v") + c.stored + ".db");
    ASSERT_EQ(MakeSqlite(db, std::string("create table version_referentiel (id integer, Version text);"
                                         "insert into version_referentiel values (1, '") +
                                 c.stored + "');"),
              "");
    ASSERT_EQ(Cli("config referential " + db).Status, 0);
    TRun r = Cli("referential");
    EXPECT_EQ(r.Status, 1);  // the other tables are missing
    EXPECT_NE(r.Out.find(std::string("\nVersion: ") + c.shown + "\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("A_SEGMENT          (no such table: A_SEGMENT)"), std::string::npos) << r.Out;
  }
}

TEST_F(CliReferential, SqlReferentialThroughOdbc) {
  if (!fs::exists("/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so")) GTEST_SKIP() << "no SQLite ODBC driver";
  // The SQLite driver takes the catalog name REFERENTIEL as a file in the working folder.
  fs::copy_file(SampleDb(), Dir.File("REFERENTIEL"));
  const std::string secret = "s3cr;t\"pw";
  TRun r = Cli("config sql --server localhost --user verimek --password-stdin --driver VerimekSQLite", secret + "\n");
  ASSERT_EQ(r.Status, 0) << r.Out;
  EXPECT_EQ(r.Out.find(secret), std::string::npos);
  std::string hive = ReadFile(Hive());
  for (const char* v : {"\"Referential.Sql\"=dword:00000001", "\"Referential.SqlServer\"=\"localhost\"",
                        "\"Referential.SqlUserid\"=\"verimek\"", "\"Referential.OdbcDriver\"=\"VerimekSQLite\""})
    EXPECT_NE(hive.find(v), std::string::npos) << v << "\n" << hive;
  EXPECT_NE(hive.find("\"Referential.SqlPassword\"="), std::string::npos) << hive;

  r = Cli("referential");
  EXPECT_EQ(r.Status, 0) << r.Out;
  EXPECT_EQ(r.Out.rfind("Server: localhost (catalog REFERENTIEL, user verimek, ODBC driver VerimekSQLite)\n"
                        "Version: 2.02.611.01\nA_SEGMENT_LAYOUT   95\n",
                        0),
            0u)
      << r.Out;
  EXPECT_NE(r.Out.find("\nPRODUCT            13\n"), std::string::npos) << r.Out;

  // A server that refuses the connection: the reason, never the password.
  if (fs::exists("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so")) {
    ASSERT_EQ(Cli("config sql --server 127.0.0.1,1 --user sa --driver FreeTDS").Status, 0);
    r = Cli("referential");
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Out.find("cannot open the referential (Connecting with driver \"FreeTDS\" failed: ["), std::string::npos)
        << r.Out;
    EXPECT_EQ(r.Out.find("s3cr"), std::string::npos) << r.Out;
  }
}

TEST_F(CliReferential, InvalidSettings) {
  std::ofstream(Hive()) << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tarnholt\\services\\"
                           "Database]\n\"Referential.Sql\"=dword:00000001\n\"Referential.SqlUserid\"=\"u\"\n";
  TRun r = Cli("referential");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out, "verimek-cli: Invalid registry settings\n");
  std::ofstream(Hive(), std::ios::trunc) << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\"
                                            "tarnholt\\services\\Database]\n\"Referential.Sql\"=dword:00000000\n";
  r = Cli("referential");
  EXPECT_EQ(r.Out, "verimek-cli: Invalid registry settings for \"SOFTWARE\\tarnholt\\services\\Database, Referential\"\n");
  for (const char* bad : {"config", "config sql --user u", "config sql --server s", "config referential", "referential x"})
    EXPECT_EQ(Cli(bad).Status, 2) << bad;
}
