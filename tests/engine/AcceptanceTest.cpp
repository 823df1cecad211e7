// The shared samples against the sample referential and engine database, read from SQLite and
// from Access: every line of with-findings.txt gives exactly its expected rows in each mode,
// valid.txt and the pieces of multi-message.txt give none. CTest runs this program twice: as it
// is, and with RUVALA_NO_VALUE_SHORTCUT=1, so that both value paths of the engine must give the
// same findings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "../common/AddressSpacePressure.h"
#include "EngineTestSupport.h"
#include "ecDataBase.h"
#include "ecTypes.h"
#include "ecValidator.h"

using namespace ruvala;

namespace {

constexpr TDate kMsgDate = 45838;  // 2025-06-30

struct Row {
  std::string list, code;
  int segmentNo = 0;
  std::string key, message;
  bool operator==(const Row& o) const {
    return list == o.list && code == o.code && segmentNo == o.segmentNo && key == o.key && message == o.message;
  }
};

std::ostream& operator<<(std::ostream& os, const Row& r) {
  return os << r.list << " " << r.code << " #" << r.segmentNo << " [" << r.key << "] " << r.message;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

std::vector<std::string> SplitTabs(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == '\t') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  out.push_back(cur);
  return out;
}

// line -> mode -> rows (errors first, then warnings, each in their order).
std::map<int, std::map<std::string, std::vector<Row>>> ReadExpected(const std::string& path) {
  std::map<int, std::map<std::string, std::vector<Row>>> out;
  for (const std::string& line : ReadLines(path)) {
    if (line.empty() || line[0] == '#') continue;
    auto f = SplitTabs(line);
    if (f.size() < 7 || f[0] == "piece") continue;
    int n = std::stoi(f[0]);
    std::stringstream modes(f[1]);
    for (std::string mode; std::getline(modes, mode, ',');) {
      auto& rows = out[n][mode];
      if (f[2] != "-") rows.push_back({f[2], f[3], std::stoi(f[4]), f[5], f[6]});
    }
  }
  for (auto& [n, modes] : out)
    for (auto& [m, rows] : modes)
      std::stable_sort(rows.begin(), rows.end(),
                       [](const Row& a, const Row& b) { return a.list == "error" && b.list != "error"; });
  return out;
}

// PLAIN and FILTER switch inter-application mode off; IA is a new document's default.
void SetMode(TValidator& v, const std::string& mode) {
  v.SetInterApplication(mode == "IA");
  v.SetCheckFilter(mode == "FILTER");
  v.SetMessageDate(kMsgDate);
}

std::vector<Row> Findings(const TValidator& v) {
  std::vector<Row> out;
  for (int i = 0; i < v.Errors().Count(); ++i) {
    const auto& e = v.Errors().GetItems(i);
    out.push_back({"error", e.Error.Code, e.SgmtNo, e.SgmtKey, e.Error.Message});
  }
  for (int i = 0; i < v.Warnings().Count(); ++i) {
    const auto& w = v.Warnings().GetItems(i);
    out.push_back({"warning", w.Error.Code, w.SgmtNo, w.SgmtKey, w.Error.Message});
  }
  return out;
}

}  // namespace

static ::testing::Environment* const gParserEnv =
    ::testing::AddGlobalTestEnvironment(new enginetest::ParserEnvironment);
using enginetest::ParserEnvironment;

class AcceptanceTest : public ::testing::TestWithParam<std::string> {
 protected:
  static std::map<std::string, std::unique_ptr<TTelebib>>& Referentials() {
    static std::map<std::string, std::unique_ptr<TTelebib>> m;
    return m;
  }
  void SetUp() override {
    if (!ParserEnvironment::Available()) GTEST_SKIP() << "the parser component is not built";
    bool sqlite = GetParam() == "sqlite";
    std::string path = sqlite ? enginetest::SampleSqlite() : enginetest::SampleAccess();
    std::string engineDb = sqlite ? enginetest::SampleEngineSqlite() : enginetest::SampleEngineAccess();
    if (!common::FileExists(path) || !common::FileExists(engineDb) ||
        !common::FileExists(enginetest::SamplesDir() + "valid.txt"))
      GTEST_SKIP() << "no sample data";
    if (Relations().DbName() != engineDb) Relations().SetDbName(engineDb);
    auto& ref = Referentials()[GetParam()];
    if (!ref) {
      ref = std::make_unique<TTelebib>();
      ref->SetAccessDbName(path);
    }
    FRef = ref.get();
  }
  TTelebib* FRef = nullptr;
};

