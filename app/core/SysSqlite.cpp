// SQLite connection wrapper, schema text, temporary naming and the compressed body format.
#include "SysSqlite.h"

#include <sqlite3.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Platform.h"
#include "SysTrace.h"
#include "TextCodec.h"

namespace verimek {

static bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

static bool IsAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

static void TraceDebug(const TDatabase* self, std::string_view fmt, const std::string& arg) {
  if (common::TTrace* t = common::Trace()) t->WriteFmt(self, common::ttDebug, fmt, arg);
}

// ---- TTable

const std::optional<std::string>& TTable::Cell(std::string_view column) const {
  if (Eof()) throw ESqliteError("Table is at End of File");
  for (std::size_t i = 0; i < FColumns.size(); ++i)
    if (SameNoCase(FColumns[i], column)) return FRows[FRow][i];
  throw ESqliteError(common::Fmt("Field \"%s\" not found", column));
}

void TTable::Next() {
  if (Eof()) throw ESqliteError("Table is at End of File");
  ++FRow;
}

std::int64_t TTable::AsInteger(std::string_view column) const {
  const std::optional<std::string>& v = Cell(column);
  return v ? std::strtoll(v->c_str(), nullptr, 10) : 0;
}

std::string TTable::AsString(std::string_view column) const {
  const std::optional<std::string>& v = Cell(column);
  return v ? *v : std::string();
}

// ---- TDatabase

TDatabase::TDatabase(const std::string& AFileName, bool ACanCreate) : FFilename(AFileName) {
  if (!ACanCreate && !common::FileExists(AFileName))
    throw ESqliteError(common::Fmt("File \"%s\" not found", AFileName));
  int flags = SQLITE_OPEN_READWRITE | (ACanCreate ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(AFileName.c_str(), &FDb, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = FDb ? sqlite3_errmsg(FDb) : sqlite3_errstr(rc);
    sqlite3_close(FDb);
    FDb = nullptr;
    throw ESqliteError(common::Fmt("Failed to open database \"%s\" : %s", AFileName, msg));
  }
  sqlite3_extended_result_codes(FDb, 1);
}

TDatabase::~TDatabase() {
  for (auto& [sql, stmt] : FPrepared) sqlite3_finalize(stmt);
  if (FInTransaction) sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(FDb);
}

void TDatabase::Fail() const {
  throw ESqliteError(common::AnsiToUtf8(sqlite3_errmsg(FDb)), sqlite3_extended_errcode(FDb));
}

bool ESqliteError::IsStorageFailure() const {
  switch (FResultCode & 0xFF) {
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_NOMEM:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_PERM:
    case SQLITE_PROTOCOL:
      return true;
    default:
      return false;
  }
}

void TDatabase::RowsChangedCheck(const std::string& Sql, std::int64_t before) const {
  if (sqlite3_total_changes64(FDb) == before)
    throw ESqliteError(common::Fmt("ExecuteSql(%s) failed (RowsChanged = 0)", Sql));
}

// The statement with its parameters written in as SQL literals: the text the same values
// formatted into the statement would have given, for traces and failure texts.
static std::string ExpandedSql(sqlite3_stmt* stmt, const std::string& Sql) {
  char* expanded = sqlite3_expanded_sql(stmt);
  if (!expanded) return Sql;
  std::string text = common::AnsiToUtf8(expanded);
  sqlite3_free(expanded);
  return text;
}

void TDatabase::ExecSql(const std::string& Sql, bool CheckRowsChanged) {
  TraceDebug(this, "ExecSql(%s)", Sql);
  const std::string ansi = common::Utf8ToAnsi(Sql);
  const std::int64_t before = sqlite3_total_changes64(FDb);
  const char* tail = ansi.c_str();
  const char* end = ansi.c_str() + ansi.size();
  while (tail < end) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(FDb, tail, static_cast<int>(end - tail), &stmt, &tail) != SQLITE_OK) Fail();
    if (!stmt) break;  // only blanks or comments left
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) Fail();
  }
  if (CheckRowsChanged) RowsChangedCheck(Sql, before);
}

void TDatabase::ExecSql(const std::string& Sql, const std::vector<common::FormatArg>& Args, bool CheckRowsChanged) {
  ExecSql(common::FormatText(Sql, Args), CheckRowsChanged);
}

