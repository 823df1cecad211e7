// The ODBC backend: SQL Server catalogs through FreeTDS, or any source whose driver the registry
// names. The connection text's User ID, Password, Initial Catalog and Data Source become UID,
// PWD, DATABASE and SERVER.
#include <sql.h>
#include <sqlext.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "DateUtils.h"
#include "Format.h"
#include "db/DbInternal.h"

namespace common::db::detail {

namespace {

// "[state] message" of every diagnostic record of a handle.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string out;
  if (!handle) return out;
  for (SQLSMALLINT i = 1; i <= 10; ++i) {
    SQLCHAR state[8] = {0};
    SQLCHAR msg[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLRETURN rc = SQLGetDiagRec(type, handle, i, state, &native, msg, sizeof msg, &len);
    if (!SQL_SUCCEEDED(rc)) break;
    // Drivers repeat records; each is told once.
    std::string rec = "[" + std::string(reinterpret_cast<char*>(state)) + "] " + reinterpret_cast<char*>(msg);
    if (out.find(rec) != std::string::npos) continue;
    if (!out.empty()) out += "; ";
    out += rec;
  }
  return out;
}

// Handles of one connection; the last recordset using them frees them.
struct TOdbcHandles {
  SQLHENV Env = SQL_NULL_HENV;
  SQLHDBC Dbc = SQL_NULL_HDBC;
  bool Connected = false;
  std::string Secret;  // kept only to remove it from the driver's messages
  ~TOdbcHandles() {
    if (Connected) SQLDisconnect(Dbc);
    if (Dbc) SQLFreeHandle(SQL_HANDLE_DBC, Dbc);
    if (Env) SQLFreeHandle(SQL_HANDLE_ENV, Env);
  }
  [[noreturn]] void Fail(const std::string& what, SQLSMALLINT type, SQLHANDLE h) const {
    std::string diag = Diagnostics(type, h);
    throw EDbError(HideSecret(diag.empty() ? what : what + ": " + diag, Secret));
  }
};

struct TCell {
  bool Null = true;
  std::int64_t Int = 0;
  double Real = 0;
  std::string Text;
};

TFieldKind KindOfSqlType(SQLSMALLINT t) {
  switch (t) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_GUID:
      return fkText;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      return fkInteger;
    case SQL_BIT:
      return fkBoolean;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return fkFloat;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return fkCurrency;  // money and decimal columns
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIMESTAMP:
      return fkDate;
    default:
      return fkOther;
  }
}

class TOdbcRecordset : public TDbRecordset {
 public:
  TOdbcRecordset(std::shared_ptr<TOdbcHandles> h, std::string sql, bool isTable)
      : FH(std::move(h)), FSql(std::move(sql)), FIsTable(isTable) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, FH->Dbc, &FStmt)))
      FH->Fail("Cannot create a statement", SQL_HANDLE_DBC, FH->Dbc);
    Execute();
    SQLSMALLINT n = 0;
    SQLNumResultCols(FStmt, &n);
    if (n <= 0) throw EDbError("The query returns no rows");
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(n); ++i) {
      SQLCHAR name[512] = {0};
      SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      if (!SQL_SUCCEEDED(SQLDescribeCol(FStmt, i, name, sizeof name, &nameLen, &type, &size, &digits, &nullable)))
        FH->Fail("Cannot describe the result", SQL_HANDLE_STMT, FStmt);
      FNames.emplace_back(reinterpret_cast<char*>(name));
      FTypes.push_back(type);
      FKinds.push_back(KindOfSqlType(type));
    }
    FRow.resize(FNames.size());
    Fetch();
  }
  ~TOdbcRecordset() override {
    if (FStmt) SQLFreeHandle(SQL_HANDLE_STMT, FStmt);
  }

  bool Eof() const override { return FEof; }
  void Next() override {
    if (!FEof) Fetch();
  }
  int FieldCount() const override { return static_cast<int>(FNames.size()); }
  std::string FieldName(int index) const override { return FNames.at(Check(index)); }
  int FieldIndex(std::string_view name) const override {
    for (std::size_t i = 0; i < FNames.size(); ++i)
      if (SameText(FNames[i], name)) return static_cast<int>(i);
    return -1;
  }
  TFieldKind FieldKind(int index) const override { return FKinds.at(Check(index)); }
  int FieldTypeNumber(int index) const override { return FTypes.at(Check(index)); }
  bool IsNull(int index) const override { return Cell(index).Null; }
  std::string GetText(int index) const override {
    const TCell& c = Cell(index);
    if (c.Null) return {};
    switch (FKinds[static_cast<std::size_t>(index)]) {
      case fkInteger:
      case fkBoolean:
        return std::to_string(c.Int);
      case fkFloat:
      case fkCurrency: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.15g", c.Real);
        return buf;
      }
      default:
        return c.Text;
    }
  }
  std::int64_t GetInteger(int index) const override {
    const TCell& c = Cell(index);
    switch (FKinds[static_cast<std::size_t>(index)]) {
      case fkInteger:
      case fkBoolean:
        return c.Int;
      case fkFloat:
      case fkCurrency:
      case fkDate:
        return static_cast<std::int64_t>(std::llround(c.Real));
      default: {
        char* end = nullptr;
        long long v = std::strtoll(c.Text.c_str(), &end, 10);
        if (c.Null || (!c.Text.empty() && *end == '\0')) return c.Null ? 0 : v;
        throw EDbError(
            Fmt("Field \"%s\": \"%s\" is not a valid integer value", FNames[static_cast<std::size_t>(index)], c.Text));
      }
    }
  }
  double GetFloat(int index) const override {
    const TCell& c = Cell(index);
    switch (FKinds[static_cast<std::size_t>(index)]) {
      case fkInteger:
      case fkBoolean:
        return static_cast<double>(c.Int);
      case fkFloat:
      case fkCurrency:
      case fkDate:
        return c.Real;
      default: {
        char* end = nullptr;
        double v = std::strtod(c.Text.c_str(), &end);
        if (c.Null || (!c.Text.empty() && *end == '\0')) return c.Null ? 0 : v;
        throw EDbError(Fmt("Field \"%s\": \"%s\" is not a valid floating point value",
                           FNames[static_cast<std::size_t>(index)], c.Text));
      }
    }
  }

  bool Locate(const std::vector<std::pair<std::string, std::string>>& fieldValues) override {
    if (!FIsTable) return TDbRecordset::Locate(fieldValues);
    std::vector<int> cols;
    cols.reserve(fieldValues.size());
    for (const auto& fv : fieldValues) cols.push_back(RequireField(fv.first));
    SQLCloseCursor(FStmt);
    Execute();
    for (Fetch(); !FEof; Fetch()) {
      bool all = true;
      for (std::size_t k = 0; k < cols.size() && all; ++k) all = GetText(cols[k]) == fieldValues[k].second;
      if (all) return true;
    }
    return false;
  }

 private:
  std::size_t Check(int index) const {
    if (index < 0 || index >= FieldCount()) throw EDbError(Fmt("Field index %d out of range", index));
    return static_cast<std::size_t>(index);
  }
  const TCell& Cell(int index) const {
    std::size_t i = Check(index);
    if (FEof) throw EDbError("No current record");
    return FRow[i];
  }
  void Execute() {
    SQLRETURN rc = SQLExecDirect(FStmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(FSql.c_str())), SQL_NTS);
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) FH->Fail("Query failed", SQL_HANDLE_STMT, FStmt);
  }
  void Fetch() {
    SQLRETURN rc = SQLFetch(FStmt);
    if (rc == SQL_NO_DATA) {
      FEof = true;
      return;
    }
    if (!SQL_SUCCEEDED(rc)) {
      FEof = true;
      FH->Fail("Reading a row failed", SQL_HANDLE_STMT, FStmt);
    }
    FEof = false;
    for (std::size_t i = 0; i < FRow.size(); ++i) ReadCell(static_cast<SQLUSMALLINT>(i + 1), FKinds[i], FRow[i]);
  }
  void ReadCell(SQLUSMALLINT col, TFieldKind kind, TCell& cell) {
    SQLLEN ind = 0;
    SQLRETURN rc;
    cell = TCell();
    switch (kind) {
      case fkInteger:
      case fkBoolean: {
        SQLBIGINT v = 0;
        rc = SQLGetData(FStmt, col, SQL_C_SBIGINT, &v, sizeof v, &ind);
        cell.Int = v;
        break;
      }
      case fkFloat:
      case fkCurrency: {
        double v = 0;
        rc = SQLGetData(FStmt, col, SQL_C_DOUBLE, &v, sizeof v, &ind);
        cell.Real = v;
        break;
      }
      case fkDate: {
        SQL_TIMESTAMP_STRUCT ts = {};
        rc = SQLGetData(FStmt, col, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &ind);
        if (SQL_SUCCEEDED(rc) && ind != SQL_NULL_DATA) {
          char buf[40];
          std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u", ts.year, ts.month, ts.day, ts.hour, ts.minute,
                        ts.second);
          double d = 0;
          if (!TryParseIsoDateTime(buf, d))
            throw EDbError(Fmt("Field \"%s\": \"%s\" is not a valid date", FNames[col - 1u], buf));
          cell.Real = d;
          cell.Text = ts.hour || ts.minute || ts.second ? std::string(buf) : std::string(buf, 10);
        }
        break;
      }
      default: {
        // Long values arrive in pieces.
        char buf[4096];
        for (;;) {
          rc = SQLGetData(FStmt, col, SQL_C_CHAR, buf, sizeof buf, &ind);
          if (rc == SQL_NO_DATA) {
            rc = SQL_SUCCESS;
            break;
          }
          if (!SQL_SUCCEEDED(rc) || ind == SQL_NULL_DATA) break;
          std::size_t got = (ind == SQL_NO_TOTAL || ind >= static_cast<SQLLEN>(sizeof buf))
                                ? sizeof buf - 1
                                : static_cast<std::size_t>(ind);
          cell.Text.append(buf, got);
          if (rc == SQL_SUCCESS) break;
        }
      }
    }
    if (!SQL_SUCCEEDED(rc)) FH->Fail(Fmt("Reading column \"%s\" failed", FNames[col - 1u]), SQL_HANDLE_STMT, FStmt);
    cell.Null = ind == SQL_NULL_DATA;
  }

  std::shared_ptr<TOdbcHandles> FH;
  SQLHSTMT FStmt = SQL_NULL_HSTMT;
  std::string FSql;
  bool FIsTable;
  bool FEof = true;
  std::vector<std::string> FNames;
  std::vector<SQLSMALLINT> FTypes;
  std::vector<TFieldKind> FKinds;
  std::vector<TCell> FRow;
};

