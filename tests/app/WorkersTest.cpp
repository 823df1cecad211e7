// The workers against a stand-in engine: rows written per message, progress and error order,
// cancellation, unreadable input, engine failures and a database that fails on the Nth statement.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>

#include "FakeEngine.h"
#include "LineReader.h"
#include "Platform.h"
#include "SysSqlite.h"
#include "evWorkers.h"

using namespace verimek;

namespace {

std::string WriteTemp(const std::string& bytes) {
  std::string name = common::TempFolder() + "verimek-test-XXXXXX";
  int fd = mkstemp(name.data());
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
  return name;
}

// Fails the Nth statement (1-based, counting BEGIN, COMMIT and every insert) as a full disk would.
class TFailingDatabase : public TDatabase {
 public:
  TFailingDatabase(const std::string& name, int failAt) : TDatabase(name, true), FFailAt(failAt) {}
  void ExecSql(const std::string& sql, bool check) override {
    Count();
    TDatabase::ExecSql(sql, check);
  }
  void ExecParams(const std::string& sql, const std::vector<TSqlValue>& p, bool check) override {
    Count();
    TDatabase::ExecParams(sql, p, check);
  }
  int FCount = 0;

 private:
  void Count() {
    if (++FCount == FFailAt) throw ESqliteError("database or disk is full");
  }
  int FFailAt;
};

struct TRun {
  std::vector<std::string> Progress;  // "Msg|Min|Max|Pos"
  std::vector<std::string> Errors;
  std::vector<std::string> Order;  // "progress", "error", "done"
  std::string LastError;
  std::size_t Stored = 0;  // the worker's own count of stored messages
  bool Done = false;
};

class FileWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override { FDbName = NewTempDbFileName(); }
  void TearDown() override {
    for (const std::string& f : FFiles) std::remove(f.c_str());
    for (const char* ext : {"", "-wal", "-shm"}) std::remove((FDbName + ext).c_str());
  }

  TComponentFactory Factory() {
    TComponentFactory f;
    f.CreateDocument = [this] { return fake::NewDocument(&FLog); };
    f.CreateMessage = [this] { return fake::NewMessage(&FLog); };
    return f;
  }

  // Runs a file worker over `content` with plain calls; cancelAt = 1-based error to answer No.
  TRun Run(const std::string& content, int cancelAt = 0, int failStatement = 0, const std::string* path = nullptr,
           bool readAhead = false) {
    std::string input = path ? *path : WriteTemp(content);
    for (const char* ext : {"", "-wal", "-shm"}) std::remove((FDbName + ext).c_str());
    if (!path) FFiles.push_back(input);
    TRun run;
    auto* worker = new TValidateFileWorker(FHost, Factory(), input, FDbName);
    worker->Settings.MessageDate = 45838;
    worker->ProgressInterval = FProgressInterval;
    // Groups close by size only: the statements of a run stay the same however slow the machine.
    worker->GroupTime = std::chrono::hours(1);
    if (failStatement)
      worker->DatabaseFactory = [failStatement](const std::string& n) {
        return std::make_unique<TFailingDatabase>(n, failStatement);
      };
    else if (FDbFactory)
      worker->DatabaseFactory = FDbFactory;
    std::unique_ptr<TReadAheadLineSource> source;
    if (readAhead) {
      source = std::make_unique<TReadAheadLineSource>(worker->EdiDocument(), worker->Settings);
      worker->LineSource = source.get();
    }
    worker->FreeOnTerminate = true;
    worker->OnProgress = [&](TWorker&, const std::string& msg, int mn, int mx, int pos) {
      run.Order.push_back("progress");
      run.Progress.push_back(msg + "|" + std::to_string(mn) + "|" + std::to_string(mx) + "|" + std::to_string(pos));
    };
    worker->OnError = [&](TWorker&, const std::string& msg, bool& cancel) {
      run.Order.push_back("error");
      run.Errors.push_back(msg);
      EXPECT_FALSE(cancel);
      cancel = static_cast<int>(run.Errors.size()) == cancelAt;
    };
    worker->OnTerminate = [&](TWorker& w) {
      run.Order.push_back("done");
      run.LastError = w.LastError();
      run.Stored = static_cast<TValidateFileWorker&>(w).StoredMessages();
      run.Done = true;
    };
    worker->Start();
    EXPECT_TRUE(run.Done);
    return run;
  }

  std::unique_ptr<TDatabase> Db() { return std::make_unique<TDatabase>(FDbName, false); }

  // Every stored message is whole: one Data row, and as many Errors/Warnings rows as its counts.
  void ExpectWholeMessages(TDatabase& db) {
    auto m = db.GetTable("select * from Messages");
    for (; !m.get()->Eof(); m->Next()) {
      std::string id = m->AsString("Id");
      EXPECT_EQ(db.GetTableValue("select count(*) from Data where MessageId = " + id), 1) << id;
      EXPECT_EQ(db.GetTableValue("select count(*) from Errors where MessageId = " + id), m->AsInteger("ErrorCount"));
      EXPECT_EQ(db.GetTableValue("select count(*) from Warnings where MessageId = " + id),
                m->AsInteger("WarningCount"));
    }
    EXPECT_EQ(db.GetTableValue("select count(*) from Data where MessageId not in (select Id from Messages)"), 0);
  }