void TDatabase::ExecParams(const std::string& Sql, const std::vector<TSqlValue>& Params, bool CheckRowsChanged) {
  sqlite3_stmt*& stmt = FPrepared[Sql];
  if (!stmt) {
    const std::string ansi = common::Utf8ToAnsi(Sql);
    if (sqlite3_prepare_v3(FDb, ansi.c_str(), static_cast<int>(ansi.size()), SQLITE_PREPARE_PERSISTENT, &stmt,
                           nullptr) != SQLITE_OK) {
      FPrepared.erase(Sql);
      Fail();
    }
  }
  // Reset first so an earlier failure of this statement cannot leak into this run.
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  for (std::size_t i = 0; i < Params.size(); ++i) {
    int idx = static_cast<int>(i) + 1;
    int rc = SQLITE_OK;
    if (const auto* n = std::get_if<std::int64_t>(&Params[i])) {
      rc = sqlite3_bind_int64(stmt, idx, *n);
    } else if (const auto* s = std::get_if<std::string>(&Params[i])) {
      // Plain ASCII (every body, most values) is the same in the code page: bound in place,
      // the parameters outlive the step.
      if (IsAscii(*s)) {
        rc = sqlite3_bind_text64(stmt, idx, s->data(), s->size(), SQLITE_STATIC, SQLITE_UTF8);
      } else {
        std::string ansi = common::Utf8ToAnsi(*s);
        rc = sqlite3_bind_text64(stmt, idx, ansi.data(), ansi.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      }
    } else {
      rc = sqlite3_bind_null(stmt, idx);
    }
    if (rc != SQLITE_OK) Fail();
  }
  common::TTrace* trace = common::Trace();
  if (trace && trace->Wants(common::ttDebug)) TraceDebug(this, "ExecSql(%s)", ExpandedSql(stmt, Sql));
  const std::int64_t before = sqlite3_total_changes64(FDb);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) {
    std::string msg = common::AnsiToUtf8(sqlite3_errmsg(FDb));
    const int code = sqlite3_extended_errcode(FDb);
    sqlite3_reset(stmt);
    throw ESqliteError(msg, code);
  }
  if (CheckRowsChanged && sqlite3_total_changes64(FDb) == before) {
    std::string text = ExpandedSql(stmt, Sql);
    sqlite3_reset(stmt);
    throw ESqliteError(common::Fmt("ExecuteSql(%s) failed (RowsChanged = 0)", text));
  }
  sqlite3_reset(stmt);
}

std::unique_ptr<TTable> TDatabase::GetTable(const std::string& Sql) {
  const std::string ansi = common::Utf8ToAnsi(Sql);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(FDb, ansi.c_str(), static_cast<int>(ansi.size()), &stmt, nullptr) != SQLITE_OK) Fail();
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(stmt, sqlite3_finalize);
  auto table = std::make_unique<TTable>();
  if (!stmt) return table;
  const int n = sqlite3_column_count(stmt);
  for (int i = 0; i < n; ++i) table->FColumns.push_back(common::AnsiToUtf8(sqlite3_column_name(stmt, i)));
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    std::vector<std::optional<std::string>> row(n);
    for (int i = 0; i < n; ++i) {
      if (sqlite3_column_type(stmt, i) == SQLITE_NULL) continue;
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      int len = sqlite3_column_bytes(stmt, i);
      row[i] = common::AnsiToUtf8(std::string_view(text ? text : "", static_cast<std::size_t>(len)));
    }
    table->FRows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) Fail();
  return table;
}

std::unique_ptr<TTable> TDatabase::GetTable(const std::string& Sql, const std::vector<common::FormatArg>& Args) {
  TraceDebug(this, "GetTable(%s, ...)", Sql);
  return GetTable(common::FormatText(Sql, Args));
}

std::int64_t TDatabase::GetTableValue(const std::string& Sql) {
  std::unique_ptr<TTable> t = GetTable(Sql);
  if (t->Eof() || t->Columns().empty()) return 0;
  return t->AsInteger(t->Columns()[0]);
}

// Transactions and savepoints run once per group or message: prepared once, like the inserts.
void TDatabase::BeginTransaction() {
  if (FInTransaction) throw ESqliteError("Transaction already open");
  ExecParams("BEGIN TRANSACTION", {}, false);
  FInTransaction = true;
}

void TDatabase::Commit() {
  ExecParams("COMMIT", {}, false);
  FInTransaction = false;
}

void TDatabase::Rollback() {
  // A failed statement may already have ended the transaction; the flag follows SQLite.
  FInTransaction = false;
  if (sqlite3_get_autocommit(FDb)) return;
  ExecParams("ROLLBACK", {}, false);
}

void TDatabase::Savepoint(const std::string& AName) { ExecParams("SAVEPOINT " + AName, {}, false); }

void TDatabase::ReleaseSavepoint(const std::string& AName) { ExecParams("RELEASE " + AName, {}, false); }

bool TDatabase::RollbackToSavepoint(const std::string& AName) {
  if (sqlite3_get_autocommit(FDb)) {
    FInTransaction = false;
    return false;
  }
  ExecParams("ROLLBACK TO " + AName, {}, false);
  ExecParams("RELEASE " + AName, {}, false);
  return true;
}

std::int64_t TDatabase::LastInsertRowId() const { return sqlite3_last_insert_rowid(FDb); }

// ---- Temporary naming