TEST_P(AcceptanceTest, WithFindingsGivesItsExpectedRows) {
  auto lines = ReadLines(enginetest::SamplesDir() + "with-findings.txt");
  auto expected = ReadExpected(enginetest::SamplesDir() + "with-findings.expected");
  ASSERT_EQ(lines.size(), 69u);
  for (const char* mode : {"PLAIN", "FILTER", "IA"}) {
    TValidator v(FRef);
    SetMode(v, mode);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      int n = static_cast<int>(i) + 1;
      auto it = expected.find(n);
      if (it == expected.end() || !it->second.count(mode)) continue;
      v.SetEdiMessage(lines[i]);
      v.Validate();
      EXPECT_EQ(Findings(v), it->second.at(mode)) << mode << " line " << n;
    }
  }
}

TEST_P(AcceptanceTest, ValidSamplesGiveNothing) {
  auto lines = ReadLines(enginetest::SamplesDir() + "valid.txt");
  for (const std::string& line : ReadLines(enginetest::SamplesDir() + "multi-message.expected")) {
    auto f = SplitTabs(line);
    if (f.size() == 3 && f[0] == "piece") lines.push_back(f[2]);
  }
  ASSERT_EQ(lines.size(), 12u) << "valid.txt and the three pieces of multi-message.txt";
  for (const char* mode : {"PLAIN", "FILTER", "IA"}) {
    TValidator v(FRef);
    SetMode(v, mode);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      v.SetEdiMessage(lines[i]);
      EXPECT_TRUE(v.Validate()) << mode << " line " << i + 1;
      EXPECT_EQ(Findings(v), std::vector<Row>{}) << mode << " line " << i + 1;
    }
  }
}

TEST_P(AcceptanceTest, MultiMessageAsAWholeAppliesTheFirstRelationToEveryUnit) {
  auto lines = ReadLines(enginetest::SamplesDir() + "multi-message.txt");
  auto expected = ReadExpected(enginetest::SamplesDir() + "multi-message.expected");
  ASSERT_EQ(lines.size(), 1u);
  for (const char* mode : {"PLAIN", "FILTER", "IA"}) {
    TValidator v(FRef);
    SetMode(v, mode);
    v.SetEdiMessage(lines[0]);
    v.Validate();
    EXPECT_EQ(Findings(v), expected.at(1).at(mode)) << mode;
  }
}

// The walk by the parser's cursor and the walk by a handle per segment find the same, in the same
// order, with the same keys, on every sample line and every input the validate fuzzer kept.
TEST_P(AcceptanceTest, CursorAndHandlesFindTheSame) {
  if (!ValueShortcutWanted()) GTEST_SKIP() << "both walks read by handles without the value shortcut";
  std::vector<std::string> lines;
  for (const char* file : {"valid.txt", "with-findings.txt", "multi-message.txt", "syntax-errors.txt"})
    for (std::string& line : ReadLines(enginetest::SamplesDir() + file)) lines.push_back(std::move(line));
  for (const auto& e :
       std::filesystem::directory_iterator(std::filesystem::path(EDI_SOURCE_DIR) / "fuzz/corpus/validate")) {
    std::ifstream in(e.path(), std::ios::binary);
    lines.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  int findings = 0;
  for (const char* mode : {"PLAIN", "FILTER", "IA"}) {
    TValidator byCursor(FRef), byHandles(FRef);
    SetMode(byCursor, mode);
    SetMode(byHandles, mode);
    byHandles.SetCursorWalk(false);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      byCursor.SetEdiMessage(lines[i]);
      byHandles.SetEdiMessage(lines[i]);
      EXPECT_EQ(byCursor.Validate(), byHandles.Validate()) << mode << " text " << i;
      const std::vector<Row> rows = Findings(byCursor);
      EXPECT_EQ(rows, Findings(byHandles)) << mode << " text " << i;
      findings += static_cast<int>(rows.size());
    }
  }
  EXPECT_GT(findings, 100);
}