  TDirectWorkerHost FHost;
  std::chrono::steady_clock::duration FProgressInterval{};
  TValidateFileWorker::TDatabaseFactory FDbFactory;
  fake::TFakeLog FLog;
  std::string FDbName;
  std::vector<std::string> FFiles;
};

const std::string kOne = "XGH+1+0039+104512+002'XEH+90+1+0201+1++10'DTM+006'XET+90'XGT+1'";
const std::string kWithFindings =
    "XGH+1+12+104512+002'XEH+90+1+0201+1++10'FAKE+E+E0009+5+ATT?+A020+It?'s \"77\"'"
    "FAKE+W+W0001+2+XEH+Obsolete'FAKE+E+E0017+3+DTM?+006+Bad date'XET+90'XGT+1'";
const std::string kThree =
    "XGH+1+0039:S+104512:R'XEH+01+2+0002+1++10'IPD+A532'XET+01'"
    "XEH+03+1+0010+1++20'FAKE+W+W0004+3+DTM?+006+Empty'XET+03'XEH+07+1+0031+1'XET+07'XGT+1'";

TEST_F(FileWorkerTest, OneRowSetPerLine) {
  TRun run = Run(kOne + "\r\n" + kWithFindings + "\n");
  EXPECT_EQ(run.LastError, "");
  EXPECT_TRUE(run.Errors.empty());
  auto db = Db();
  auto m = db->GetTable("select * from Messages order by Id");
  ASSERT_EQ(m->RowCount(), 2u);
  EXPECT_EQ(m->AsInteger("XehId"), 1);
  EXPECT_EQ(m->AsString("X921"), "0039");
  EXPECT_EQ(m->AsString("X923"), "104512");
  EXPECT_EQ(m->AsString("X925"), "002");
  EXPECT_EQ(m->AsInteger("X912"), 201);
  EXPECT_EQ(m->AsString("X912"), "201");  // stored as a number
  EXPECT_EQ(m->AsString("X916"), "10");
  EXPECT_EQ(m->AsInteger("ErrorCount"), 0);
  m->Next();
  EXPECT_EQ(m->AsString("X921"), "0012");  // padded to four
  EXPECT_EQ(m->AsInteger("ErrorCount"), 2);
  EXPECT_EQ(m->AsInteger("WarningCount"), 1);

  auto body = db->GetTable("select body from data where MessageId = %s and xehid = %s", {"2", "1"});
  ASSERT_EQ(body->RowCount(), 1u);
  EXPECT_EQ(DecodeAndDecompress(body->AsString("Body")), kWithFindings);

  auto e = db->GetTable("select * from Errors where MessageId = %s and xehid = %s", {"2", "1"});
  ASSERT_EQ(e->RowCount(), 2u);
  EXPECT_EQ(e->AsInteger("SegmentNo"), 5);
  EXPECT_EQ(e->AsString("SegmentKey"), "ATT+A020");
  EXPECT_EQ(e->AsString("ErrorCode"), "E0009");
  EXPECT_EQ(e->AsString("ErrorMessage"), "It's \"77\"");  // quotes intact
  auto w = db->GetTable("select * from Warnings");
  ASSERT_EQ(w->RowCount(), 1u);
  EXPECT_EQ(w->AsString("WarningCode"), "W0001");
  EXPECT_EQ(w->AsString("WarningMessage"), "Obsolete");
  ExpectWholeMessages(*db);

  // Settings before every line, the date as given.
  ASSERT_EQ(FLog.Dates.size(), 2u);
  EXPECT_EQ(FLog.Dates[0], 45838);
  EXPECT_EQ(FLog.Filters, (std::vector<bool>{true, true}));
  EXPECT_EQ(FLog.InterApps, (std::vector<bool>{false, false}));
}

