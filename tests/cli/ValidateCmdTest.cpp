// verimek-cli validate and results against the stand-in engine registered by class id:
// summaries, exit statuses, stopping on the first error, and --jobs giving the same database.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../common/TempHives.h"

namespace {

namespace fs = std::filesystem;

struct Result {
  int Status;
  std::string Out, Err;
};

class ValidateCmdTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    FHives = new TempHives();
    ASSERT_EQ(Run({"register", EDI_FAKE_ENGINE}).Status, 0);
  }
  static void TearDownTestSuite() {
    delete FHives;
    FHives = nullptr;
  }
  void SetUp() override {
    char tmpl[] = "/tmp/verimek-cli-test-XXXXXX";
    FDir = mkdtemp(tmpl);
  }
  void TearDown() override { fs::remove_all(FDir); }

  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static Result Run(const std::vector<std::string>& args, const std::string& dir = "/tmp") {
    std::string cmd = std::string("'") + EDI_BINARY_DIR + "/bin/verimek-cli'";
    for (const std::string& a : args) cmd += " '" + a + "'";
    const std::string out = dir + "/out.txt", err = dir + "/err.txt";
    int rc = std::system((cmd + " >'" + out + "' 2>'" + err + "'").c_str());
    Result r{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, Slurp(out), Slurp(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
  }
  std::string Write(const std::string& name, const std::string& text) {
    std::string path = FDir + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // Every row of every table, in id order, through sqlite3's own dump of the values.
  std::string Dump(const std::string& db) {
    std::string all;
    for (const char* t : {"Messages", "Data", "Errors", "Warnings", "ErrorCodes"}) {
      Result r = Run({"results", db, "--json"}, FDir);  // keeps the tool exercised on the file
      EXPECT_EQ(r.Status, 0) << r.Err;
      std::string cmd = "sqlite3 '" + db + "' 'select * from " + t + " order by rowid' > '" + FDir + "/dump.txt'";
      if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "sqlite3 failed";
      all += std::string(t) + "\n" + Slurp(FDir + "/dump.txt");
    }
    return all;
  }

  static TempHives* FHives;
  std::string FDir;
};

TempHives* ValidateCmdTest::FHives = nullptr;

// The text summary with every run of blanks made one space, for comparing rows.
std::string Squeezed(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != ' ' || (!out.empty() && out.back() != ' ' && out.back() != '\n')) out.push_back(c);
  return out;
}

const char kValid[] = "XGH+1+0039+104512+002'XEH+90+1+0201+1++10'XET+90'XGT+1'\n";
const char kWarn[] = "XGH+1+0039+104512+002'XEH+90+1+0201+1++10'FAKE+W+W0001+2+XEH+Obsolete'XET+90'XGT+1'\n";
const char kError[] = "XGH+1+12+104512'XEH+01+1+7'FAKE+E+E0001+0++It?'s broken'XET+01'XEH+02+1+8'XET+02'XGT+1'\n";

// Everything the file sheet shows can be read from a terminal: by text, and a page of messages.
TEST_F(ValidateCmdTest, ResultsByTextAndPages) {
  const std::string db = FDir + "/r.db";
  ASSERT_EQ(Run({"validate", Write("in.txt", std::string(kValid) + kError + kWarn), "--db", db}, FDir).Status, 1);
  Result r = Run({"results", db, "--by-text"}, FDir);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(Squeezed(r.Out).find("\nBy Error Message\n1 100.00 It's broken\n"), std::string::npos) << r.Out;
  EXPECT_NE(Squeezed(r.Out).find("\nBy Warning Message\n1 100.00 Obsolete\n"), std::string::npos) << r.Out;
  r = Run({"results", db, "--by-text", "--json"}, FDir);
  EXPECT_NE(r.Out.find(",\"errorsByText\":[{\"text\":\"It's broken\",\"count\":1,\"percent\":100.00}]"),
            std::string::npos)
      << r.Out;

  r = Run({"results", db, "--page", "1", "--rows", "2"}, FDir);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "ID\tXEH ID\tX921\tX923\tX925\tX912\tX916\tErrors\tWarnings\n"
            "2\t1\t0012\t104512\t\t7\t\t1\t0\n"
            "3\t2\t0012\t104512\t\t8\t\t0\t0\n"
            "Records 2 to 3 of 4\n");
  r = Run({"results", db, "--page", "-3", "--rows", "1", "--json"}, FDir);
  EXPECT_EQ(r.Out.rfind("{\"offset\":0,\"total\":4,\"messages\":[{\"id\":1,", 0), 0u) << r.Out;
  EXPECT_EQ(Run({"results", db, "--page", "1"}, FDir).Status, 2);
  EXPECT_EQ(Run({"results", db, "--page", "1", "--rows", "2", "--message", "1"}, FDir).Status, 2);
}

