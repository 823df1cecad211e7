// The access layer: connection texts, value rules and the SQLite backend.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "DbTestUtil.h"
#include "db/DbAccess.h"

using namespace common::db;
using namespace dbtest;

namespace {

const char* kValuesDb = R"(
  create table T (id integer primary key, Txt text, N integer, X double, D date, B boolean, Bl blob, C currency);
  insert into T values (1, 'abc', 42, 1.5, '2024-02-29', 1, x'00', 12.5);
  insert into T values (2, null, null, null, null, null, null, null);
  insert into T values (3, '', -2147483648, 0.30000000000000004, '2000-01-01 12:00:00', 0, x'01', 0);
  insert into T values (4, '01', 2147483648, 1e-7, 'not a date', 'yes', null, 1);
  create table Ordered (Ordre int primary key, Label text);
  insert into Ordered values (10, 'ten'); insert into Ordered values (30, 'thirty'); insert into Ordered values (20, 'twenty');
  create table Heap (Code text, Valeur text);
  insert into Heap values ('b', '2'); insert into Heap values ('a', '1'); insert into Heap values ('a', '1');
)";

}  // namespace

TEST(DbConnectionText, MaskPasswordHidesEveryForm) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"Provider=SQLOLEDB.1;Password=s3cret;User ID=u;Data Source=srv",
       "Provider=SQLOLEDB.1;Password=***;User ID=u;Data Source=srv"},
      {"Provider=SQLOLEDB.1;password=\"a;b\";User ID=u", "Provider=SQLOLEDB.1;password=***;User ID=u"},
      {"DRIVER={FreeTDS};PWD=x;UID=u", "DRIVER={FreeTDS};PWD=***;UID=u"},
      {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/a/b.mdb",
       "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/a/b.mdb"},
  };
  for (const Case& c : cases) EXPECT_EQ(MaskPassword(c.in), c.out) << c.in;
}