TEST_F(FileWorkerTest, LineWithoutFourthElementIsSplit) {
  TRun run = Run(kThree);
  EXPECT_EQ(run.LastError, "");
  auto db = Db();
  auto m = db->GetTable("select * from Messages order by Id");
  ASSERT_EQ(m->RowCount(), 3u);
  const std::pair<int, int> x912x916[] = {{2, 10}, {10, 20}, {31, 0}};
  for (int k = 0; k < 3; ++k, m->Next()) {
    EXPECT_EQ(m->AsInteger("XehId"), k + 1);
    EXPECT_EQ(m->AsString("X921"), "0039");
    EXPECT_EQ(m->AsString("X923"), "104512");
    EXPECT_EQ(m->AsString("X925"), "");
    EXPECT_EQ(m->AsInteger("X912"), x912x916[k].first);
    EXPECT_EQ(m->AsInteger("X916"), x912x916[k].second);
  }
  ASSERT_EQ(FLog.Validated.size(), 3u);
  EXPECT_EQ(FLog.Validated[1], "XGH+1+0039:S+104512:R'XEH+03+1+0010+1++20'FAKE+W+W0004+3+DTM?+006+Empty'XET+03'XGT+1'");
  auto body = db->GetTable("select body from data where MessageId = %s and xehid = %s", {"2", "2"});
  ASSERT_EQ(body->RowCount(), 1u);
  EXPECT_EQ(DecodeAndDecompress(body->AsString("body")), FLog.Validated[1]);
  EXPECT_EQ(db->GetTableValue("select XehId from Warnings"), 2);
  ExpectWholeMessages(*db);
}

TEST_F(FileWorkerTest, PaddingOfSenderCode) {
  const std::pair<const char*, const char*> cases[] = {
      {"12", "0012"}, {"123456", "123456"}, {"", "0000"}, {"1234", "1234"}};
  std::string file;
  for (const auto& [code, stored] : cases)
    file += std::string("XGH+1+") + code + "+104512+002'XEH+90+1+0201'XET+90'XGT+1'\n";
  Run(file);
  auto m = Db()->GetTable("select X921 from Messages order by Id");
  for (const auto& [code, stored] : cases) {
    EXPECT_EQ(m->AsString("X921"), stored) << code;
    m->Next();
  }
}

TEST_F(FileWorkerTest, ProgressReportsInOrder) {
  TRun run = Run(kOne + "\n" + kOne + "\n" + kOne);
  const std::vector<std::string> expected = {
      "Loading file...|0|0|0",
      "Validation in progress...|0|3|0",
      "Validation in progress...1/3...|0|3|0",
      "Validation in progress...2/3...|0|3|1",
      "Validation in progress...3/3...|0|3|2",
  };
  EXPECT_EQ(run.Progress, expected);
  EXPECT_EQ(run.Order.back(), "done");
}

// What a sheet asks for: the lines' progress at most once per interval, but always the first
// and the last line, and every message stored all the same.
TEST_F(FileWorkerTest, ProgressCoalescedToItsIntervalKeepsTheFirstAndLastLine) {
  FProgressInterval = std::chrono::hours(1);
  TRun run = Run(kOne + "\n" + kOne + "\n" + kOne + "\n" + kOne + "\n" + kOne);
  const std::vector<std::string> expected = {
      "Loading file...|0|0|0",
      "Validation in progress...|0|5|0",
      "Validation in progress...1/5...|0|5|0",
      "Validation in progress...5/5...|0|5|4",
  };
  EXPECT_EQ(run.Progress, expected);
  EXPECT_EQ(run.Stored, 5u);
  EXPECT_EQ(run.LastError, "");

  // A line that fails is asked about with its own progress shown first.
  TRun failing = Run(kOne + "\n" + kOne + "\nXEH+01'XET+01'\n" + kOne + "\n" + kOne);  // line 3: no XGH
  ASSERT_EQ(failing.Errors.size(), 1u);
  const auto error = std::find(failing.Order.begin(), failing.Order.end(), "error");
  ASSERT_NE(error, failing.Order.begin());
  EXPECT_EQ(*(error - 1), "progress");
  EXPECT_NE(std::find(failing.Progress.begin(), failing.Progress.end(), "Validation in progress...3/5...|0|5|2"),
            failing.Progress.end());
}

TEST_F(FileWorkerTest, LineErrorsAndTheirTexts) {
  const std::string lines[] = {
      "",                                                        // empty line
      "XEH+01'XET+01'",                                          // no XGH
      "XGH+1+0039+104512'",                                      // no XEH
      "XGH+1+0039+104512'XEH+01+1+2'XET+01'",                    // no XGT
      "XGH+1+0039+104512'XEH+01+1+2'A'XGT+1'",                   // no XET
      "XGH+1+0039+104512+002'XEH+90+1+02A1'XET+90'XGT+1'",       // X912 not a number
      "XGH+1+0039+104512+002'XEH+90+1+0201'BOOM'XET+90'XGT+1'",  // engine failure
      "\x01\xFF\xFE binary \x00 garbage",
  };
  std::string file = kOne + "\n";
  for (const std::string& l : lines) file += l + "\n";
  file.insert(file.size() - 1, std::string(1, '\0'));  // a NUL byte in the last line
  file += kOne + "\n";
  TRun run = Run(file);
  EXPECT_EQ(run.LastError, "");
  const std::vector<std::string> expected = {
      "GetExchangeType failed (Missing XGH)",
      "GetExchangeType failed (Missing XGH)",
      "GetExchangeType failed (Missing XEH)",
      "Decompose failed (Missing XGT)",
      "Decompose failed (Missing XET)",
      "SaveMessageResult failed (X912 \"02A1\" is not a number)",
      "engine down",
      "GetExchangeType failed (Missing XGH)",
  };
  EXPECT_EQ(run.Errors, expected);
  auto db = Db();
  EXPECT_EQ(db->GetTableValue("select count(*) from Messages"), 2);
  ExpectWholeMessages(*db);
}

