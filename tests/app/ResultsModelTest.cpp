// The file sheet's results model over a results database filled by hand: global rows and
// percentages, statistics by code and by text, the page of messages and one message.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "ResultsReader.h"
#include "SysSqlite.h"

using namespace verimek;

namespace {

class ResultsModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FName = NewTempDbFileName();
    FDb = std::make_unique<TDatabase>(FName, true);
    FDb->ExecSql("PRAGMA synchronous=OFF", false);
    CreateResultsSchema(*FDb);
  }
  void TearDown() override {
    FDb.reset();
    std::remove(FName.c_str());
  }
  // One stored message with its findings, each "CODE|text" at segment 3.
  std::int64_t Add(const std::vector<std::string>& errors, const std::vector<std::string>& warnings,
                   const std::string& text = "XEH+07+1+7'") {
    FDb->ExecParams(
        "insert into Messages (XehId, X921, X923, X925, X912, X916, ErrorCount, WarningCount) "
        "values (1, '0039', '104512', '002', 7, '10', ?, ?)",
        {static_cast<std::int64_t>(errors.size()), static_cast<std::int64_t>(warnings.size())}, true);
    const std::int64_t id = FDb->LastInsertRowId();
    FDb->ExecParams("insert into Data (MessageId, XehId, Body) values (?, 1, ?)", {id, CompressAndEncode(text)}, true);
    for (const auto& [table, list] : {std::pair{"Errors", &errors}, std::pair{"Warnings", &warnings}}) {
      const std::string prefix = std::string(table) == "Errors" ? "Error" : "Warning";
      for (const std::string& f : *list)
        FDb->ExecParams("insert into " + std::string(table) + " (MessageId, XehId, SegmentNo, SegmentKey, " + prefix +
                            "Code, " + prefix + "Message) values (?, 1, 3, 'ATT+A020', ?, ?)",
                        {id, f.substr(0, f.find('|')), f.substr(f.find('|') + 1)}, true);
    }
    return id;
  }
  std::string FName;
  std::unique_ptr<TDatabase> FDb;
};

std::string Rows(const std::vector<TFileResultsModel::TGlobalRow>& rows) {
  std::string out;
  for (const auto& r : rows) out += r.Caption + "=" + std::to_string(r.Count) + "/" + r.Percent + ";";
  return out;
}

std::string Rows(const TFileResultsModel::TStatList& list) {
  std::string out = "total " + std::to_string(list.Total) + ";";
  for (const auto& r : list.Rows) out += r.Caption + "=" + std::to_string(r.Count) + "/" + r.Percent + ";";
  return out;
}

TEST_F(ResultsModelTest, NoMessageGivesZerosEverywhere) {
  TResultsReader reader(*FDb);
  TFileResultsModel model(reader);
  EXPECT_EQ(Rows(model.GlobalRows()),
            "Messages valid=0/0.00;Messages with error(s)=0/0.00;Messages with warning(s)=0/0.00;Total=0/;");
  EXPECT_EQ(Rows(model.ErrorsByCode()), "total 0;");
  EXPECT_TRUE(model.Page(0, 20).empty());
}