// A value of an ODBC connection string: in braces, "}" doubled, when it holds a character the
// syntax uses (some drivers do not take braces around plain values).
std::string OdbcValue(const std::string& v) {
  bool plain = v.find_first_of(";{}=") == std::string::npos && (v.empty() || (v.front() != ' ' && v.back() != ' '));
  if (plain) return v;
  std::string out = "{";
  for (char c : v) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

class TOdbcConnection : public TDbConnection {
 public:
  explicit TOdbcConnection(const std::vector<TConnEntry>& entries) : FH(std::make_shared<TOdbcHandles>()) {
    std::string driver = HasConnKey(entries, "Driver") ? ConnValue(entries, "Driver") : DbOdbcDriver();
    std::string password = ConnValue(entries, "Password");
    FH->Secret = password;
    std::string text = "DRIVER=" + OdbcValue(driver) + ";SERVER=" + OdbcValue(ConnValue(entries, "Data Source")) +
                       ";DATABASE=" + OdbcValue(ConnValue(entries, "Initial Catalog")) +
                       ";UID=" + OdbcValue(ConnValue(entries, "User ID")) + ";PWD=" + OdbcValue(password) + ";";
    // FreeTDS hands texts over in the server's code page unless told otherwise.
    if (SameText(driver, "FreeTDS")) text += "ClientCharset=UTF-8;";
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &FH->Env)))
      throw EDbError("The ODBC driver manager cannot be initialised");
    SQLSetEnvAttr(FH->Env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, FH->Env, &FH->Dbc)))
      FH->Fail("Cannot create an ODBC connection", SQL_HANDLE_ENV, FH->Env);
    SQLSetConnectAttr(FH->Dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
    SQLCHAR outText[1024];
    SQLSMALLINT outLen = 0;
    SQLRETURN rc = SQLDriverConnect(FH->Dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, outText,
                                    sizeof outText, &outLen, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) FH->Fail(Fmt("Connecting with driver \"%s\" failed", driver), SQL_HANDLE_DBC, FH->Dbc);
    FH->Connected = true;
    SQLCHAR info[256] = {0};
    SQLSMALLINT len = 0;
    if (SQL_SUCCEEDED(SQLGetInfo(FH->Dbc, SQL_DBMS_NAME, info, sizeof info, &len)))
      FSqlServer = std::strstr(reinterpret_cast<char*>(info), "SQL Server") != nullptr;
    info[0] = 0;
    if (SQL_SUCCEEDED(SQLGetInfo(FH->Dbc, SQL_IDENTIFIER_QUOTE_CHAR, info, sizeof info, &len)) && info[0] != ' ')
      FQuote = reinterpret_cast<char*>(info);
  }

  std::unique_ptr<TDbRecordset> Query(const std::string& sql) override {
    RequireOpen();
    return std::make_unique<TOdbcRecordset>(FH, FSqlServer ? sql : AdaptTopQuery(sql), false);
  }
  std::unique_ptr<TDbRecordset> OpenTable(const std::string& name) override {
    RequireOpen();
    std::string q = FQuote.empty() ? "\"" : FQuote;
    std::string quoted = q;
    for (char c : name) {
      quoted += c;
      if (std::string(1, c) == q) quoted += c;
    }
    quoted += FQuote == "[" ? "]" : q;
    return std::make_unique<TOdbcRecordset>(FH, "select * from " + quoted, true);
  }
  void Close() override { FH.reset(); }
  bool Connected() const override { return FH != nullptr; }
  std::string BackendName() const override { return "ODBC"; }
  bool IsSqlServer() const override { return FSqlServer; }

 private:
  void RequireOpen() const {
    if (!FH) throw EDbError("Connection is closed");
  }
  std::shared_ptr<TOdbcHandles> FH;
  bool FSqlServer = false;
  std::string FQuote = "\"";
};

}  // namespace

std::unique_ptr<TDbConnection> OpenOdbc(const std::vector<TConnEntry>& entries) {
  return std::make_unique<TOdbcConnection>(entries);
}

}  // namespace common::db::detail