TEST_F(FileWorkerTest, AnsweringNoStopsTheRun) {
  // Line 2 holds three messages, the second of which fails in the engine.
  const std::string split = "XGH+1+0039+104512'XEH+01+1+1'XET+01'XEH+02+1+2'BOOM'XET+02'XEH+03+1+3'XET+03'XGT+1'";
  TRun run = Run(kOne + "\n" + split + "\n" + kOne + "\n");
  EXPECT_EQ(run.Errors, (std::vector<std::string>{"engine down"}));
  run = Run(kOne + "\n" + split + "\n" + kOne + "\n", 1);
  EXPECT_EQ(run.LastError, "");  // a cancelled run ends normally
  EXPECT_EQ(run.Order.back(), "done");
  EXPECT_EQ(run.Order[run.Order.size() - 2], "error");  // no progress after the No
  auto db = Db();
  auto m = db->GetTable("select XehId, X912 from Messages order by Id");
  ASSERT_EQ(m->RowCount(), 2u);  // line 1, and the first message of line 2
  m->Next();
  EXPECT_EQ(m->AsInteger("XehId"), 1);
  EXPECT_EQ(m->AsInteger("X912"), 1);
}

TEST_F(FileWorkerTest, UnreadableFileLeavesEmptySchema) {
  const std::string missing = common::TempFolder() + "verimek-no-such-file.txt";
  TRun run = Run("", 0, 0, &missing);
  EXPECT_EQ(run.LastError, "Cannot open file \"" + missing + "\" (No such file or directory)");
  EXPECT_EQ(run.Progress, (std::vector<std::string>{"Loading file...|0|0|0"}));
  auto db = Db();
  EXPECT_EQ(db->GetTableValue("select count(*) from sqlite_master where type = 'table' and name = 'Messages'"), 1);
  EXPECT_EQ(db->GetTableValue("Select count(*) from Messages"), 0);
}

TEST_F(FileWorkerTest, EmptyFileGivesNoRows) {
  TRun run = Run("");
  EXPECT_EQ(run.LastError, "");
  EXPECT_TRUE(run.Errors.empty());
  EXPECT_EQ(run.Progress.back(), "Validation in progress...|0|0|0");
  EXPECT_EQ(Db()->GetTableValue("Select count(*) from Messages"), 0);
}

TEST_F(FileWorkerTest, CreateDbFailure) {
  FDbName = "/nonexistent-dir/results.db";
  TRun run = Run(kOne);
  EXPECT_EQ(run.LastError.rfind("CreateDB failed (Failed to open database \"/nonexistent-dir/results.db\" : ", 0), 0u)
      << run.LastError;
  EXPECT_TRUE(run.Progress.empty());
}

// Every statement of a run fails once in turn: the failing message leaves no row, every other
// message is stored whole, and the run goes on.
TEST_F(FileWorkerTest, FailingStatementRollsBackOnlyItsMessage) {
  const std::string file = kOne + "\n" + kWithFindings + "\n" + kThree + "\n";
  // Statements: 3 pragmas + 7 schema, BEGIN of the group, per message SAVEPOINT, Messages, Data,
  // findings, RELEASE, and the group's COMMIT at the end.
  const int schema = 10;
  const int perMessage[] = {1 + 4, 7, 4, 5, 4};
  int total = schema + 1;
  for (int n : perMessage) total += n;
  for (int failAt = 1; failAt <= total + 1; ++failAt) {
    SCOPED_TRACE(failAt);
    TRun run = Run(file, 0, failAt);
    if (failAt <= schema) {
      EXPECT_EQ(run.LastError, "CreateDB failed (database or disk is full)");
      continue;
    }
    auto db = Db();
    ExpectWholeMessages(*db);
    const std::int64_t stored = db->GetTableValue("select count(*) from Messages");
    if (failAt == total) {
      // A group that cannot be committed is lost as a whole, and storing ends there.
      EXPECT_EQ(run.LastError, "Storing the results failed (database or disk is full)");
      EXPECT_TRUE(run.Errors.empty());
      EXPECT_EQ(stored, 0);
      continue;
    }
    EXPECT_EQ(run.LastError, "");
    if (failAt == total + 1) {
      EXPECT_TRUE(run.Errors.empty());
      EXPECT_EQ(stored, 5);
      continue;
    }
    EXPECT_EQ(run.Errors, (std::vector<std::string>{"database or disk is full"}));
    // The failing message is lost; in the split line the messages after it are too.
    int at = failAt - schema, msg = 0;
    while (at > perMessage[msg]) at -= perMessage[msg++];
    const int expectedStored = msg < 2 ? 4 : msg;
    EXPECT_EQ(stored, expectedStored);
    // The rollback also takes back the id counter: ids stay 1..stored.
    EXPECT_EQ(db->GetTableValue("select max(Id) from Messages"), expectedStored);
  }
}

