// verimek-cli config / referential, run as a program against a private machine hive.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "DbTestUtil.h"
#include "registry/Registry.h"

using namespace dbtest;

namespace {

struct TRun {
  int Status;
  std::string Out;
};

class CliReferential : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(Dir.File("odbcinst.ini"))
        << "[VerimekSQLite]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n"
        << "[FreeTDS]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so\n";
    // referential loads the referential through the engine component, as a validation does.
    const std::string lib = std::string(EDI_BINARY_DIR) + "/lib/";
    ASSERT_EQ(Cli("register '" + lib + "libkalvix.so' '" + lib + "libruvala.so'").Status, 0);
  }
  // Runs verimek-cli in the temporary folder with `input` on standard input; output and
  // errors together (a redirection in `args` moves the output only). `before` runs first in
  // the same shell.
  TRun Cli(const std::string& args, const std::string& input = "", const std::string& before = "") {
    std::ofstream(Dir.File("stdin.txt"), std::ios::trunc) << input;
    std::string cmd = "cd '" + Dir.Path.string() + "' && " + before + "{ TARNHOLT_MACHINE_HIVE='" + Hive() +
                      "' TARNHOLT_USER_HIVE='" + Dir.File("user.reg") + "' ODBCSYSINI='" + Dir.Path.string() + "' '" +
                      EDI_BINARY_DIR + "/bin/verimek-cli' " + args + "; } <stdin.txt 2>&1";
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
  std::string Secret() const { return Dir.File("machine-secret.reg"); }
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
  EXPECT_EQ(ReadFile(Hive()).find("\"Referential"), std::string::npos);

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
  } cases[] = {
      {"12345678", "1.23.456.78"}, {"123", "1.23.."}, {"20261101", "2.02.611.01"}, {"1234567890", "1.23.456.78"}};
  for (const Case& c : cases) {
    // The sample referential with another version: the engine loads every table first.
    std::string db = Dir.File(std::string("v") + c.stored + ".db");
    fs::copy_file(SampleDb(), db);
    ASSERT_EQ(MakeSqlite(db, std::string("update version_referentiel set Version = '") + c.stored + "' where id = 2"),
              "");
    ASSERT_EQ(Cli("config referential " + db).Status, 0);
    TRun r = Cli("referential");
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_NE(r.Out.find(std::string("\nVersion: ") + c.shown + "\n"), std::string::npos) << r.Out;
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
  EXPECT_EQ(hive.find("SqlPassword"), std::string::npos) << hive;
  EXPECT_NE(ReadFile(Secret()).find("\"Referential.SqlPassword\"="), std::string::npos);

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
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Out.find("SqlConnect failed (SqlConnect failed (Connecting with driver \"FreeTDS\" failed: ["),
              std::string::npos)
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
  EXPECT_EQ(r.Out,
            "verimek-cli: Invalid registry settings for \"SOFTWARE\\tarnholt\\services\\Database, Referential\"\n");
  for (const char* bad :
       {"config", "config sql --user u", "config sql --server s", "config referential", "referential x"})
    EXPECT_EQ(Cli(bad).Status, 2) << bad;
}

