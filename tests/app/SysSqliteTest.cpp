// The results database wrapper, the schema, temporary naming and the stored body form.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "Platform.h"
#include "SysSqlite.h"

using namespace verimek;

namespace {

class SysSqliteTest : public ::testing::Test {
 protected:
  void SetUp() override { FName = NewTempDbFileName(); }
  void TearDown() override { std::remove(FName.c_str()); }
  std::string FName;
};

template <class F>
std::string FailureOf(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no failure)";
}

TEST_F(SysSqliteTest, TempNameIsFreshDbInTempFolder) {
  const std::string name = common::ExtractFileName(FName);
  EXPECT_EQ(common::ExtractFilePath(FName), common::TempFolder());
  EXPECT_EQ(name.rfind("sql", 0), 0u) << name;
  EXPECT_EQ(name.substr(name.size() - 3), ".db");
  EXPECT_FALSE(common::FileExists(FName));
  EXPECT_FALSE(common::FileExists(FName.substr(0, FName.size() - 3) + ".tmp"));
  EXPECT_NE(NewTempDbFileName(), FName);
}

TEST_F(SysSqliteTest, OpenFailures) {
  EXPECT_EQ(FailureOf([&] { TDatabase db(FName, false); }), "File \"" + FName + "\" not found");
  const std::string bad = "/nonexistent-dir/x.db";
  EXPECT_EQ(FailureOf([&] { TDatabase db(bad, true); }).rfind("Failed to open database \"" + bad + "\" : ", 0), 0u);
}

TEST_F(SysSqliteTest, StatementsTablesAndTransactions) {
  TDatabase db(FName, true);
  db.ExecSql("create table T (Id integer primary key autoincrement, Name char(5), N integer)", false);
  db.ExecSql("insert into T (Name, N) values ('%s', %d)", {std::string("O''Neil"), std::int64_t{7}}, true);
  EXPECT_EQ(db.LastInsertRowId(), 1);
  db.ExecParams("insert into T (Name, N) values (?, ?)", {std::string("it's ok"), TSqlValue{}}, true);
  EXPECT_EQ(db.LastInsertRowId(), 2);

  EXPECT_EQ(FailureOf([&] { db.ExecSql("update T set N = 1 where Id = 99", true); }),
            "ExecuteSql(update T set N = 1 where Id = 99) failed (RowsChanged = 0)");
  db.ExecSql("update T set N = 1 where Id = 99", false);  // no check, no failure
  EXPECT_EQ(FailureOf([&] { db.ExecSql("insert into Missing values (1)", false); }), "no such table: Missing");

  auto t = db.GetTable("select * from T where Id > %d order by Id", {std::int64_t{0}});
  ASSERT_EQ(t->RowCount(), 2u);
  EXPECT_EQ(t->AsString("name"), "O'Neil");  // column names ignore case
  EXPECT_EQ(t->AsInteger("N"), 7);
  t->Next();
  EXPECT_EQ(t->AsString("NAME"), "it's ok");
  EXPECT_EQ(t->AsInteger("N"), 0);  // NULL
  t->Next();
  EXPECT_TRUE(t->Eof());
  EXPECT_EQ(FailureOf([&] { t->Next(); }), "Table is at End of File");
  EXPECT_EQ(FailureOf([&] { t->AsString("Name"); }), "Table is at End of File");
  t->First();
  EXPECT_EQ(FailureOf([&] { t->AsString("Nope"); }), "Field \"Nope\" not found");

  EXPECT_EQ(db.GetTableValue("select count(*) from T"), 2);
  EXPECT_EQ(db.GetTableValue("select N from T where Id = 42"), 0);

  db.BeginTransaction();
  EXPECT_EQ(FailureOf([&] { db.BeginTransaction(); }), "Transaction already open");
  db.ExecSql("delete from T", true);
  db.Rollback();
  EXPECT_EQ(db.GetTableValue("select count(*) from T"), 2);
  db.BeginTransaction();
  db.ExecSql("delete from T where Id = 1", true);
  db.Commit();
  EXPECT_EQ(db.GetTableValue("select count(*) from T"), 1);
}

TEST_F(SysSqliteTest, TextIsStoredInTheSingleByteCodePage) {
  TDatabase db(FName, true);
  db.ExecSql("create table T (S text)", false);
  db.ExecParams("insert into T values (?)", {std::string("caf\xC3\xA9 \xE2\x82\xAC \xE4\xB8\xAD")}, true);
  // What the code page lacks is stored as SUB, never as the release character "?".
  EXPECT_EQ(db.GetTable("select S from T")->AsString("S"), "caf\xC3\xA9 \xE2\x82\xAC \x1A");
  EXPECT_EQ(db.GetTableValue("select length(cast(S as blob)) from T"), 8);  // one byte per character
}

TEST_F(SysSqliteTest, SchemaHasEveryTableAndIndex) {
  TDatabase db(FName, true);
  EXPECT_EQ(CreateResultsSchema(db), 7);
  for (const char* name : {"Messages", "Data", "Errors", "Warnings", "ErrorCodes", "Idx921", "IdxErrorsMessageId"})
    EXPECT_EQ(db.GetTableValue(std::string("select count(*) from sqlite_master where name = '") + name + "'"), 1)
        << name;
  for (const char* q :
       {"Select count(*) from Messages where ErrorCount = 0 and WarningCount = 0",
        "Select count(*) from Messages where ErrorCount <> 0",
        "Select count(*) from Messages where ErrorCount = 0 and WarningCount <> 0", "Select count(*) from Messages"})
    EXPECT_EQ(db.GetTableValue(q), 0) << q;
  EXPECT_EQ(db.GetTable("select ErrorCode as Code, count(*) as Count from errors group by ErrorCode order by ErrorCode")
                ->RowCount(),
            0u);
}

TEST(BodyFormatTest, RoundTripAndLineBreaks) {
  std::string text;
  for (int i = 0; i < 400; ++i) text += "XEH+" + std::to_string(i * 7919 % 1000) + "+caf\xC3\xA9'";
  const std::string body = CompressAndEncode(text);
  ASSERT_GT(body.size(), 160u);
  // CR LF after every 76 characters, nowhere else.
  std::size_t col = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\r') {
      ASSERT_EQ(col, 76u) << i;
      ASSERT_EQ(body[i + 1], '\n');
      ++i;
      col = 0;
    } else {
      ASSERT_LT(col, 76u);
      ++col;
    }
  }
  EXPECT_EQ(DecodeAndDecompress(body), text);
  std::string flat;
  for (char c : body)
    if (c != '\r' && c != '\n') flat.push_back(c);
  EXPECT_EQ(DecodeAndDecompress(flat), text);

  const std::pair<const char*, const char*> small[] = {{"", "eJwDAAAAAAE="}, {"A", "eJxzBAAAQgBC"}};
  for (const auto& [in, out] : small) {
    EXPECT_EQ(CompressAndEncode(in), out);
    EXPECT_EQ(DecodeAndDecompress(out), in);
  }
}

TEST(BodyFormatTest, DamagedBodiesFail) {
  for (const char* bad : {"eJxzBA!AQgBC", "eJxzBAAA", "", "eJ=xzBAAAQgBC"})
    EXPECT_THROW(DecodeAndDecompress(bad), ESqliteError) << bad;
}

}  // namespace