TEST(DbConnectionText, AdaptTopQuery) {
  struct Case {
    const char *in, *out;
  } cases[] = {
      {"Select top 1 Version From version_referentiel order by id desc",
       "Select Version From version_referentiel order by id desc limit 1"},
      {"  SELECT  TOP 25 a from t;", "  SELECT a from t limit 25"},
      {"Select topic from t", "Select topic from t"},
      {"Select top x from t", "Select top x from t"},
      {"Select a from t", "Select a from t"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(AdaptTopQuery(c.in), c.out) << c.in;
}

TEST(DbConnectionText, ProviderAndFileFailures) {
  TTempDir dir;
  std::ofstream(dir.File("junk.mdb")) << "this is neither kind of database file, only text";
  std::ofstream(dir.File("fake.db")) << std::string("SQLite format 3\0garbage garbage garbage garbage", 48);
  struct Case {
    std::string text, error;
  } cases[] = {
      {"Provider=MSDASQL;Data Source=x", "Provider \"MSDASQL\" is not supported"},
      {"Data Source=x", "No provider named in the connection text"},
      {JetText(dir.File("missing.mdb")), "Could not find file \"" + dir.File("missing.mdb") + "\""},
      {JetText(dir.File("junk.mdb")), "\"" + dir.File("junk.mdb") + "\" is neither a SQLite nor an Access database"},
      {JetText(dir.Path.string()), "\"" + dir.Path.string() + "\" is a folder, not a database file"},
      {"Provider=Microsoft.Jet.OLEDB.4.0;Password=\"\"", "No Data Source in the connection text"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf([&] { OpenConnection(c.text); }), c.error) << c.text;
  // A file with the header but no valid content fails on opening, with SQLite's reason.
  EXPECT_NE(ErrorOf([&] { OpenConnection(JetText(dir.File("fake.db"))); }), "(no error)");
}

TEST(DbSqlite, ValueRulesAndNulls) {
  TTempDir dir;
  ASSERT_EQ(MakeSqlite(dir.File("v.db"), kValuesDb), "");
  auto conn = OpenConnection(JetText(dir.File("v.db")));
  EXPECT_EQ(conn->BackendName(), "SQLite");
  auto rs = conn->Query("Select * from T order by id");
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->AsString("txt"), "abc");
  EXPECT_EQ(rs->AsInteger("n"), 42);
  EXPECT_DOUBLE_EQ(rs->AsFloat("X"), 1.5);
  EXPECT_DOUBLE_EQ(rs->AsDate("D"), 45351);
  EXPECT_TRUE(rs->AsBoolean("B"));
  EXPECT_DOUBLE_EQ(rs->AsFloat("C"), 12.5);
  EXPECT_EQ(ErrorOf([&] { rs->AsString("Nope"); }), "Field \"Nope\" not found");
  EXPECT_EQ(ErrorOf([&] { rs->AsBoolean("Txt"); }), "Field \"Txt\": \"abc\" is not a valid boolean value");
  EXPECT_EQ(ErrorOf([&] { rs->AsInteger("Txt"); }), "Field \"Txt\": \"abc\" is not a valid integer value");

  rs->Next();  // every column null
  EXPECT_EQ(rs->AsString("Txt"), "");
  EXPECT_EQ(rs->AsInteger("N"), 0);
  EXPECT_EQ(rs->AsFloat("X"), 0);
  EXPECT_EQ(rs->AsDate("D"), 0);
  EXPECT_FALSE(rs->AsBoolean("B"));
  EXPECT_EQ(rs->AsFloat("C"), 0);
  EXPECT_EQ(ErrorOf([&] { rs->AsString("Bl"); }), "Unknown Datatype: 4");

  rs->Next();
  EXPECT_EQ(rs->AsString("Txt"), "");
  EXPECT_FALSE(rs->IsNull(rs->FieldIndex("Txt")));
  EXPECT_EQ(rs->AsInteger("N"), -2147483647 - 1);
  EXPECT_EQ(rs->AsFloat("X"), 0.30000000000000004);
  EXPECT_DOUBLE_EQ(rs->AsDate("D"), 36526.5);
  EXPECT_FALSE(rs->AsBoolean("B"));

  rs->Next();  // values that do not fit their column
  EXPECT_EQ(rs->AsString("Txt"), "01");
  EXPECT_EQ(rs->AsInteger("Txt"), 1);
  EXPECT_EQ(ErrorOf([&] { rs->AsInteger("N"); }), "Field \"N\": 2147483648 is out of the integer range");
  EXPECT_EQ(ErrorOf([&] { rs->AsDate("D"); }), "Field \"D\": \"not a date\" is not a valid date");
  EXPECT_TRUE(rs->AsBoolean("B"));
  rs->Next();
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(ErrorOf([&] { rs->AsString("Txt"); }), "No current record");
}

TEST(DbSqlite, TablesInStoredOrderAndLocate) {
  TTempDir dir;
  ASSERT_EQ(MakeSqlite(dir.File("v.db"), kValuesDb), "");
  auto conn = OpenConnection(JetText(dir.File("v.db")));
  auto t = conn->OpenTable("ordered");
  std::string seen;
  for (; !t->Eof(); t->Next()) seen += std::to_string(t->AsInteger("Ordre")) + " ";
  EXPECT_EQ(seen, "10 30 20 ");
  EXPECT_TRUE(t->Locate({{"Label", "twenty"}}));
  EXPECT_EQ(t->AsInteger("Ordre"), 20);
  EXPECT_TRUE(t->Locate({{"Label", "ten"}, {"Ordre", "10"}}));  // from the start again
  EXPECT_EQ(t->AsInteger("ORDRE"), 10);
  EXPECT_FALSE(t->Locate({{"Label", "Ten"}}));  // whole value, exact case
  EXPECT_TRUE(t->Eof());
  EXPECT_EQ(ErrorOf([&] { t->Locate({{"Nope", "1"}}); }), "Field \"Nope\" not found");

  auto q = conn->Query("select Code from Heap");
  EXPECT_EQ(ErrorOf([&] { q->Locate({{"Code", "a"}}); }), "Locate is only available on a table");
  EXPECT_EQ(ErrorOf([&] { conn->OpenTable("Missing"); }), "Table \"Missing\" not found");
  EXPECT_EQ(ErrorOf([&] { conn->Query("select x from Missing"); }), "no such table: Missing");
  EXPECT_EQ(ErrorOf([&] { conn->Query("delete from Heap"); }), "Only SELECT queries are allowed");

  auto top = conn->Query("Select top 1 Ordre from Ordered order by Ordre desc");
  ASSERT_FALSE(top->Eof());
  EXPECT_EQ(top->AsInteger("Ordre"), 30);
  top->Next();
  EXPECT_TRUE(top->Eof());
  conn->Close();
  EXPECT_FALSE(conn->Connected());
  conn->Close();  // closing twice does nothing
  EXPECT_EQ(ErrorOf([&] { conn->Query("select 1"); }), "Connection is closed");
}
