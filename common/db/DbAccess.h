// The database access layer: connections opened from a connection text, SELECT queries and
// tables opened by name, fields read by name ignoring case. Backends: SQLite files, Access
// files (read with libmdb into an in-memory SQLite database) and ODBC (SQL Server through
// FreeTDS, or any ODBC driver).
//
// Connection texts:
//   "Provider=Microsoft.Jet.OLEDB.4.0;...;Data Source=\"PATH\";..."  a file: SQLite when it
//        starts with the SQLite header, otherwise an Access file.
//   "Provider=SQLOLEDB.1;Password=P;User ID=U;Initial Catalog=C;Data Source=S"  ODBC with the
//        driver named by DbOdbcDriver() (default "FreeTDS").
// Anything else fails with EDbError naming the provider. Passwords never appear in errors.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace common::db {

class EDbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Kind of a column, deciding the null rules.
enum TFieldKind : std::uint8_t { fkText, fkInteger, fkFloat, fkCurrency, fkDate, fkBoolean, fkOther };

// Rows of a query or a table, read forward once. Texts are UTF-8.
class TDbRecordset {
 public:
  virtual ~TDbRecordset() = default;
  virtual bool Eof() const = 0;
  virtual void Next() = 0;
  virtual int FieldCount() const = 0;
  virtual std::string FieldName(int index) const = 0;
  // Index of the column named `name` (ignoring case), or -1.
  virtual int FieldIndex(std::string_view name) const = 0;
  virtual TFieldKind FieldKind(int index) const = 0;
  // The backend's own type number of the column (shown by "Unknown Datatype: %d").
  virtual int FieldTypeNumber(int index) const = 0;
  virtual bool IsNull(int index) const = 0;
  // Raw readers of the current row; nulls are handled by the As* functions below.
  virtual std::string GetText(int index) const = 0;
  virtual std::int64_t GetInteger(int index) const = 0;
  virtual double GetFloat(int index) const = 0;  // dates: automation day count

  // Value rules. A null text column reads "", a null integer/float/currency/date column 0, a
  // null boolean false; a null in any other kind of column throws EDbError
  // "Unknown Datatype: %d". A column that does not exist throws EDbError
  // "Field \"%s\" not found". Dates are automation day counts (0 = no date).
  std::string AsString(std::string_view field) const;
  std::int32_t AsInteger(std::string_view field) const;
  double AsFloat(std::string_view field) const;
  double AsDate(std::string_view field) const;
  bool AsBoolean(std::string_view field) const;

  // Tables only: moves to the first row (from the start) whose named columns equal the given
  // texts exactly; false (and Eof) when there is none.
  virtual bool Locate(const std::vector<std::pair<std::string, std::string>>& fieldValues);

 protected:
  int RequireField(std::string_view field) const;
};

class TDbConnection {
 public:
  virtual ~TDbConnection() = default;
  // Rows in the order the query asks for.
  virtual std::unique_ptr<TDbRecordset> Query(const std::string& sql) = 0;
  // Rows in the table's own (stored) order.
  virtual std::unique_ptr<TDbRecordset> OpenTable(const std::string& name) = 0;
  virtual void Close() = 0;
  virtual bool Connected() const = 0;
  // "SQLite", "Access", "ODBC"
  virtual std::string BackendName() const = 0;
  // True for a SQL Server catalog (queries may use "Select top N").
  virtual bool IsSqlServer() const { return false; }
};

// Opens a connection from a connection text; throws EDbError with the reason.
std::unique_ptr<TDbConnection> OpenConnection(const std::string& connectionText);

// The connection text with the password value replaced by "***", for traces and errors.
std::string MaskPassword(const std::string& connectionText);

// The ODBC driver that serves "SQLOLEDB" texts: the registry value "Referential.OdbcDriver"
// under HKEY_LOCAL_MACHINE\SOFTWARE\tarnholt\services\Database, "FreeTDS" when absent or empty.
// A "Driver=" entry in the connection text itself takes precedence.
std::string DbOdbcDriver();

// "Select top N rest" (ignoring case and spacing) rewritten as "Select rest limit N" for
// databases that do not know "top"; any other text is returned unchanged.
std::string AdaptTopQuery(const std::string& sql);

}  // namespace common::db