// Failures of SQLite itself rather than of a wrapper: an insert that a trigger turns into no
// change, and a full database (its page limit standing in for the disk). The failing message
// leaves no row, the messages stored before stay whole and readable, the file stays sound.
TEST_F(FileWorkerTest, SqliteFailuresRollBackOnlyTheirMessage) {
  class TIgnoringDatabase : public TDatabase {
   public:
    using TDatabase::TDatabase;
    void ExecSql(const std::string& sql, bool check) override {
      TDatabase::ExecSql(sql, check);
      if (sql.rfind("CREATE TABLE Errors", 0) == 0)
        TDatabase::ExecSql(
            "CREATE TRIGGER Ignore BEFORE INSERT ON Errors WHEN NEW.ErrorCode = 'E0009' "
            "BEGIN SELECT RAISE(IGNORE); END",
            false);
    }
  };
  FDbFactory = [](const std::string& n) { return std::make_unique<TIgnoringDatabase>(n, true); };
  TRun run = Run(kOne + "\n" + kWithFindings + "\n" + kOne + "\n");
  // The statement as formatting its values in would have written it, quotes doubled.
  EXPECT_EQ(run.Errors, (std::vector<std::string>{
                            "ExecuteSql(INSERT INTO [Errors]  ([Id], [MessageID], [XehId], [SegmentNo], [SegmentKey], "
                            "[ErrorCode], [ErrorMessage])  VALUES(null, 2, 1, 5, 'ATT+A020', 'E0009', 'It''s \"77\"')) "
                            "failed (RowsChanged = 0)"}));
  {
    auto db = Db();
    EXPECT_EQ(db->GetTableValue("select count(*) from Messages"), 2);
    EXPECT_EQ(db->GetTableValue("select count(*) from Data"), 2);
    ExpectWholeMessages(*db);
  }

  std::string file;
  std::vector<std::string> lines;
  unsigned seed = 1;
  for (int i = 0; i < 12; ++i) {
    std::string noise;
    for (int k = 0; k < 3000; ++k) {
      seed = seed * 1103515245u + 12345u;
      noise += static_cast<char>('A' + (seed >> 16) % 26);
    }
    lines.push_back("XGH+1+0039+104512+002'XEH+90+1+0201'FTX+001+" + noise + "'XET+90'XGT+1'");
    file += lines.back() + "\n";
  }
  FDbFactory = [](const std::string& n) {
    auto db = std::make_unique<TDatabase>(n, true);
    db->ExecSql("PRAGMA max_page_count = 16", false);
    return db;
  };
  // A full database is no fault of the line: the run ends at the first message it cannot store,
  // instead of repeating the failure for every line left, and keeps what it stored.
  run = Run(file);
  EXPECT_EQ(run.LastError, "Storing the results failed (database or disk is full)");
  EXPECT_TRUE(run.Errors.empty());
  FDbFactory = nullptr;
  auto db = Db();
  const std::int64_t stored = db->GetTableValue("select count(*) from Messages");
  EXPECT_GT(stored, 0);
  EXPECT_LT(stored, 12);
  ExpectWholeMessages(*db);
  for (std::int64_t id = 1; id <= stored; ++id) {
    auto body = db->GetTable("select body from data where MessageId = %s and xehid = %s", {std::to_string(id), "1"});
    ASSERT_EQ(body->RowCount(), 1u);
    EXPECT_EQ(DecodeAndDecompress(body->AsString("Body")), lines[static_cast<std::size_t>(id - 1)]);
  }
  EXPECT_EQ(db->GetTable("PRAGMA integrity_check")->AsString("integrity_check"), "ok");
}

// A 100 MB line is one interchange like any other: read, validated and stored whole; the lines
// around it are unaffected.
TEST_F(FileWorkerTest, HundredMegabyteLine) {
#if defined(__SANITIZE_ADDRESS__)
  // The same paths at a size the sanitizer build gets through in seconds, not a minute.
  const std::size_t size = 16u << 20;
#else
  const std::size_t size = 100u << 20;
#endif
  std::string big = "XGH+1+0039+104512+002'XEH+90+1+0201'FTX+001+";
  big.append(size - big.size() - 14, 'x');
  big += "'XET+90'XGT+1'";
  ASSERT_EQ(big.size(), size);
  TRun run = Run(kOne + "\n" + big + "\r\n" + kOne + "\n");
  EXPECT_EQ(run.LastError, "");
  EXPECT_TRUE(run.Errors.empty());
  auto db = Db();
  EXPECT_EQ(db->GetTableValue("select count(*) from Messages"), 3);
  ExpectWholeMessages(*db);
  auto body = db->GetTable("select body from data where MessageId = %s and xehid = %s", {"2", "1"});
  ASSERT_EQ(body->RowCount(), 1u);
  EXPECT_TRUE(DecodeAndDecompress(body->AsString("Body")) == big);
}

