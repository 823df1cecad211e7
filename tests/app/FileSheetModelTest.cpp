// The file sheet's rules: the paging key table, rows that fit, captions, the recent input
// files, the persisted layout, progress coalescing, the details cells and the sheet's results.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "FileSheetModel.h"
#include "Settings.h"
#include "SysSqlite.h"

using namespace verimek;

namespace {

struct TKeyCase {
  const char* Name;
  TPagingKey Key;
  bool Ctrl;
  TPagingView View;
  TPagingAction Want;
};

std::string Show(const TPagingAction& a) {
  return (a.Load ? "load " + std::to_string(a.Offset) : std::string("no load")) + " select " +
         std::to_string(a.Select) + (a.Consumed ? " consumed" : " passed");
}

TEST(FileSheetPagingTest, TheKeyTable) {
  using A = TPagingAction;
  // 100 messages, 20 rows fit; views: page 40..59 with the first, a middle or the last row selected.
  const TPagingView first{40, 20, 100, 20, 0, 41}, middle{40, 20, 100, 20, 7, 48}, last{40, 20, 100, 20, 19, 60};
  const TPagingView end{80, 20, 100, 20, 19, 100}, top{0, 20, 100, 20, 0, 1}, afterEnd{80, 20, 100, 20, 0, 81};
  const TPagingView shortList{0, 20, 5, 5, 4, 5};
  const TKeyCase cases[] = {
      {"ctrl page up", TPagingKey::PageUp, true, middle, {true, 0, A::selFirst, false}},
      {"page up on first", TPagingKey::PageUp, false, first, {true, 20, A::selNone, false}},
      {"page up near top", TPagingKey::PageUp, false, {10, 20, 100, 20, 0, 11}, {true, 0, A::selNone, false}},
      {"page up in middle", TPagingKey::PageUp, false, middle, {false, 0, A::selNone, false}},
      {"ctrl page down", TPagingKey::PageDown, true, middle, {true, 80, A::selLast, false}},
      {"page down on last", TPagingKey::PageDown, false, last, {true, 60, A::selNone, false}},
      {"page down near end", TPagingKey::PageDown, false, {70, 20, 100, 20, 19, 90}, {true, 80, A::selNone, false}},
      {"page down in middle", TPagingKey::PageDown, false, middle, {false, 0, A::selNone, false}},
      {"ctrl end", TPagingKey::End, true, top, {true, 80, A::selLast, true}},
      {"end alone", TPagingKey::End, false, top, {false, 0, A::selNone, false}},
      {"ctrl home", TPagingKey::Home, true, end, {true, 0, A::selFirst, true}},
      {"home alone", TPagingKey::Home, false, end, {false, 0, A::selNone, false}},
      {"up on first", TPagingKey::Up, false, afterEnd, {true, 79, A::selFirst, true}},
      {"up on Id 1", TPagingKey::Up, false, top, {false, 0, A::selNone, false}},
      {"up in middle", TPagingKey::Up, false, middle, {false, 0, A::selNone, false}},
      {"down on last", TPagingKey::Down, false, last, {true, 41, A::selLast, true}},
      {"down on the last message", TPagingKey::Down, false, end, {false, 0, A::selNone, false}},
      {"down in middle", TPagingKey::Down, false, middle, {false, 0, A::selNone, false}},
      {"ctrl end, fewer than fit", TPagingKey::End, true, shortList, {true, -15, A::selLast, true}},
      {"down on an empty list", TPagingKey::Down, false, {0, 20, 0, 0, -1, 0}, {false, 0, A::selNone, false}},
      {"other key", TPagingKey::Other, true, last, {false, 0, A::selNone, false}},
  };
  for (const TKeyCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TPagingAction got = PagingKey(c.Key, c.Ctrl, c.View);
    EXPECT_EQ(Show(got), Show(c.Want));
  }
}

TEST(FileSheetTextTest, RowsCaptionsAndRecords) {
  const struct {
    int Height, RowHeight;
    std::int64_t Rows;
  } fits[] = {{400, 20, 20}, {419, 20, 20}, {10, 20, 1}, {0, 20, 1}, {400, 0, 1}};
  for (const auto& f : fits) EXPECT_EQ(RowsThatFit(f.Height, f.RowHeight), f.Rows) << f.Height << "/" << f.RowHeight;
  EXPECT_EQ(RecordText(81, 100), "Record 81 of 100");
  EXPECT_EQ(FileCaption("/data/in/day 1.txt"), "File: day 1.txt");
  EXPECT_EQ(FileCaption("day.txt"), "File: day.txt");
}

TEST(FileSheetHistoryTest, TenNamesNewestFirstIgnoringCase) {
  std::vector<std::string> h;
  for (int i = 1; i <= 12; ++i) EXPECT_TRUE(AddToHistory(h, "/in/f" + std::to_string(i) + ".txt"));
  ASSERT_EQ(h.size(), kMaxHistory);
  EXPECT_EQ(h.front(), "/in/f12.txt");
  EXPECT_EQ(h.back(), "/in/f3.txt");
  const std::vector<std::string> before = h;
  for (const char* again : {"/in/f7.txt", "/IN/F7.TXT", "/in/f3.txt"}) {
    EXPECT_FALSE(AddToHistory(h, again)) << again;
    EXPECT_EQ(h, before) << again;
  }
}

class FileSheetSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/verimek-fsm-XXXXXX";
    FDir = mkdtemp(tmpl);
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }
  std::string FDir;
};

