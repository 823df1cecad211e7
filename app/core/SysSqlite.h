// The results database of a file validation: a thin wrapper over one SQLite connection, the
// schema compiled into the program, the temporary file name of a run and the stored text form.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "Format.h"

struct sqlite3;
struct sqlite3_stmt;

namespace verimek {

/// A failure of the database: SQLite's own message, or one of the fixed texts below.
class ESqliteError : public std::runtime_error {
 public:
  explicit ESqliteError(const std::string& AMessage, int AResultCode = 0)
      : std::runtime_error(AMessage), FResultCode(AResultCode) {}
  /// SQLite's extended result code; 0 for the fixed texts.
  int ResultCode() const { return FResultCode; }
  /// True when the file or its medium failed (full disk, I/O error, lost lock...), as opposed
  /// to one statement or value being refused: storing anything more is then pointless.
  bool IsStorageFailure() const;

 private:
  int FResultCode;
};

/// All rows of one query, read when it is created. Values are UTF-8; NULL reads as "" or 0.
class TTable {
 public:
  bool Eof() const { return FRow >= FRows.size(); }
  /// Raises "Table is at End of File" when already at the end.
  void Next();
  void First() { FRow = 0; }
  std::size_t RowCount() const { return FRows.size(); }
  /// Column of the current row by name, ignoring case; raises at the end or for an unknown name.
  std::int64_t AsInteger(std::string_view column) const;
  std::string AsString(std::string_view column) const;
  const std::vector<std::string>& Columns() const { return FColumns; }

 private:
  friend class TDatabase;
  const std::optional<std::string>& Cell(std::string_view column) const;

  std::vector<std::string> FColumns;
  std::vector<std::vector<std::optional<std::string>>> FRows;
  std::size_t FRow = 0;
};

/// A statement parameter: integer, text (UTF-8, stored in the code page) or NULL.
using TSqlValue = std::variant<std::monostate, std::int64_t, std::string>;

/// One open connection. Statement text and values are converted from UTF-8 to the single-byte
/// code page before SQLite sees them, and results back. Used by one thread at a time.
class TDatabase {
 public:
  /// Raises "File \"%s\" not found" when ACanCreate is false and the file is missing, and
  /// "Failed to open database \"%s\" : %s" when SQLite cannot open it.
  TDatabase(const std::string& AFileName, bool ACanCreate);
  virtual ~TDatabase();
  TDatabase(const TDatabase&) = delete;
  TDatabase& operator=(const TDatabase&) = delete;

  /// Runs the statement(s); with CheckRowsChanged raises "ExecuteSql(%s) failed (RowsChanged = 0)"
  /// when no row changed.
  virtual void ExecSql(const std::string& Sql, bool CheckRowsChanged);
  /// Fills the %d/%s placeholders once, then as above.
  void ExecSql(const std::string& Sql, const std::vector<common::FormatArg>& Args, bool CheckRowsChanged);
  /// One statement with "?" parameters, prepared once per connection and reused. Its trace line
  /// and the changed-row failure show the statement with the values written in as literals.
  virtual void ExecParams(const std::string& Sql, const std::vector<TSqlValue>& Params, bool CheckRowsChanged);

  std::unique_ptr<TTable> GetTable(const std::string& Sql);
  std::unique_ptr<TTable> GetTable(const std::string& Sql, const std::vector<common::FormatArg>& Args);
  /// First column of the first row as an integer; 0 without rows.
  std::int64_t GetTableValue(const std::string& Sql);

  /// Raises "Transaction already open" when one is open.
  virtual void BeginTransaction();
  virtual void Commit();
  virtual void Rollback();
  bool InTransaction() const { return FInTransaction; }
  /// A unit inside the open transaction that rolls back alone: SAVEPOINT, RELEASE, ROLLBACK TO.
  virtual void Savepoint(const std::string& AName);
  virtual void ReleaseSavepoint(const std::string& AName);
  /// Rolls back to the savepoint and releases it; false when SQLite had already ended the whole
  /// transaction (as it may on a full disk or an I/O error), which then lost every unit in it.
  virtual bool RollbackToSavepoint(const std::string& AName);
  virtual std::int64_t LastInsertRowId() const;

  const std::string& Filename() const { return FFilename; }

 protected:
  // Raises ESqliteError with SQLite's message of the connection.
  [[noreturn]] void Fail() const;

 private:
  void RowsChangedCheck(const std::string& Sql, std::int64_t before) const;

  std::string FFilename;
  sqlite3* FDb = nullptr;
  bool FInTransaction = false;
  std::unordered_map<std::string, sqlite3_stmt*> FPrepared;
};

/// The schema statements of a results database, separated by ";".
extern const char* const CREATE_DB;
/// Runs every statement of CREATE_DB on db; the number of statements run.
int CreateResultsSchema(TDatabase& db);

/// A unique name in the temporary folder: a file "sql*.tmp" is created, deleted, and its name
/// returned with ".tmp" replaced by ".db".
std::string NewTempDbFileName();

/// Text (UTF-8) to the stored form: code-page bytes, one zlib stream at the default level,
/// Base64 with CR LF after every 76 characters.
std::string CompressAndEncode(std::string_view text);
/// Back to UTF-8; line breaks are skipped. Raises ESqliteError on a damaged body.
std::string DecodeAndDecompress(std::string_view body);

}  // namespace verimek