TEST_F(ResultsModelTest, GlobalRowsAndStatistics) {
  for (int i = 0; i < 3; ++i) Add({}, {});
  Add({"E0002|Bad date", "E0002|Bad date", "E0007|Unknown code", "E0007|Unknown code", "E0007|Unknown code",
       "E0007|Unknown code", "E0007|Unknown code", "E0007|Unknown code"},
      {"W0001|Obsolete"});
  Add({}, {"W0001|Obsolete", "W0009|Not listed"});
  TResultsReader reader(*FDb);
  TFileResultsModel model(reader);
  model.SetCodeTexts({{"E0002", "Invalid date %s"}, {"E0007", "Code %s not found"}}, {{"W0001", "Obsolete %s"}});
  EXPECT_EQ(Rows(model.GlobalRows()),
            "Messages valid=3/60.00;Messages with error(s)=1/20.00;Messages with warning(s)=1/20.00;Total=5/;");
  EXPECT_EQ(Rows(model.ErrorsByCode()), "total 8;E0002 : Invalid date %s=2/25.00;E0007 : Code %s not found=6/75.00;");
  EXPECT_EQ(Rows(model.ErrorsByText()), "total 8;Bad date=2/25.00;Unknown code=6/75.00;");
  // A code the engine does not list keeps an empty text.
  EXPECT_EQ(Rows(model.WarningsByCode()), "total 3;W0001 : Obsolete %s=2/66.67;W0009 : =1/33.33;");
  EXPECT_EQ(Rows(model.WarningsByText()), "total 3;Not listed=1/33.33;Obsolete=2/66.67;");

  TFileResultsModel comma(reader, ',');
  EXPECT_EQ(comma.GlobalRows()[0].Percent, "60,00");
}

TEST_F(ResultsModelTest, PagesAndOneMessage) {
  for (int i = 0; i < 30; ++i) Add({}, {}, "XEH+07+1+" + std::to_string(i + 1) + "'");
  const std::int64_t id = Add({"E0005|Syntax"}, {"W0002|Old"}, "XEH+07+1+é'");
  TResultsReader reader(*FDb);
  TFileResultsModel model(reader);
  struct Case {
    std::int64_t Offset, Rows, FirstId, Count;
  } cases[] = {{0, 20, 1, 20}, {-5, 20, 1, 20}, {20, 20, 21, 11}, {30, 5, 31, 1}, {31, 5, 0, 0}, {0, 0, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Offset) + "," + std::to_string(c.Rows));
    const auto page = model.Page(c.Offset, c.Rows);
    ASSERT_EQ(static_cast<std::int64_t>(page.size()), c.Count);
    if (c.Count) {
      EXPECT_EQ(page.front().Id, c.FirstId);
    }
  }
  const auto row = model.Page(30, 1).at(0);
  EXPECT_EQ(row.X921 + "|" + row.X923 + "|" + row.X925 + "|" + std::to_string(row.X912) + "|" + row.X916,
            "0039|104512|002|7|10");
  EXPECT_EQ(row.ErrorCount, 1);

  const TFileResultsModel::TMessage m = model.Message(id, 1);
  EXPECT_EQ(m.Text, "XEH+07+1+é'");
  ASSERT_EQ(m.Errors.size(), 1u);
  EXPECT_EQ(m.Errors[0].SegmentNo, 3);
  EXPECT_EQ(m.Errors[0].SegmentKey + " " + m.Errors[0].Code + " " + m.Errors[0].Message, "ATT+A020 E0005 Syntax");
  ASSERT_EQ(m.Warnings.size(), 1u);
  EXPECT_EQ(m.Warnings[0].Code, "W0002");

  // The text must be there exactly once.
  FDb->ExecSql("insert into Data (MessageId, XehId, Body) values (1, 1, '')", false);
  EXPECT_THROW(model.Message(1, 1), std::runtime_error);
  EXPECT_THROW(model.Message(999, 1), std::runtime_error);
}

TEST(ResultsCodeListTest, ParsesQuotedItems) {
  // Comma text: unquoted items also end at blanks; quotes keep them, "" is a quote.
  const auto list = ParseCodeList("E0001=Bad,\"E0002=Value \"\"%s\"\", bad\" E0003,E0004=");
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0], (std::pair<std::string, std::string>{"E0001", "Bad"}));
  EXPECT_EQ(list[1], (std::pair<std::string, std::string>{"E0002", "Value \"%s\", bad"}));
  EXPECT_EQ(list[2], (std::pair<std::string, std::string>{"E0003", ""}));
  EXPECT_EQ(list[3], (std::pair<std::string, std::string>{"E0004", ""}));
}

}  // namespace