TEST_F(FileSheetSettingsTest, LayoutDefaultsAndRoundTrip) {
  TIniSettings ini(FDir + "/Verimek.ini");
  const TSheetFileLayout d = TSheetFileLayout::Load(ini);
  EXPECT_EQ(d.BottomHeight, 179);
  EXPECT_EQ(d.EditorWidth, 301);
  TSheetFileLayout{250, 420}.Save(ini);
  EXPECT_EQ(ini.ReadIntegerDef("SheetFileFrm", "pn_Bottom.Height", 0), 250);
  TIniSettings again(FDir + "/Verimek.ini");
  const TSheetFileLayout l = TSheetFileLayout::Load(again);
  EXPECT_EQ(l.BottomHeight, 250);
  EXPECT_EQ(l.EditorWidth, 420);
}

TEST(FileSheetProgressTest, CoalescesToWhatTheScreenShows) {
  using namespace std::chrono;
  steady_clock::time_point now{};
  TProgressCoalescer c(milliseconds(50), [&] { return now; });
  EXPECT_TRUE(c.Offer({"Loading file...", 0, 0, 0}));
  EXPECT_TRUE(c.Offer({"Validation in progress...", 0, 1000, 0}));  // new bounds
  int shown = 0;
  for (int pos = 1; pos < 1000; ++pos) {
    now += microseconds(100);  // 10 000 lines a second
    shown += c.Offer({"line", 0, 1000, pos}) ? 1 : 0;
  }
  // 0.1 s of reports: about one per 50 ms gets through.
  EXPECT_GE(shown, 1);
  EXPECT_LE(shown, 3);
  TProgressCoalescer::TReport pending;
  ASSERT_TRUE(c.TakePending(pending));
  EXPECT_EQ(pending.Pos, 999);
  EXPECT_FALSE(c.TakePending(pending));
  now += microseconds(100);
  EXPECT_TRUE(c.Offer({"line", 0, 1000, 1000}));  // the last one always
}

class TNames final : public TReferentialNames {
 public:
  std::string X912ToStr(std::int64_t x) override {
    if (x == 7) return "Auto";
    throw std::runtime_error("X912ToStr(" + std::to_string(x) + ") failed (not found)");
  }
  std::string X916ToStr(const std::string& x) override {
    if (x == "10") return "New business";
    throw std::runtime_error("X916ToStr(" + x + ") failed (not found)");
  }
};