TEST_F(ValidateCmdTest, SummaryAndExitStatus) {
  const std::string file = Write("in.txt", std::string(kValid) + kValid + kValid + kError + kWarn);
  Result r = Run({"validate", file, "--json"}, FDir);
  EXPECT_EQ(r.Status, 1) << r.Err;  // one message has an error
  EXPECT_EQ(r.Out,
            "{\"global\":[{\"caption\":\"Messages valid\",\"count\":4,\"percent\":66.67},"
            "{\"caption\":\"Messages with error(s)\",\"count\":1,\"percent\":16.67},"
            "{\"caption\":\"Messages with warning(s)\",\"count\":1,\"percent\":16.67},"
            "{\"caption\":\"Total\",\"count\":6}],"
            "\"errorsByCode\":[{\"code\":\"E0001\",\"text\":\"Exception %s\",\"count\":1,\"percent\":100.00}],"
            "\"warningsByCode\":[{\"code\":\"W0001\",\"text\":\"Obsolete\",\"count\":1,\"percent\":100.00}],"
            "\"lineErrors\":0}\n");
  EXPECT_EQ(r.Err, "");

  r = Run({"validate", Write("ok.txt", std::string(kValid) + kWarn)}, FDir);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(Squeezed(r.Out).find("1 50.00 Messages valid\n"), std::string::npos) << r.Out;
  EXPECT_NE(Squeezed(r.Out).find("1 100.00 W0001 : Obsolete\n"), std::string::npos) << r.Out;

  r = Run({"validate", Write("empty.txt", "")}, FDir);
  EXPECT_EQ(r.Status, 0);
  EXPECT_NE(Squeezed(r.Out).find("0 0.00 Messages with error(s)"), std::string::npos) << r.Out;

  r = Run({"validate", FDir + "/missing.txt"}, FDir);
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Err, "verimek-cli: Cannot open file \"" + FDir + "/missing.txt\" (No such file or directory)\n");
  EXPECT_EQ(r.Out, "");
}

TEST_F(ValidateCmdTest, LineErrorsGoOnUnlessStopped) {
  const std::string file = Write("in.txt", std::string(kValid) + "junk\n" + kValid + "XGH+1'\n" + kValid);
  const std::string db = FDir + "/r.db";
  Result r = Run({"validate", file, "--db", db}, FDir);
  EXPECT_EQ(r.Status, 1);  // lines that failed are no success
  EXPECT_EQ(r.Err,
            "2\tGetExchangeType failed (Missing XGH)\n4\tGetExchangeType failed (Missing XEH)\nresults database: " +
                db + "\n");
  EXPECT_NE(Squeezed(r.Out).find("3 Total\n"), std::string::npos) << r.Out;
  EXPECT_TRUE(fs::exists(db));  // a named database is kept

  fs::remove(db);
  r = Run({"validate", file, "--db", db, "--stop-on-error"}, FDir);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "2\tGetExchangeType failed (Missing XGH)\nresults database: " + db + "\n");
  EXPECT_NE(Squeezed(r.Out).find("1 Total\n"), std::string::npos) << r.Out;
}

TEST_F(ValidateCmdTest, TemporaryDatabaseIsDeletedUnlessKept) {
  const std::string tmp = FDir + "/tmp";
  fs::create_directory(tmp);
  setenv("TMPDIR", tmp.c_str(), 1);
  const std::string file = Write("in.txt", kValid);
  Result r = Run({"validate", file}, FDir);
  EXPECT_EQ(r.Status, 0);
  EXPECT_TRUE(fs::is_empty(tmp));
  r = Run({"validate", file, "--keepdb"}, FDir);
  unsetenv("TMPDIR");
  std::size_t dbs = 0;
  for (const auto& e : fs::directory_iterator(tmp))
    if (e.path().extension() == ".db" && e.path().filename().string().rfind("sql", 0) == 0) ++dbs;
  EXPECT_EQ(dbs, 1u);
  EXPECT_NE(r.Err.find("results database: " + tmp + "/sql"), std::string::npos) << r.Err;
}

TEST_F(ValidateCmdTest, JobsGiveTheSameDatabase) {
  std::string text;
  for (int i = 0; i < 60; ++i) text += i % 5 == 0 ? kError : i % 7 == 0 ? "bad\n" : i % 3 == 0 ? kWarn : kValid;
  const std::string file = Write("in.txt", text);
  const std::string one = FDir + "/one.db", two = FDir + "/two.db", three = FDir + "/three.db";
  Result r1 = Run({"validate", file, "--db", one}, FDir);
  Result r2 = Run({"validate", file, "--db", two, "--jobs", "2"}, FDir);
  Result r3 = Run({"validate", file, "--db", three, "--jobs", "3", "--stop-on-error"}, FDir);
  EXPECT_EQ(r1.Status, 1);
  EXPECT_EQ(r2.Status, 1);
  EXPECT_EQ(r1.Out, r2.Out);
  EXPECT_EQ(r1.Err.substr(0, r1.Err.find("results")), r2.Err.substr(0, r2.Err.find("results")));
  const std::string d1 = Dump(one);
  EXPECT_GT(d1.size(), 1000u);
  EXPECT_EQ(d1, Dump(two));
  // Stopped at the first failing line (8): the rows of the 7 lines before it.
  EXPECT_EQ(r3.Err.substr(0, r3.Err.find('\n')), "8\tGetExchangeType failed (Missing XGH)");
  EXPECT_NE(Squeezed(r3.Out).find("9 Total\n"), std::string::npos) << r3.Out;
}

TEST_F(ValidateCmdTest, ResultsOfOneMessage) {
  const std::string db = FDir + "/r.db";
  Run({"validate", Write("in.txt", std::string(kValid) + kError), "--db", db}, FDir);
  Result r = Run({"results", db, "--message", "2"}, FDir);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "XGH+1+12+104512'XEH+01+1+7'FAKE+E+E0001+0++It?'s broken'XET+01'XGT+1'\n\n"
            "Errors (1)\n0\t\tE0001\tIt's broken\n\nWarnings (0)\n");
  r = Run({"results", db, "--message", "3", "--json"}, FDir);
  EXPECT_EQ(r.Out,
            "{\"id\":3,\"xehId\":2,\"text\":\"XGH+1+12+104512'XEH+02+1+8'XET+02'XGT+1'\","
            "\"errors\":[],\"warnings\":[]}\n");
  r = Run({"results", db, "--message", "9"}, FDir);
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Err, "verimek-cli: Message 9 not found\n");
  r = Run({"results", FDir + "/none.db"}, FDir);
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Err, "verimek-cli: File \"" + FDir + "/none.db\" not found\n");
}

}  // namespace