// The SQL Server password never lies in a world-readable file: it goes to the hive's secret
// file, the engine's registry reads it back under the same key, and switching to a file
// referential removes it.
TEST_F(CliReferential, SqlPasswordOnlyInTheSecretFile) {
  auto mode = [](const std::string& f) {
    struct stat st {};
    return ::stat(f.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
  };
  auto readBack = [&](const char* name) {
    ::setenv("TARNHOLT_MACHINE_HIVE", Hive().c_str(), 1);
    common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
    std::string v = reg.OpenKeyReadOnly("SOFTWARE\\tarnholt\\services\\Database") ? reg.ReadString(name) : "?";
    ::unsetenv("TARNHOLT_MACHINE_HIVE");
    return v;
  };
  ASSERT_EQ(Cli("config sql --server db1 --user u --password-stdin", "pa\"ss;word\n").Status, 0);
  EXPECT_EQ(mode(Hive()), 0644);
  EXPECT_EQ(mode(Secret()), 0640);
  if (::geteuid() == 0) {
    struct stat st {};
    ASSERT_EQ(::stat(Secret().c_str(), &st), 0);
    const struct group* g = ::getgrnam("tarnholt");
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, g ? g->gr_gid : 0u);
  }
  EXPECT_EQ(ReadFile(Hive()).find("SqlPassword"), std::string::npos) << ReadFile(Hive());
  EXPECT_EQ(readBack("Referential.SqlPassword"), "pa\"ss;word");
  EXPECT_EQ(readBack("Referential.SqlServer"), "db1");
  // Other values keep their file; a later write leaves the password where it is.
  ASSERT_EQ(Cli("config sql --server db2 --user u").Status, 0);
  EXPECT_EQ(readBack("Referential.SqlPassword"), "pa\"ss;word");
  EXPECT_EQ(ReadFile(Secret()).find("db2"), std::string::npos);
  EXPECT_EQ(ReadFile(Hive()).find("SqlPassword"), std::string::npos);

  ASSERT_EQ(Cli("config referential '" + SampleDb() + "'").Status, 0);
  EXPECT_EQ(readBack("Referential.SqlPassword"), "");
  EXPECT_EQ(ReadFile(Secret()).find("SqlPassword"), std::string::npos) << ReadFile(Secret());
  EXPECT_EQ(ReadFile(Hive()).find("SqlPassword"), std::string::npos);

  // A hive written before the secret file existed: the next config write moves the password.
  fs::remove(Secret());
  std::ofstream(Hive(), std::ios::trunc) << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\"
                                            "tarnholt\\services\\Database]\n\"Referential.Sql\"=dword:00000001\n"
                                            "\"Referential.SqlPassword\"=\"old\"\n";
  EXPECT_EQ(readBack("Referential.SqlPassword"), "old");
  ASSERT_EQ(Cli("config sql --server db3 --user u").Status, 0);
  EXPECT_EQ(ReadFile(Hive()).find("SqlPassword"), std::string::npos) << ReadFile(Hive());
  EXPECT_EQ(mode(Secret()), 0640);
  EXPECT_EQ(readBack("Referential.SqlPassword"), "old");
}

// A write to standard output that fails ends the command with status 2, never 0.
TEST_F(CliReferential, FailedOutputFailsTheCommand) {
  std::ofstream(Dir.File("s.vs")) << "x := 1";
  for (const std::string& args : {"config referential '" + SampleDb() + "'", std::string("referential"),
                                  std::string("config sql --server s --user u"), std::string("script s.vs")}) {
    if (args == "referential") {
      ASSERT_EQ(Cli("config referential '" + SampleDb() + "'").Status, 0);
    }
    TRun r = Cli(args + " >/dev/full");
    EXPECT_EQ(r.Status, 2) << args;
    EXPECT_NE(r.Out.find("verimek-cli: cannot write standard output (No space left on device)"), std::string::npos)
        << args;
    EXPECT_EQ(Cli(args + " >/dev/null").Status, 0) << args;
  }
}

// script: a run past the memory limit ends like a step overrun; memory running out anywhere
// else ends the command with status 2 and the reason, not an abort.
TEST_F(CliReferential, ScriptMemoryIsBounded) {
  std::ofstream(Dir.File("cow.vs"))
      << "SetArray(a, INTEGER, 1000000); b := a; a[0] := 1; c := a; a[0] := 2; d := a; a[0] := 3; "
         "e := a; a[0] := 4; f := a; a[0] := 5; g := a; a[0] := 6; result := true";
  TRun r = Cli("script cow.vs");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Out.find("Runtime Error: Script memory limit of 256 MiB exceeded. [line: 1, column: "), std::string::npos)
      << r.Out.substr(0, 300);
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit and the sanitizer's shadow memory do not mix";
#else
  // A 64 MB script cannot be read within 100 MB of address space.
  {
    std::ofstream big(Dir.File("big.vs"));
    big << "{" << std::string(64'000'000, 'x') << "}";
  }
  r = Cli("script big.vs", "", "ulimit -v 100000; ");
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Out, "verimek-cli: script failed (std::bad_alloc)\n");
#endif
}
