// The SQLite backend: files read-only, and the in-memory store of the Access backend.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DateUtils.h"
#include "Format.h"
#include "db/DbInternal.h"

namespace common::db::detail {

// ---- text collation ---------------------------------------------------------------------------

// Next code point of a UTF-8 text; a stray byte stands for itself.
static std::uint32_t NextCodePoint(std::string_view s, std::size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (len <= 1 || i + static_cast<std::size_t>(len) > s.size()) {
    ++i;
    return c;
  }
  std::uint32_t cp = c & (0x7Fu >> len);
  for (int k = 1; k < len; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return c;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += static_cast<std::size_t>(len);
  return cp;
}

static std::uint32_t FoldCase(std::uint32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c | 1u;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1u) ? c + 1 : c;
  if (c == 0x178) return 0xFF;
  return c;
}

int CompareTextIgnoringCase(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    std::uint32_t x = FoldCase(NextCodePoint(a, i)), y = FoldCase(NextCodePoint(b, j));
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

static int JetCollation(void*, int na, const void* a, int nb, const void* b) {
  return CompareTextIgnoringCase(std::string_view(static_cast<const char*>(a), static_cast<std::size_t>(na)),
                                 std::string_view(static_cast<const char*>(b), static_cast<std::size_t>(nb)));
}

void RegisterJetCollation(sqlite3* db) { sqlite3_create_collation(db, "JETTEXT", SQLITE_UTF8, nullptr, JetCollation); }

std::string QuoteIdent(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// ---- recordset --------------------------------------------------------------------------------

namespace {

// Kind and type number of a declared column type. Columns of Access types without a SQLite
// counterpart are declared "ACCESS_TYPE_<n>" with libmdb's type number.
void KindOfDeclType(const char* decl, TFieldKind& kind, int& number, bool& declared) {
  declared = decl != nullptr && *decl != '\0';
  kind = fkText;
  number = SQLITE_TEXT;
  if (!declared) return;
  std::string d(decl);
  for (char& c : d) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto has = [&](const char* w) { return d.find(w) != std::string::npos; };
  if (d.rfind("ACCESS_TYPE_", 0) == 0) {
    kind = fkOther;
    number = std::atoi(d.c_str() + 12);
  } else if (has("BOOL") || d == "BIT") {
    kind = fkBoolean;
    number = SQLITE_INTEGER;
  } else if (has("DATE") || has("TIME")) {
    kind = fkDate;
    number = SQLITE_TEXT;
  } else if (has("MONEY") || has("CURRENCY")) {
    kind = fkCurrency;
    number = SQLITE_FLOAT;
  } else if (has("INT")) {
    kind = fkInteger;
    number = SQLITE_INTEGER;
  } else if (has("CHAR") || has("CLOB") || has("TEXT") || has("MEMO") || has("STRING")) {
    kind = fkText;
    number = SQLITE_TEXT;
  } else if (has("REAL") || has("FLOA") || has("DOUB") || has("NUMERIC") || has("DECIMAL")) {
    kind = fkFloat;
    number = SQLITE_FLOAT;
  } else {
    kind = fkOther;
    number = SQLITE_BLOB;
  }
}

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS" of an automation day count.
std::string FormatAutomationDate(double days) {
  long secs = 0;
  TCivilDate c = CivilFromDate(days, secs);
  char buf[48];
  if (secs == 0)
    std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d", static_cast<long long>(c.Year), c.Month, c.Day);
  else
    std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d %02ld:%02ld:%02ld", static_cast<long long>(c.Year), c.Month, c.Day,
                  secs / 3600, secs / 60 % 60, secs % 60);
  return buf;
}

class TSqliteRecordset : public TDbRecordset {
 public:
  TSqliteRecordset(sqlite3* db, sqlite3_stmt* stmt, bool isTable) : FDb(db), FStmt(stmt), FIsTable(isTable) {
    int n = sqlite3_column_count(stmt);
    for (int i = 0; i < n; ++i) {
      const char* name = sqlite3_column_name(stmt, i);
      FNames.emplace_back(name ? name : "");
      TFieldKind k;
      int num;
      bool declared;
      KindOfDeclType(sqlite3_column_decltype(stmt, i), k, num, declared);
      FKinds.push_back(k);
      FNumbers.push_back(num);
      FDeclared.push_back(declared);
    }
    Step();
  }
  ~TSqliteRecordset() override { sqlite3_finalize(FStmt); }

  bool Eof() const override { return FEof; }
  void Next() override {
    if (!FEof) Step();
  }
  int FieldCount() const override { return static_cast<int>(FNames.size()); }
  std::string FieldName(int index) const override { return FNames.at(static_cast<std::size_t>(index)); }
  int FieldIndex(std::string_view name) const override {
    for (std::size_t i = 0; i < FNames.size(); ++i)
      if (SameText(FNames[i], name)) return static_cast<int>(i);
    return -1;
  }
  TFieldKind FieldKind(int index) const override {
    std::size_t i = Check(index);
    if (FDeclared[i]) return FKinds[i];
    switch (FEof ? SQLITE_NULL : sqlite3_column_type(FStmt, index)) {
      case SQLITE_INTEGER:
        return fkInteger;
      case SQLITE_FLOAT:
        return fkFloat;
      case SQLITE_BLOB:
        return fkOther;
      default:
        return fkText;  // an expression's null reads as an empty text
    }
  }
  int FieldTypeNumber(int index) const override {
    std::size_t i = Check(index);
    if (FDeclared[i]) return FNumbers[i];
    return FEof ? SQLITE_NULL : sqlite3_column_type(FStmt, index);
  }
  bool IsNull(int index) const override {
    RequireRow(index);
    return sqlite3_column_type(FStmt, index) == SQLITE_NULL;
  }
  std::string GetText(int index) const override {
    RequireRow(index);
    int t = sqlite3_column_type(FStmt, index);
    if (FKinds[static_cast<std::size_t>(index)] == fkDate && FDeclared[static_cast<std::size_t>(index)] &&
        (t == SQLITE_INTEGER || t == SQLITE_FLOAT))
      return FormatAutomationDate(sqlite3_column_double(FStmt, index));
    const unsigned char* p = sqlite3_column_text(FStmt, index);
    int len = sqlite3_column_bytes(FStmt, index);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(len)) : std::string();
  }
  std::int64_t GetInteger(int index) const override {
    RequireRow(index);
    switch (sqlite3_column_type(FStmt, index)) {
      case SQLITE_INTEGER:
        return sqlite3_column_int64(FStmt, index);
      case SQLITE_FLOAT:
        return static_cast<std::int64_t>(std::llround(sqlite3_column_double(FStmt, index)));
      case SQLITE_NULL:
        return 0;
      default:
        break;
    }
    std::string t = GetText(index);
    char* end = nullptr;
    long long v = std::strtoll(t.c_str(), &end, 10);
    if (!t.empty() && *end == '\0') return v;
    if (SameText(t, "true")) return 1;
    if (SameText(t, "false")) return 0;
    throw EDbError(
        Fmt("Field \"%s\": \"%s\" is not a valid integer value", FNames[static_cast<std::size_t>(index)], t));
  }
  double GetFloat(int index) const override {
    RequireRow(index);
    switch (sqlite3_column_type(FStmt, index)) {
      case SQLITE_INTEGER:
      case SQLITE_FLOAT:
        return sqlite3_column_double(FStmt, index);
      case SQLITE_NULL:
        return 0;
      default:
        break;
    }
    std::string t = GetText(index);
    double d = 0;
    if (FKinds[static_cast<std::size_t>(index)] == fkDate) {
      if (TryParseIsoDateTime(t, d)) return d;
      throw EDbError(Fmt("Field \"%s\": \"%s\" is not a valid date", FNames[static_cast<std::size_t>(index)], t));
    }
    char* end = nullptr;
    d = std::strtod(t.c_str(), &end);
    if (!t.empty() && *end == '\0') return d;
    throw EDbError(
        Fmt("Field \"%s\": \"%s\" is not a valid floating point value", FNames[static_cast<std::size_t>(index)], t));
  }

  bool Locate(const std::vector<std::pair<std::string, std::string>>& fieldValues) override {
    if (!FIsTable) return TDbRecordset::Locate(fieldValues);
    std::vector<int> cols;
    cols.reserve(fieldValues.size());
    for (const auto& fv : fieldValues) cols.push_back(RequireField(fv.first));
    sqlite3_reset(FStmt);
    for (Step(); !FEof; Step()) {
      bool all = true;
      for (std::size_t k = 0; k < cols.size() && all; ++k) {
        // A null compares as the empty text, as it reads.
        std::string v = IsNull(cols[k]) ? std::string() : GetText(cols[k]);
        all = v == fieldValues[k].second;
      }
      if (all) return true;
    }
    return false;
  }

 private:
  std::size_t Check(int index) const {
    if (index < 0 || index >= FieldCount()) throw EDbError(Fmt("Field index %d out of range", index));
    return static_cast<std::size_t>(index);
  }
  void RequireRow(int index) const {
    Check(index);
    if (FEof) throw EDbError("No current record");
  }
  void Step() {
    int rc = sqlite3_step(FStmt);
    if (rc == SQLITE_ROW) {
      FEof = false;
    } else if (rc == SQLITE_DONE) {
      FEof = true;
    } else {
      FEof = true;
      throw EDbError(sqlite3_errmsg(FDb));
    }
  }

  sqlite3* FDb;
  sqlite3_stmt* FStmt;
  bool FIsTable;
  bool FEof = true;
  std::vector<std::string> FNames;
  std::vector<TFieldKind> FKinds;
  std::vector<int> FNumbers;
  std::vector<bool> FDeclared;
};

}  // namespace

// ---- connection -------------------------------------------------------------------------------

TSqliteConnection::TSqliteConnection(const std::string& path, bool inMemory) {
  int flags = inMemory ? (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_MEMORY) : SQLITE_OPEN_READONLY;
  int rc = sqlite3_open_v2(inMemory ? ":memory:" : path.c_str(), &FDb, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = FDb ? sqlite3_errmsg(FDb) : sqlite3_errstr(rc);
    sqlite3_close(FDb);
    FDb = nullptr;
    throw EDbError(msg);
  }
  sqlite3_extended_result_codes(FDb, 0);
  RegisterJetCollation(FDb);
  if (!inMemory) {
    // A file that only claims to be SQLite fails here rather than at the first query.
    sqlite3_stmt* st = nullptr;
    rc = sqlite3_prepare_v2(FDb, "select count(*) from sqlite_master", -1, &st, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(st);
    std::string msg = rc == SQLITE_ROW ? std::string() : std::string(sqlite3_errmsg(FDb));
    sqlite3_finalize(st);
    if (!msg.empty()) {
      sqlite3_close(FDb);
      FDb = nullptr;
      throw EDbError(msg);
    }
  }
}

TSqliteConnection::~TSqliteConnection() { Close(); }

void TSqliteConnection::Close() {
  if (FDb) sqlite3_close_v2(FDb);
  FDb = nullptr;
}

void TSqliteConnection::Exec(const std::string& sql) {
  if (!FDb) throw EDbError("Connection is closed");
  char* err = nullptr;
  if (sqlite3_exec(FDb, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errmsg(FDb);
    sqlite3_free(err);
    throw EDbError(msg);
  }
}

std::unique_ptr<TDbRecordset> TSqliteConnection::Query(const std::string& sql) {
  if (!FDb) throw EDbError("Connection is closed");
  std::string text = AdaptTopQuery(sql);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(FDb, text.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    std::string msg = sqlite3_errmsg(FDb);
    sqlite3_finalize(st);
    throw EDbError(msg);
  }
  if (!st) throw EDbError("Empty query");
  if (!sqlite3_stmt_readonly(st)) {
    sqlite3_finalize(st);
    throw EDbError("Only SELECT queries are allowed");
  }
  return std::make_unique<TSqliteRecordset>(FDb, st, false);
}

std::unique_ptr<TDbRecordset> TSqliteConnection::OpenTable(const std::string& name) {
  if (!FDb) throw EDbError("Connection is closed");
  // The stored order is rowid order; without the order by, a covering index may be scanned
  // instead. Tables without rowid fall back to their key order.
  sqlite3_stmt* st = nullptr;
  std::string q = "select * from " + QuoteIdent(name);
  if (sqlite3_prepare_v2(FDb, (q + " order by rowid").c_str(), -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    st = nullptr;
    if (sqlite3_prepare_v2(FDb, q.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      std::string msg = sqlite3_errmsg(FDb);
      sqlite3_finalize(st);
      if (msg.rfind("no such table", 0) == 0) throw EDbError(Fmt("Table \"%s\" not found", name));
      throw EDbError(msg);
    }
  }
  return std::make_unique<TSqliteRecordset>(FDb, st, true);
}

}  // namespace common::db::detail
