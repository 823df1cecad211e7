// verimek-cli check: output lines, JSON and exit status, run as a separate process.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "EngineTestSupport.h"
#include "Registry.h"

namespace {

struct Result {
  int status;
  std::string out;
};

// Standard output only; with `errors`, standard error after it as well.
Result RunCli(const std::string& args, bool errors = false) {
  std::string cmd = std::string(EDI_BINARY_DIR) + "/bin/verimek-cli " + args + (errors ? " 2>&1" : " 2>/dev/null");
  FILE* p = popen(cmd.c_str(), "r");
  Result r{-1, ""};
  if (!p) return r;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

Result RunCliAll(const std::string& args) { return RunCli(args, true); }

std::string WriteTemp(const std::string& name, const std::string& text) {
  std::string path = common::TempFolder() + "ruvala-cli-" + name + "-" + std::to_string(::getpid()) + ".txt";
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string SampleLine(int n) {
  std::ifstream in(enginetest::SamplesDir() + "with-findings.txt");
  std::string line;
  for (int i = 0; i < n; ++i) std::getline(in, line);
  return line;
}

}  // namespace

TEST(CliCheck, PrintsFindingsAndExitStatus) {
  if (!common::FileExists(enginetest::SampleSqlite()) || !common::FileExists(enginetest::SamplesDir() + "valid.txt"))
    GTEST_SKIP() << "no sample data";
  enginetest::TempMachineHive hive("cli");
  std::string userHive = hive.Path() + ".user";
  ::setenv("TARNHOLT_USER_HIVE", userHive.c_str(), 1);
  ASSERT_EQ(RunCli("register").status, 0);
  std::string msg = WriteTemp("l33", SampleLine(33));
  // No referential configured: the configuration box goes to standard error, status 2.
  EXPECT_EQ(RunCli("check " + msg).status, 2);
  {
    common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\tarnholt\\services\\Database", true));
    reg.WriteString("Referential", enginetest::SampleSqlite());
  }
  Result r = RunCli("check " + msg + " --message-date 2025-06-30");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "E\t11\tROD+110'ICD+999\tE0009\tInvalid value for \"C095:1, X058:1\", found \"999\"\n"
            "E\t12\tROD+110'ICD+999'IFD+RCBASE\tE0020\tInvalid formula for \"C090:1, X062:1\", Oca=\"0039\", "
            "Guarantee=\"999\", Formula=\"RCBASE\"\n");
  EXPECT_EQ(RunCli("check " + msg + " --no-check-filter").out, "");  // an insurance check: filter mode only

  std::string warn = WriteTemp("l1", SampleLine(1));
  r = RunCli("check --json " + warn);
  EXPECT_EQ(r.status, 0);  // warnings only
  EXPECT_EQ(r.out,
            "{\n  \"errors\": [],\n  \"warnings\": [\n    {\"segmentNo\": 5, \"segmentKey\": \"ATT+A020\", \"code\": "
            "\"W0001\", \"message\": \"Obsolete value for \\\"C005:1, X011:1\\\", found \\\"9\\\"\"}\n  ]\n}\n");
  // An indented message is unindented first.
  std::string indented = WriteTemp("indented", "XGH+1+0039+104512+002'\n  XEH+90+1+0201+1++10'\n  XET+90'\nXGT+1'\n");
  EXPECT_EQ(RunCli("check " + indented).status, 0);
  EXPECT_EQ(RunCli("check " + common::TempFolder() + "ruvala-cli-missing.txt").status, 2);
  EXPECT_EQ(RunCli("check " + common::TempFolder()).status, 2);  // a directory opens but cannot be read
  EXPECT_EQ(RunCli("check " + msg + " --message-date 2025-02-30").status, 2);
  for (const std::string& f : {msg, warn, indented, userHive}) std::remove(f.c_str());
  ::unsetenv("TARNHOLT_USER_HIVE");
}

// referential loads what a validation loads: a referential the engine cannot load fails there
// with check's message and exit status, not with row counts.
TEST(CliCheck, ReferentialFailsWhereCheckFails) {
  if (!common::FileExists(enginetest::SampleSqlite()) || !common::FileExists(enginetest::SampleEngineSqlite()))
    GTEST_SKIP() << "no sample data";
  enginetest::TempMachineHive hive("cli-ref");
  std::string userHive = hive.Path() + ".user";
  ::setenv("TARNHOLT_USER_HIVE", userHive.c_str(), 1);
  ASSERT_EQ(RunCli("register").status, 0);
  const std::string dir = common::TempFolder() + "ruvala-cli-ref-" + std::to_string(::getpid()) + "/";
  ::mkdir(dir.c_str(), 0755);
  std::string msg = WriteTemp("ref", SampleLine(33));
  struct Case {
    const char *change, *reason;
  } cases[] = {
      {"alter table VALEUR drop column DatDel", "no such column: DatDel"},
      // A table no check consults is loaded all the same.
      {"drop table CODETELEBIB", "no such table: CODETELEBIB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    // A copy of the sample referential with the engine database beside it, then one change.
    const std::string db = dir + "Referentiel.db";
    std::remove(db.c_str());
    std::ifstream src(enginetest::SampleSqlite(), std::ios::binary);
    std::ofstream(db, std::ios::binary) << src.rdbuf();
    std::ifstream eng(enginetest::SampleEngineSqlite(), std::ios::binary);
    std::ofstream(dir + "Ruvala.db", std::ios::binary) << eng.rdbuf();
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(h, c.change, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(h);
    ASSERT_EQ(RunCli("config referential " + db).status, 0);

    const std::string failure = "verimek-cli: Open DB \"" + db + "\" failed (" + c.reason + ")\n";
    Result check = RunCliAll("check " + msg);
    EXPECT_EQ(check.status, 2);
    EXPECT_EQ(check.out, failure);
    Result ref = RunCliAll("referential");
    EXPECT_EQ(ref.status, check.status);
    EXPECT_EQ(ref.out, "File: " + db + "\n" + failure);
  }
  // The sample itself loads: its rows as the engine counts them.
  ASSERT_EQ(RunCli("config referential " + enginetest::SampleSqlite()).status, 0);
  Result ok = RunCliAll("referential");
  EXPECT_EQ(ok.status, 0);
  EXPECT_NE(ok.out.find("\nVALEUR             243\n"), std::string::npos) << ok.out;
  for (const char* f : {"Referentiel.db", "Ruvala.db"}) std::remove((dir + f).c_str());
  ::rmdir(dir.c_str());
  for (const std::string& f : {msg, userHive}) std::remove(f.c_str());
  ::unsetenv("TARNHOLT_USER_HIVE");
}

// check and validate read --message-date alike: same forms, same diagnostic, before any file is read.
TEST(CliCheck, MessageDateReadAsValidateReadsIt) {
  const std::string missing = common::TempFolder() + "ruvala-cli-no-such-file.txt";
  auto errorsOf = [&](const std::string& command, const std::string& date) {
    std::string cmd = std::string(EDI_BINARY_DIR) + "/bin/verimek-cli " + command + " '" + missing +
                      "' --message-date '" + date + "' 2>&1 >/dev/null";
    Result r{-1, ""};
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
  };
  for (const char* bad : {"2025-02-30", "2025-13-01", "2025-6-30", " 2025-06-30", "2025-06-30x", ""}) {
    for (const char* command : {"check", "validate"}) {
      SCOPED_TRACE(std::string(command) + " '" + bad + "'");
      Result r = errorsOf(command, bad);
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.out, "verimek-cli: invalid date \"" + std::string(bad) + "\" (expecting YYYY-MM-DD)\n");
    }
  }
  for (const char* command : {"check", "validate"}) {
    Result r = errorsOf(command, "2024-02-29");
    EXPECT_EQ(r.status, 2) << command;  // the missing file, not the date
    EXPECT_EQ(r.out.find("invalid date"), std::string::npos) << command << ": " << r.out;
  }
}