INSTANTIATE_TEST_SUITE_P(Sources, AcceptanceTest, ::testing::Values("sqlite", "access"),
                         [](const auto& p) { return p.param; });

// Both Access databases load, and a validation runs on them, in a client that holds 8 GiB of
// address space and 300 idle threads.
TEST(AccessAcceptanceTest, ValidatesWhileTheClientHoldsMuchAddressSpace) {
  if (!ParserEnvironment::Available()) GTEST_SKIP() << "the parser component is not built";
  if (!common::FileExists(enginetest::SampleAccess()) || !common::FileExists(enginetest::SampleEngineAccess()))
    GTEST_SKIP() << "no sample data";
  auto lines = ReadLines(enginetest::SamplesDir() + "with-findings.txt");
  auto expected = ReadExpected(enginetest::SamplesDir() + "with-findings.expected");
  dbtest::TAddressSpacePressure pressure(std::size_t(8) << 30, 300);
  ASSERT_TRUE(pressure.Held());
  TTelebib ref;
  std::string error;
  try {
    ref.SetAccessDbName(enginetest::SampleAccess());
    Relations().SetDbName(enginetest::SampleEngineAccess());
  } catch (const std::exception& e) {
    error = e.what();
  }
  ASSERT_EQ(error, "");
  TValidator v(&ref);
  SetMode(v, "IA");
  int checked = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    auto it = expected.find(static_cast<int>(i) + 1);
    if (it == expected.end() || !it->second.count("IA")) continue;
    v.SetEdiMessage(lines[i]);
    v.Validate();
    EXPECT_EQ(Findings(v), it->second.at("IA")) << "line " << i + 1;
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

// The second run above is worth something only if the variable reaches the segment reads.
TEST(ValuePathTest, SegmentReadsFollowTheVariable) {
  if (!ParserEnvironment::Available()) GTEST_SKIP() << "the parser component is not built";
  const char* env = std::getenv("RUVALA_NO_VALUE_SHORTCUT");
  bool shortcut = !env || !*env || std::string(env) == "0";
  edicom::ComPtr<kalvix::IEdiMessage> m;
  ASSERT_EQ(edicom::CreateInstance(kalvix::CLSID_EdiMessage, kalvix::IID_IEdiMessage, m), edicom::S_OK);
  // A value outside ASCII: the two paths convert it from the message's code page differently.
  edicom::BStr text(
      "XGH+1+104512+0079+002'XEH+91+1+0200+1'NME+001+PEETERS:MARC+001'ADR+001+Rue \xc3\xa9t\xc3\xa9:16'"
      "XET+91'XGT+1'");
  ASSERT_EQ(m->put_InputStream(text.Get()), edicom::S_OK);
  std::int32_t errors = -1;
  m->get_ErrorCount(&errors);
  ASSERT_EQ(errors, 0);
  edicom::Variant first;
  ASSERT_EQ(m->GetFirstSgmt(&first), edicom::S_OK);
  TSgmt xgh(SegmentFromVariant(first));
  EXPECT_EQ(xgh.ReadsValuesDirectly(), shortcut) << "RUVALA_NO_VALUE_SHORTCUT=" << (env ? env : "(unset)");
  TSgmt adr(TSgmt(TSgmt(xgh.Next()).Next()).Next());
  EXPECT_EQ(adr.ReadsValuesDirectly(), shortcut);
  EXPECT_EQ(adr.Tag(), "ADR");
  EXPECT_EQ(adr.Qualifier(), "001");
  EXPECT_EQ(adr.FindInComponent("C001", 1, "X002", 1), "Rue \xc3\xa9t\xc3\xa9");
  EXPECT_EQ(adr.FindInComponent("C001", 1, "X003", 1), "16");
  EXPECT_EQ(adr.FindInComponent("", 0, "X001", 1), "001");
  EXPECT_EQ(adr.Find("X002", 1), "") << "a component read as a simple element";
}