TEST(FileSheetDetailsTest, CellsWithAndWithoutNames) {
  TMessageRow row{12, 2, "0039", "104512", "002", 7, "10", 3, 1};
  std::string note;
  EXPECT_EQ(DetailsCells(row, nullptr, note),
            (std::vector<std::string>{"12", "2", "0039", "104512", "002", "7", "10", "(Blob)", "3", "1"}));
  EXPECT_EQ(note, "");
  TNames names;
  EXPECT_EQ(DetailsCells(row, &names, note)[5], "Auto");
  EXPECT_EQ(DetailsCells(row, &names, note)[6], "New business");
  EXPECT_EQ(note, "");
  // A code the names do not know: the raw code, and the page goes on.
  row.X912 = 5;
  row.X916 = "ZZ";
  const auto cells = DetailsCells(row, &names, note);
  EXPECT_EQ(cells[5], "5");
  EXPECT_EQ(cells[6], "ZZ");
  EXPECT_EQ(note, "X912ToStr(5) failed (not found)");
}

class FileSheetResultsTest : public ::testing::Test {
 protected:
  void SetUp() override { FName = NewTempDbFileName(); }
  void TearDown() override { std::remove(FName.c_str()); }
  void Make(int messages) {
    std::remove(FName.c_str());
    TDatabase db(FName, true);
    CreateResultsSchema(db);
    db.BeginTransaction();
    for (int i = 0; i < messages; ++i)
      db.ExecSql("insert into Messages (XehId, X912, ErrorCount, WarningCount) values (1, 7, 0, 0)", true);
    db.Commit();
  }
  std::string FName;
};

TEST_F(FileSheetResultsTest, PagesOnlyWhenTheyChangeAndANewRunStartsAfresh) {
  Make(100);
  TFileSheetResults r;
  r.SetFile(FName);
  EXPECT_FALSE(r.IsOpen());
  {
    // The indexes the sheet reads by, added once; the tables stay as the run made them.
    TDatabase other(FName, false);
    EnsureReadIndexes(other);
    EnsureReadIndexes(other);
    EXPECT_EQ(other.GetTableValue("select count(*) from sqlite_master where type = 'index' and name like 'Idx%'"), 9);
    EXPECT_EQ(other.GetTableValue("select count(*) from sqlite_master where type = 'table'"), 6);
    EXPECT_FALSE(other.InTransaction());
  }
  EXPECT_EQ(r.Total(), 100);
  EXPECT_TRUE(r.IsOpen());
  EXPECT_EQ(r.Offset(), -1);
  EXPECT_TRUE(r.LoadPage(80, 20));
  EXPECT_EQ(r.Page().front().Id, 81);
  EXPECT_EQ(r.Page().back().Id, 100);
  EXPECT_FALSE(r.LoadPage(80, 20));
  EXPECT_TRUE(r.LoadPage(-15, 20));  // read as 0
  EXPECT_EQ(r.Offset(), 0);
  EXPECT_FALSE(r.LoadPage(-3, 20));
  EXPECT_TRUE(r.LoadPage(0, 10));  // fewer rows fit now
  EXPECT_EQ(r.Page().size(), 10u);

  // Global Result read ahead on another connection, as the sheet's preparing thread does.
  {
    TDatabase other(FName, false);
    r.SetGlobalRows(TFileSheetResults::ReadGlobalRows(other, ','));
  }
  const auto rows = r.GlobalRows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].Count, 100);
  EXPECT_EQ(rows[0].Percent, "100,00");
  EXPECT_EQ(rows[3].Count, 100);

  r.Close();
  Make(3);
  r.SetFile(FName);
  EXPECT_EQ(r.GlobalRows()[3].Count, 3);  // nothing kept from the previous run
  EXPECT_EQ(r.Total(), 3);
  EXPECT_EQ(r.Offset(), -1);
  EXPECT_TRUE(r.LoadPage(0, 20));
  EXPECT_EQ(r.Page().size(), 3u);
}

TEST_F(FileSheetResultsTest, AFileGoneIsReportedAndNothingIsCreated) {
  TFileSheetResults r;
  r.SetFile(FName);
  try {
    r.Total();
    FAIL() << "no error";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), "File \"" + FName + "\" not found");
  }
  EXPECT_FALSE(r.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(FName));
}

}  // namespace