// Every table, every row, every column, in id order.
std::string DumpAll(TDatabase& db) {
  std::string out;
  for (const char* t : {"Messages", "Data", "Errors", "Warnings"})
    for (auto r = db.GetTable(std::string("select * from ") + t + " order by Id"); !r->Eof(); r->Next()) {
      out += t;
      for (const std::string& c : r->Columns()) out += "|" + r->AsString(c);
      out += "\n";
    }
  return out;
}

TEST_F(FileWorkerTest, ReadAheadStoresTheSameRows) {
  const std::string split = "XGH+1+0039+104512'XEH+01+1+1'XET+01'XEH+02+1+2'BOOM'XET+02'XEH+03+1+3'XET+03'XGT+1'";
  std::string file;
  for (int i = 0; i < 40; ++i)
    file += (i % 9 == 4 ? split : i % 4 == 1 ? kWithFindings : i % 6 == 5 ? "junk" : kOne) + "\n";
  TRun direct = Run(file);
  const std::string expected = DumpAll(*Db());
  TRun ahead = Run(file, 0, 0, nullptr, true);
  EXPECT_EQ(ahead.Errors, direct.Errors);
  EXPECT_EQ(ahead.Progress, direct.Progress);
  EXPECT_EQ(ahead.Order, direct.Order);
  EXPECT_EQ(DumpAll(*Db()), expected);
  EXPECT_GT(expected.size(), 2000u);

  // Stopping at the second line error drops what was validated ahead of it.
  TRun stopped = Run(file, 2, 0, nullptr, true);
  TRun stoppedDirect = Run(file, 2);
  EXPECT_EQ(stopped.Order, stoppedDirect.Order);
  EXPECT_EQ(DumpAll(*Db()), [&] {
    Run(file, 2);
    return DumpAll(*Db());
  }());
  // A failing statement with read-ahead: the same rows as without.
  Run(file, 0, 30);
  const std::string failedDirect = DumpAll(*Db());
  Run(file, 0, 30, nullptr, true);
  EXPECT_EQ(DumpAll(*Db()), failedDirect);
}

// The worker's count of stored messages is the number of Messages rows, whatever was rolled
// back: a failing statement at every point, a split line that breaks off, reading ahead.
TEST_F(FileWorkerTest, StoredMessagesCountsTheRows) {
  const std::string split = "XGH+1+0039+104512'XEH+01+1+1'XET+01'XEH+02+1+2'BOOM'XET+02'XEH+03+1+3'XET+03'XGT+1'";
  const std::string file = kOne + "\n" + kWithFindings + "\n" + kThree + "\n" + split + "\njunk\n" + kOne + "\n";
  for (bool readAhead : {false, true})
    for (int failAt = 11; failAt <= 45; ++failAt) {
      SCOPED_TRACE(std::string(readAhead ? "read-ahead" : "direct") + ", failing statement " + std::to_string(failAt));
      TRun run = Run(file, 0, failAt, nullptr, readAhead);
      // Only the group's commit ends the run; every other failure is a line error.
      if (!run.LastError.empty()) {
        EXPECT_EQ(run.LastError, "Storing the results failed (database or disk is full)");
      }
      EXPECT_EQ(static_cast<std::int64_t>(run.Stored), Db()->GetTableValue("select count(*) from Messages"));
    }
  TRun run = Run(file);
  EXPECT_EQ(run.Stored, 7u);
  EXPECT_EQ(Db()->GetTableValue("select count(*) from Messages"), 7);
}

// Messages are committed in groups of kGroupMessages: a commit that fails loses its own group
// only, the groups before it stay, and the run ends there.
TEST_F(FileWorkerTest, FailedGroupCommitLosesOnlyThatGroup) {
  const std::size_t group = TValidateFileWorker::kGroupMessages;
  std::string file;
  for (std::size_t i = 0; i < 3 * group; ++i) file += kOne + "\n";
  // 10 schema statements; per group BEGIN, SAVEPOINT + 2 inserts + RELEASE per message, COMMIT.
  const int perGroup = 1 + 4 * static_cast<int>(group) + 1;
  struct Case {
    int FailAt;
    std::int64_t Stored;
    std::string LastError;
  } cases[] = {
      {10 + perGroup, 0, "Storing the results failed (database or disk is full)"},
      {10 + 2 * perGroup, static_cast<std::int64_t>(group), "Storing the results failed (database or disk is full)"},
      {10 + perGroup + 1, static_cast<std::int64_t>(3 * group - 1), ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.FailAt);
    TRun run = Run(file, 0, c.FailAt);
    EXPECT_EQ(run.LastError, c.LastError);
    auto db = Db();
    EXPECT_EQ(db->GetTableValue("select count(*) from Messages"), c.Stored);
    EXPECT_EQ(static_cast<std::int64_t>(run.Stored), c.Stored);
    ExpectWholeMessages(*db);
  }
}

