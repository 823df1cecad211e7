// Pieces shared by the backends of the access layer. Not part of the published interface.
#pragma once

#include <sqlite3.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ClassUtils.h"
#include "db/DbAccess.h"

namespace common::db::detail {

// One "Key=Value" entry of a connection text; keys keep their spelling, lookups ignore case.
struct TConnEntry {
  std::string Key;
  std::string Value;
};
// Splits "k1=v1;k2=\"v;2\";..." (values may be quoted with " or '; a doubled quote inside
// stands for one). Entries without "=" are ignored.
std::vector<TConnEntry> ParseConnectionText(const std::string& text);
// Value of the first entry named `key` (ignoring case), or empty.
std::string ConnValue(const std::vector<TConnEntry>& entries, std::string_view key);
bool HasConnKey(const std::vector<TConnEntry>& entries, std::string_view key);

using common::SameText;
// Replaces every occurrence of `secret` (when not empty) by "***".
std::string HideSecret(std::string text, const std::string& secret);

// Case-insensitive comparison of UTF-8 texts (ASCII and the Latin letters of U+00C0..U+017F
// folded), as Jet compares text columns.
int CompareTextIgnoringCase(std::string_view a, std::string_view b);
// Registers the collation "JETTEXT" on a SQLite connection.
void RegisterJetCollation(sqlite3* db);

// A SQLite connection; also the store into which Access tables are read.
class TSqliteConnection : public TDbConnection {
 public:
  // Opens a file read-only (path) or a fresh in-memory database (":memory:").
  explicit TSqliteConnection(const std::string& path, bool inMemory);
  ~TSqliteConnection() override;
  std::unique_ptr<TDbRecordset> Query(const std::string& sql) override;
  std::unique_ptr<TDbRecordset> OpenTable(const std::string& name) override;
  void Close() override;
  bool Connected() const override { return FDb != nullptr; }
  std::string BackendName() const override { return "SQLite"; }
  sqlite3* Handle() const { return FDb; }
  // Runs a statement without rows; throws EDbError with SQLite's message.
  void Exec(const std::string& sql);

 private:
  sqlite3* FDb = nullptr;
};

// Double-quoted SQL identifier.
std::string QuoteIdent(std::string_view name);

std::unique_ptr<TDbConnection> OpenAccessFile(const std::string& path);
std::unique_ptr<TDbConnection> OpenOdbc(const std::vector<TConnEntry>& entries);

}  // namespace common::db::detail
