// verimek-cli validate with the real components and the sample referential: the results
// database of with-findings.txt holds exactly the expected rows (FILTER mode), multi-message.txt
// is split in three, and --jobs 2 writes the same database as one job.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../common/TempHives.h"
#include "Platform.h"
#include "SysSqlite.h"

namespace {

namespace fs = std::filesystem;

const std::string kLib = std::string(EDI_BINARY_DIR) + "/lib/";
const std::string kReferential = std::string(EDI_BINARY_DIR) + "/data/referential.db";
const std::string kSamples = std::string(EDI_SHARED_DIR) + "/samples/";

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    out.push_back(l);
  }
  return out;
}

int RunCli(const std::string& args) {
  std::string cmd = "'" + std::string(EDI_BINARY_DIR) + "/bin/verimek-cli' " + args + " >/dev/null 2>&1";
  int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// A finding row as "list code segno key message".
std::string Row(const std::string& list, const std::string& code, long long no, const std::string& key,
                const std::string& msg) {
  return list + "\t" + code + "\t" + std::to_string(no) + "\t" + key + "\t" + msg;
}

class ValidateSamplesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& f : {kLib + "libkalvix.so", kLib + "libruvala.so", kReferential,
                                 kSamples + "with-findings.txt", kSamples + "with-findings.expected"})
      if (!common::FileExists(f)) GTEST_SKIP() << "missing " << f;
    FHives = std::make_unique<TempHives>();
    ASSERT_EQ(RunCli("register '" + kLib + "libkalvix.so' '" + kLib + "libruvala.so'"), 0);
    // The engine's configuration: the sample referential.
    std::ofstream(FHives->Machine(), std::ios::app)
        << "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tarnholt\\services\\Database]\n\"Referential\"=\"" << kReferential
        << "\"\n";
    char tmpl[] = "/tmp/verimek-samples-XXXXXX";
    FDir = mkdtemp(tmpl);
  }
  void TearDown() override {
    if (!FDir.empty()) fs::remove_all(FDir);
  }
  std::unique_ptr<TempHives> FHives;
  std::string FDir;
};

TEST_F(ValidateSamplesTest, WithFindingsStoresTheExpectedRows) {
  const std::string db = FDir + "/wf.db", db2 = FDir + "/wf2.db";
  const std::string file = kSamples + "with-findings.txt";
  EXPECT_EQ(RunCli("validate '" + file + "' --db '" + db + "' --message-date 2025-06-30"), 1);
  const std::vector<std::string> lines = Lines(file);

  // Expected rows per line in FILTER mode.
  std::map<long long, std::vector<std::string>> expected;
  std::map<long long, std::pair<int, int>> counts;
  for (const std::string& l : Lines(kSamples + "with-findings.expected")) {
    if (l.empty() || l[0] == '#') continue;
    std::vector<std::string> f;
    std::stringstream ss(l);
    for (std::string x; std::getline(ss, x, '\t');) f.push_back(x);
    if (f.size() < 7 || ("," + f[1] + ",").find(",FILTER,") == std::string::npos) continue;
    const long long line = std::stoll(f[0]);
    counts[line];
    if (f[2] == "-") continue;
    expected[line].push_back(Row(f[2], f[3], std::stoll(f[4]), f[5], f[6]));
    (f[2] == "error" ? counts[line].first : counts[line].second)++;
  }
  ASSERT_EQ(counts.size(), lines.size());

  verimek::TDatabase d(db, false);
  auto m = d.GetTable("select * from Messages order by Id");
  ASSERT_EQ(m->RowCount(), lines.size());
  for (long long id = 1; !m->Eof(); m->Next(), ++id) {
    SCOPED_TRACE("line " + std::to_string(id));
    EXPECT_EQ(m->AsInteger("Id"), id);
    EXPECT_EQ(m->AsInteger("XehId"), 1);
    EXPECT_EQ(m->AsInteger("ErrorCount"), counts[id].first);
    EXPECT_EQ(m->AsInteger("WarningCount"), counts[id].second);
    auto body = d.GetTable("select body from data where MessageId = %s and xehid = %s", {std::to_string(id), "1"});
    ASSERT_EQ(body->RowCount(), 1u);
    EXPECT_EQ(verimek::DecodeAndDecompress(body->AsString("Body")), lines[id - 1]);
    std::vector<std::string> got;
    const std::string ids = std::to_string(id);
    for (auto e = d.GetTable("select * from Errors where MessageId = %s and xehid = %s", {ids, "1"}); !e->Eof();
         e->Next())
      got.push_back(Row("error", e->AsString("ErrorCode"), e->AsInteger("SegmentNo"), e->AsString("SegmentKey"),
                        e->AsString("ErrorMessage")));
    for (auto w = d.GetTable("select * from Warnings where MessageId = %s and xehid = %s", {ids, "1"}); !w->Eof();
         w->Next())
      got.push_back(Row("warning", w->AsString("WarningCode"), w->AsInteger("SegmentNo"), w->AsString("SegmentKey"),
                        w->AsString("WarningMessage")));
    std::vector<std::string> want = expected[id];
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
  }
  EXPECT_EQ(d.GetTableValue("select count(*) from Data"), static_cast<long long>(lines.size()));

  // Two worker processes: the same rows, ids included.
  EXPECT_EQ(RunCli("validate '" + file + "' --db '" + db2 + "' --message-date 2025-06-30 --jobs 2"), 1);
  verimek::TDatabase d2(db2, false);
  for (const char* t : {"Messages", "Data", "Errors", "Warnings"}) {
    auto a = d.GetTable(std::string("select * from ") + t + " order by Id");
    auto b = d2.GetTable(std::string("select * from ") + t + " order by Id");
    ASSERT_EQ(a->RowCount(), b->RowCount()) << t;
    for (; !a->Eof(); a->Next(), b->Next())
      for (const std::string& c : a->Columns()) EXPECT_EQ(a->AsString(c), b->AsString(c)) << t << "." << c;
  }
}

TEST_F(ValidateSamplesTest, MultiMessageIsSplitInThree) {
  const std::string db = FDir + "/mm.db";
  EXPECT_EQ(RunCli("validate '" + kSamples + "multi-message.txt' --db '" + db + "' --message-date 2025-06-30"), 0);
  verimek::TDatabase d(db, false);
  auto m = d.GetTable("select * from Messages order by Id");
  ASSERT_EQ(m->RowCount(), 3u);
  std::vector<std::string> pieces;
  for (const std::string& l : Lines(kSamples + "multi-message.expected"))
    if (l.rfind("piece\t", 0) == 0) pieces.push_back(l.substr(l.find('\t', 6) + 1));
  ASSERT_EQ(pieces.size(), 3u);
  const long long x912[] = {2, 10, 31};
  for (int k = 0; k < 3; ++k, m->Next()) {
    EXPECT_EQ(m->AsInteger("XehId"), k + 1);
    EXPECT_EQ(m->AsString("X921"), "0039");
    EXPECT_EQ(m->AsInteger("X912"), x912[k]);
    EXPECT_EQ(m->AsInteger("ErrorCount") + m->AsInteger("WarningCount"), 0);
    auto body = d.GetTable("select body from data where MessageId = %s and xehid = %s",
                           {m->AsString("Id"), m->AsString("XehId")});
    ASSERT_EQ(body->RowCount(), 1u);
    EXPECT_EQ(verimek::DecodeAndDecompress(body->AsString("Body")), pieces[k]);
  }
}

}  // namespace