TEST_F(FileWorkerTest, EncodingsAndLineEnds) {
  // UTF-16 LE with a mark, CR-only line ends.
  std::u16string text =
      u"XGH+1+0039+104512+002'XEH+90+1+0201'NME+Ren\u00e9'XET+90'XGT+1'\rXGH+1+0040+1+002'"
      u"XEH+90+1+0201'XET+90'XGT+1'\r";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) bytes += static_cast<char>(c & 0xFF), bytes += static_cast<char>(c >> 8);
  TRun run = Run(bytes);
  EXPECT_TRUE(run.Errors.empty()) << run.Errors[0];
  ASSERT_EQ(FLog.Validated.size(), 2u);
  EXPECT_EQ(FLog.Validated[0], "XGH+1+0039+104512+002'XEH+90+1+0201'NME+Ren\xC3\xA9'XET+90'XGT+1'");
  auto body = Db()->GetTable("select body from data where MessageId = %s and xehid = %s", {"1", "1"});
  EXPECT_EQ(DecodeAndDecompress(body->AsString("Body")), FLog.Validated[0]);

  // No mark: valid UTF-8 stays UTF-8, anything else is the single-byte code page.
  FLog.Validated.clear();
  Run("XGH+1+1+1+1'XEH+1+1+1'NME+Ren\xC3\xA9'XET+1'XGT+1'\r\n");
  Run("XGH+1+1+1+1'XEH+1+1+1'NME+Ren\xE9 \x80'XET+1'XGT+1'\r\n");
  ASSERT_EQ(FLog.Validated.size(), 2u);
  EXPECT_EQ(FLog.Validated[0], "XGH+1+1+1+1'XEH+1+1+1'NME+Ren\xC3\xA9'XET+1'XGT+1'");
  EXPECT_EQ(FLog.Validated[1], "XGH+1+1+1+1'XEH+1+1+1'NME+Ren\xC3\xA9 \xE2\x82\xAC'XET+1'XGT+1'");
}

TEST(LineReaderTest, CountsAndStreamsLines) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"", {}},
      {"\n", {""}},
      {"a", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\r\n\r\nb\n", {"a", "", "b"}},
      {"a\r\rb\r", {"a", "", "b"}},
      {"\xEF\xBB\xBF"
       "a\nb",
       {"a", "b"}},
      {std::string("\xFE\xFF\0a\0\n\0b", 8), {"a", "b"}},
  };
  for (const auto& [bytes, lines] : cases) {
    std::string name = WriteTemp(bytes);
    TLineReader r(name);
    EXPECT_EQ(r.CountLines(), lines.size());
    std::vector<std::string> got;
    for (std::string l; r.ReadLine(l);) got.push_back(l);
    EXPECT_EQ(got, lines);
    std::remove(name.c_str());
  }
}

TEST(LineReaderTest, LongLineAcrossBuffers) {
  // A CR LF split over the buffer boundary, and a line longer than the buffer.
  std::string big(65535, 'x');
  std::string name = WriteTemp(big + "\r\n" + std::string(200000, 'y') + "\n");
  TLineReader r(name);
  EXPECT_EQ(r.CountLines(), 2u);
  std::string l;
  ASSERT_TRUE(r.ReadLine(l));
  EXPECT_EQ(l, big);
  ASSERT_TRUE(r.ReadLine(l));
  EXPECT_EQ(l.size(), 200000u);
  EXPECT_FALSE(r.ReadLine(l));
  std::remove(name.c_str());
}

// A host with a real worker thread: steps are queued to the test's thread, which runs them
// while the worker waits, as an event loop does.
class TQueuedHost : public TWorkerHost {
 public:
  void StartThread(std::function<void()> job) override { FThread = std::thread(std::move(job)); }
  void RunOnUiThread(const std::function<void()>& step) override {
    std::unique_lock<std::mutex> lock(FMutex);
    bool done = false;
    std::exception_ptr failure;
    FQueue.push_back([&] {
      try {
        step();
      } catch (...) {
        failure = std::current_exception();
      }
      done = true;
    });
    FCond.notify_all();
    FCond.wait(lock, [&] { return done; });
    if (failure) std::rethrow_exception(failure);
  }
  // Runs queued steps until `finished` holds.
  void Loop(const bool& finished) {
    std::unique_lock<std::mutex> lock(FMutex);
    while (!finished) {
      FCond.wait(lock, [&] { return !FQueue.empty(); });
      auto step = std::move(FQueue.front());
      FQueue.pop_front();
      uiThread = std::this_thread::get_id();
      step();
      FCond.notify_all();
    }
  }
  ~TQueuedHost() override {
    if (FThread.joinable()) FThread.join();
  }
  std::thread::id uiThread;