int CreateResultsSchema(TDatabase& db) {
  int statements = 0;
  std::string_view schema(CREATE_DB);
  while (!schema.empty()) {
    const std::size_t p = schema.find(';');
    const std::string_view piece = schema.substr(0, p);
    schema.remove_prefix(p == std::string_view::npos ? schema.size() : p + 1);
    const std::size_t b = piece.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) continue;
    const std::size_t e = piece.find_last_not_of(" \t\r\n");
    db.ExecSql(std::string(piece.substr(b, e - b + 1)), false);
    ++statements;
  }
  return statements;
}

std::string NewTempDbFileName() {
  std::string path = common::TempFolder() + "sqlXXXXXX.tmp";
  int fd = mkstemps(path.data(), 4);
  if (fd < 0) throw ESqliteError(common::Fmt("Temporary file failed (%s)", std::strerror(errno)));
  close(fd);
  unlink(path.c_str());
  path.replace(path.size() - 4, 4, ".db");
  return path;
}

// ---- Body format

static const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

namespace {

// One deflate state per thread, reset for every message: setting one up costs more than
// compressing a typical message.
struct Deflater {
  Deflater() { FOk = deflateInit(&FStream, Z_DEFAULT_COMPRESSION) == Z_OK; }
  ~Deflater() {
    if (FOk) deflateEnd(&FStream);
  }
  z_stream FStream{};
  bool FOk = false;
};

}  // namespace

std::string CompressAndEncode(std::string_view text) {
  // ASCII, most message texts, is the same in the code page: no conversion.
  std::string converted;
  std::string_view bytes = text;
  if (!IsAscii(text)) bytes = converted = common::Utf8ToAnsi(text);
  thread_local Deflater deflater;
  if (!deflater.FOk) throw ESqliteError("CompressAndEncode failed (zlib)");
  z_stream& zs = deflater.FStream;
  deflateReset(&zs);
  std::string z(deflateBound(&zs, static_cast<uLong>(bytes.size())), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  zs.avail_in = static_cast<uInt>(bytes.size());
  zs.next_out = reinterpret_cast<Bytef*>(z.data());
  zs.avail_out = static_cast<uInt>(z.size());
  int rc = deflate(&zs, Z_FINISH);
  if (rc != Z_STREAM_END) throw ESqliteError(common::Fmt("CompressAndEncode failed (zlib %d)", rc));
  z.resize(z.size() - zs.avail_out);
  // Four characters per three bytes, written in place; 76 is a whole number of groups, so the
  // line break falls after a group, also after the last one when it ends a line.
  const std::size_t chars = (z.size() + 2) / 3 * 4;
  std::string out(chars + chars / 76 * 2, '\0');
  char* o = out.data();
  std::size_t col = 0;
  auto group = [&](unsigned v, int taken) {
    o[0] = kBase64[v >> 18];
    o[1] = kBase64[(v >> 12) & 63];
    o[2] = taken > 1 ? kBase64[(v >> 6) & 63] : '=';
    o[3] = taken > 2 ? kBase64[v & 63] : '=';
    o += 4;
    if ((col += 4) == 76) {
      o[0] = '\r';
      o[1] = '\n';
      o += 2;
      col = 0;
    }
  };
  std::size_t i = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(z.data());
  for (; i + 3 <= z.size(); i += 3) group((p[i] << 16) | (p[i + 1] << 8) | p[i + 2], 3);
  if (i + 2 == z.size()) group((p[i] << 16) | (p[i + 1] << 8), 2);
  if (i + 1 == z.size()) group(p[i] << 16, 1);
  return out;
}

std::string DecodeAndDecompress(std::string_view body) {
  std::string z;
  z.reserve(body.size() / 4 * 3);
  unsigned acc = 0;
  int bits = 0;
  bool padded = false;
  for (char c : body) {
    if (c == '\r' || c == '\n') continue;
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else if (c == '=') {
      padded = true;
      continue;
    } else
      throw ESqliteError("DecodeAndDecompress failed (invalid Base64)");
    if (padded) throw ESqliteError("DecodeAndDecompress failed (invalid Base64)");
    acc = (acc << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      z.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) throw ESqliteError("DecodeAndDecompress failed (zlib)");
  std::string bytes;
  zs.next_in = reinterpret_cast<Bytef*>(z.data());
  zs.avail_in = static_cast<uInt>(z.size());
  char buf[65536];
  int rc;
  do {
    zs.next_out = reinterpret_cast<Bytef*>(buf);
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    bytes.append(buf, sizeof buf - zs.avail_out);
  } while (rc != Z_STREAM_END && (zs.avail_in > 0 || zs.avail_out == 0));
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) throw ESqliteError("DecodeAndDecompress failed (damaged zlib stream)");
  return common::AnsiToUtf8(bytes);
}

}  // namespace verimek