 private:
  std::thread FThread;
  std::mutex FMutex;
  std::condition_variable FCond;
  std::deque<std::function<void()>> FQueue;
};

TEST(WorkerThreadTest, CallbacksRunOnTheUiThreadAndWorkerFreesItself) {
  fake::TFakeLog log;
  TComponentFactory f;
  f.CreateDocument = [&] { return fake::NewDocument(&log); };
  f.CreateMessage = [&] { return fake::NewMessage(&log); };
  TQueuedHost host;
  const auto me = std::this_thread::get_id();
  std::vector<std::string> order;
  bool finished = false;
  auto* w = new TValidateMsgWorker(host, f, "XGH+1+0039+104512'\r\n    XEH+01'\r\n    XET+01'\r\nXGT+1'");
  w->FreeOnTerminate = true;
  w->OnValidateDone = [&](TWorker& sender) {
    EXPECT_EQ(std::this_thread::get_id(), me);
    std::int32_t n = -1;
    sender.EdiDocument()->get_ErrorCount(&n);
    order.push_back("done " + std::to_string(n));
  };
  w->OnTerminate = [&](TWorker& sender) {
    EXPECT_EQ(std::this_thread::get_id(), me);
    order.push_back("terminate " + sender.LastError());
    finished = true;
  };
  w->Start();
  host.Loop(finished);
  EXPECT_EQ(order, (std::vector<std::string>{"done 0", "terminate "}));
  ASSERT_EQ(log.Validated.size(), 1u);
  EXPECT_EQ(log.Validated[0], "XGH+1+0039+104512'XEH+01'XET+01'XGT+1'");  // unindented
}

// An error handler that fails ends the job: its message becomes LastError, the messages stored
// before stay, and the worker still frees itself after the termination handler.
TEST(WorkerThreadTest, FailingErrorHandlerEndsTheFileJob) {
  fake::TFakeLog log;
  TComponentFactory f;
  f.CreateDocument = [&] { return fake::NewDocument(&log); };
  f.CreateMessage = [&] { return fake::NewMessage(&log); };
  const std::string input = WriteTemp(kOne + "\njunk\n" + kOne + "\n");
  const std::string db = NewTempDbFileName();
  TQueuedHost host;
  bool finished = false;
  std::string lastError;
  auto* w = new TValidateFileWorker(host, f, input, db);
  w->FreeOnTerminate = true;
  w->OnError = [](TWorker&, const std::string&, bool&) { throw std::runtime_error("handler failed"); };
  w->OnTerminate = [&](TWorker& sender) {
    lastError = sender.LastError();
    finished = true;
  };
  w->Start();
  host.Loop(finished);
  EXPECT_EQ(lastError, "handler failed");
  EXPECT_EQ(TDatabase(db, false).GetTableValue("select count(*) from Messages"), 1);
  std::remove(input.c_str());
  for (const char* ext : {"", "-wal", "-shm"}) std::remove((db + ext).c_str());
}

TEST(WorkerThreadTest, SyntaxAndReferentialWorkers) {
  fake::TFakeLog log;
  TComponentFactory f;
  f.CreateDocument = [&] { return fake::NewDocument(&log); };
  f.CreateMessage = [&] { return fake::NewMessage(&log); };
  TDirectWorkerHost host;
  const std::string shown = "XGH+1'\r\n    XEH+01'";
  TValidateSyntaxWorker syntax(host, f, shown);
  bool called = false;
  syntax.OnValidateDone = [&](TWorker&) { called = true; };
  syntax.Start();
  EXPECT_TRUE(called);
  EXPECT_EQ(log.InputStream, shown);  // parsed as shown, not unindented
  EXPECT_EQ(log.Documents, 1);        // every worker gets both objects

  TReferentialNameWorker ref(host, f);
  ref.Start();
  EXPECT_EQ(ref.LastError(), "");
  EXPECT_EQ(ref.ReferentialFilename(), "/srv/ref/Referentiel.mdb");

  // An engine failure ends the job with LastError and no done callback.
  TValidateMsgWorker failing(host, f, "XGH+1'BOOM'");
  called = false;
  failing.OnValidateDone = [&](TWorker&) { called = true; };
  failing.Start();
  EXPECT_FALSE(called);
  EXPECT_EQ(failing.LastError(), "engine down");
}

TEST(DateTest, IsoDates) {
  edicom::DATE d = 0;
  ASSERT_TRUE(ParseIsoDate("2025-06-30", d));
  EXPECT_EQ(d, 45838);
  ASSERT_TRUE(ParseIsoDate("1899-12-30", d));
  EXPECT_EQ(d, 0);
  ASSERT_TRUE(ParseIsoDate("2024-02-29", d));
  for (const char* bad : {"2025-02-29", "2025-13-01", "2025-6-30", "2025-06-31", "20250630", "2025-06-30x", ""})
    EXPECT_FALSE(ParseIsoDate(bad, d)) << bad;
  EXPECT_GT(TodayDate(), 45000);
}

}  // namespace
