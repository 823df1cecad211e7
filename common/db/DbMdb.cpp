// The Access backend. libmdb reads the file; every table a query names is copied once into an
// in-memory SQLite database (text columns compared ignoring case, as Jet compares them) and the
// query runs there unchanged.
//
// libmdb trusts the file: a damaged one can make it read out of bounds, abort or loop. So it
// runs in a forked child that streams the tables back through a pipe; a crash, an abort or a
// hang of the child becomes an error of the connection instead of the end of the process.
#include <glib.h>  // before mdbtools.h, which includes it inside extern "C"
#include <mdbtools.h>

#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <cctype>
#include <set>

#include "Format.h"
#include "db/DbInternal.h"

namespace common::db::detail {

namespace {

// Values longer than this would be cut by libmdb; such a value is reported, not shortened.
constexpr std::size_t kBindSize = 1u << 20;
// The reader child is given up when it sends nothing for this long.
constexpr int kIdleTimeoutMs = 60000;
// Upper bound of the data a child may send (a damaged file must not exhaust memory).
constexpr std::size_t kMaxStream = std::size_t(1) << 30;

enum : unsigned char { kTagCatalog = 'C', kTagTable = 'T', kTagRow = 'R', kTagEnd = 'E', kTagError = 'X', kTagDone = 'Z' };
enum : unsigned char { kNull = 0, kInt = 1, kReal = 2, kText = 3 };

// ---- child side -------------------------------------------------------------------------------

class TChildWriter {
 public:
  explicit TChildWriter(int fd) : FFd(fd) {}
  void Byte(unsigned char b) { FBuf.push_back(static_cast<char>(b)); }
  void U32(std::uint32_t v) { FBuf.append(reinterpret_cast<const char*>(&v), 4); }
  void I64(std::int64_t v) { FBuf.append(reinterpret_cast<const char*>(&v), 8); }
  void F64(double v) { FBuf.append(reinterpret_cast<const char*>(&v), 8); }
  void Str(const char* s, std::size_t n) {
    U32(static_cast<std::uint32_t>(n));
    FBuf.append(s, n);
  }
  void Str(const std::string& s) { Str(s.data(), s.size()); }
  bool Flush() {
    std::size_t off = 0;
    while (off < FBuf.size()) {
      ssize_t w = ::write(FFd, FBuf.data() + off, FBuf.size() - off);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      off += static_cast<std::size_t>(w);
    }
    FBuf.clear();
    return true;
  }
  void MaybeFlush() {
    if (FBuf.size() >= 65536 && !Flush()) _exit(3);
  }

 private:
  int FFd;
  std::string FBuf;
};

[[noreturn]] void ChildFail(TChildWriter& w, const std::string& msg) {
  w.Byte(kTagError);
  w.Str(msg);
  w.Flush();
  _exit(1);
}

bool IsUserTable(MdbCatalogEntry* e) { return e && e->object_type == MDB_TABLE && mdb_is_user_table(e); }

// Streams `names` (exact catalog names); with no names, the catalog.
[[noreturn]] void ChildMain(int fd, const std::string& path, const std::vector<std::string>& names) {
  TChildWriter w(fd);
  MdbHandle* mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
  if (!mdb) ChildFail(w, "libmdb cannot open the file");
  mdb_set_date_fmt(mdb, "%Y-%m-%d %H:%M:%S");
  mdb_set_bind_size(mdb, kBindSize);
  if (!mdb_read_catalog(mdb, MDB_TABLE)) ChildFail(w, "the catalog of the file cannot be read");
  if (names.empty()) {
    std::vector<std::string> user;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
      auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
      if (IsUserTable(e)) user.emplace_back(e->object_name);
    }
    w.Byte(kTagCatalog);
    w.U32(static_cast<std::uint32_t>(user.size()));
    for (const std::string& n : user) w.Str(n);
  }
  for (const std::string& name : names) {
    std::string n = name;
    MdbTableDef* table = mdb_read_table_by_name(mdb, n.data(), MDB_TABLE);
    if (!table) ChildFail(w, Fmt("Table \"%s\" cannot be read", name));
    if (!mdb_read_columns(table)) ChildFail(w, Fmt("The columns of table \"%s\" cannot be read", name));
    unsigned ncols = table->num_cols;
    if (!table->columns || table->columns->len != ncols || ncols == 0 || ncols > MDB_MAX_COLS)
      ChildFail(w, Fmt("Table \"%s\" has an invalid column list", name));
    std::vector<std::vector<char>> bufs(ncols, std::vector<char>(kBindSize + 1));
    std::vector<int> lens(ncols, 0);
    w.Byte(kTagTable);
    w.Str(name);
    w.U32(ncols);
    std::vector<MdbColumn*> cols;
    for (unsigned c = 0; c < ncols; ++c) {
      auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c));
      cols.push_back(col);
      w.Str(col->name, strnlen(col->name, sizeof col->name));
      w.U32(static_cast<std::uint32_t>(col->col_type));
      mdb_bind_column(table, static_cast<int>(c + 1), bufs[c].data(), &lens[c]);
    }
    mdb_rewind_table(table);
    std::uint64_t rows = 0;
    while (mdb_fetch_row(table)) {
      if (++rows > table->num_rows) ChildFail(w, Fmt("Table \"%s\" holds more rows than it declares", name));
      w.Byte(kTagRow);
      for (unsigned c = 0; c < ncols; ++c) {
        MdbColumn* col = cols[c];
        const char* text = bufs[c].data();
        std::size_t len = lens[c] < 0 ? 0 : static_cast<std::size_t>(lens[c]);
        if (len > kBindSize) len = kBindSize;
        switch (col->col_type) {
          case MDB_BOOL:
            w.Byte(kInt);
            w.I64(text[0] == '1' ? 1 : 0);
            break;
          case MDB_BYTE:
          case MDB_INT:
          case MDB_LONGINT:
            if (len == 0) {
              w.Byte(kNull);
            } else {
              w.Byte(kInt);
              w.I64(std::strtoll(text, nullptr, 10));
            }
            break;
          case MDB_FLOAT:
            if (col->cur_value_len == 4) {
              w.Byte(kReal);
              w.F64(mdb_get_single(mdb->pg_buf, col->cur_value_start));
            } else {
              w.Byte(kNull);
            }
            break;
          case MDB_DOUBLE:
          case MDB_DATETIME:
            // The raw value: exact, and the automation day count for dates.
            if (col->cur_value_len == 8) {
              w.Byte(kReal);
              w.F64(mdb_get_double(mdb->pg_buf, col->cur_value_start));
            } else {
              w.Byte(kNull);
            }
            break;
          case MDB_MONEY:
          case MDB_NUMERIC:
            if (len == 0) {
              w.Byte(kNull);
            } else {
              w.Byte(kReal);
              w.F64(std::strtod(text, nullptr));
            }
            break;
          case MDB_TEXT:
          case MDB_MEMO:
            // libmdb returns an empty text and a null alike; both read as the empty text.
            if (len + 1 >= kBindSize)
              ChildFail(w, Fmt("A value of column \"%s\" in table \"%s\" is too long", col->name, name));
            w.Byte(kText);
            w.Str(text, len);
            break;
          default:
            if (len == 0) {
              w.Byte(kNull);
            } else {
              w.Byte(kText);
              w.Str(text, len);
            }
        }
      }
      w.MaybeFlush();
    }
    w.Byte(kTagEnd);
    mdb_free_tabledef(table);
  }
  w.Byte(kTagDone);
  if (!w.Flush()) _exit(3);
  mdb_close(mdb);
  _exit(0);
}

// ---- parent side ------------------------------------------------------------------------------

// Output of one child run: the stream, what it wrote to standard error, how it ended.
struct TChildRun {
  std::string Data;
  std::string Err;
  int Status = 0;
  bool TimedOut = false;
  bool TooLarge = false;
};

// The character set conversions libmdb opens are loaded once here, before any fork, and kept
// open, so that a child finds them loaded and does not need the dynamic loader. The handles are
// held for the life of the process (a discarded handle would be reported as a leak).
iconv_t gKeptConversions[4];

void WarmUpConversions() {
  static const bool done = [] {
    const char* pairs[][2] = {{"UCS-2LE", "UTF-8"}, {"UTF-8", "UCS-2LE"}, {"CP1252", "UTF-8"}, {"UTF-8", "CP1252"}};
    for (std::size_t i = 0; i < 4; ++i) gKeptConversions[i] = iconv_open(pairs[i][0], pairs[i][1]);
    return true;
  }();
  (void)done;
}

TChildRun RunChild(const std::string& path, const std::vector<std::string>& names) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw EDbError(Fmt("Cannot start the Access reader: %s", std::strerror(errno)));
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    throw EDbError(Fmt("Cannot start the Access reader: %s", std::strerror(errno)));
  }
  pid_t pid = fork();
  if (pid < 0) {
    int e = errno;
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
    throw EDbError(Fmt("Cannot start the Access reader: %s", std::strerror(e)));
  }
  if (pid == 0) {
    close(out[0]);
    close(err[0]);
    dup2(err[1], STDERR_FILENO);
    signal(SIGPIPE, SIG_DFL);
#if !defined(__SANITIZE_ADDRESS__)
    // A damaged length field must not let the reader take the machine's memory.
    struct rlimit lim = {std::size_t(2) << 30, std::size_t(2) << 30};
    setrlimit(RLIMIT_DATA, &lim);
#endif
    ChildMain(out[1], path, names);
  }
  close(out[1]);
  close(err[1]);
  TChildRun run;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  char buf[65536];
  while (open > 0) {
    int rc = poll(fds, 2, kIdleTimeoutMs);
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) {
      run.TimedOut = true;
      break;
    }
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[k].fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        close(fds[k].fd);
        fds[k].fd = -1;
        --open;
        continue;
      }
      std::string& dst = k == 0 ? run.Data : run.Err;
      dst.append(buf, static_cast<std::size_t>(n));
      if (k == 1 && run.Err.size() > 8192) run.Err.erase(0, run.Err.size() - 4096);
      if (k == 0 && run.Data.size() > kMaxStream) {
        run.TooLarge = true;
        open = 0;
        break;
      }
    }
  }
  if (run.TimedOut || run.TooLarge) kill(pid, SIGKILL);
  for (const pollfd& p : fds)
    if (p.fd >= 0) close(p.fd);
  pid_t w;
  while ((w = waitpid(pid, &run.Status, 0)) < 0 && errno == EINTR) {
  }
  // A host that ignores SIGCHLD gets no status: the end mark of the stream decides then.
  if (w < 0) run.Status = 0;
  return run;
}

// The last non-empty line libmdb wrote to standard error.
std::string LastLine(const std::string& err) {
  std::size_t end = err.find_last_not_of("\r\n ");
  if (end == std::string::npos) return {};
  std::size_t start = err.find_last_of('\n', end);
  start = start == std::string::npos ? 0 : start + 1;
  return err.substr(start, end - start + 1);
}

class TStreamReader {
 public:
  explicit TStreamReader(const std::string& data) : FData(data) {}
  bool AtEnd() const { return FPos >= FData.size(); }
  unsigned char Byte() {
    Need(1);
    return static_cast<unsigned char>(FData[FPos++]);
  }
  std::uint32_t U32() {
    Need(4);
    std::uint32_t v;
    std::memcpy(&v, FData.data() + FPos, 4);
    FPos += 4;
    return v;
  }
  std::int64_t I64() {
    Need(8);
    std::int64_t v;
    std::memcpy(&v, FData.data() + FPos, 8);
    FPos += 8;
    return v;
  }
  double F64() {
    Need(8);
    double v;
    std::memcpy(&v, FData.data() + FPos, 8);
    FPos += 8;
    return v;
  }
  std::string_view Str() {
    std::uint32_t n = U32();
    Need(n);
    std::string_view s(FData.data() + FPos, n);
    FPos += n;
    return s;
  }

 private:
  void Need(std::size_t n) const {
    if (FData.size() - FPos < n) throw EDbError("the Access reader's answer is incomplete");
  }
  const std::string& FData;
  std::size_t FPos = 0;
};

std::string DeclaredType(std::uint32_t mdbType) {
  switch (mdbType) {
    case MDB_TEXT:
    case MDB_MEMO: return "TEXT COLLATE JETTEXT";
    case MDB_BOOL: return "BOOLEAN";
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT: return "INTEGER";
    case MDB_MONEY: return "CURRENCY";
    case MDB_FLOAT:
    case MDB_DOUBLE:
    case MDB_NUMERIC: return "DOUBLE";
    case MDB_DATETIME: return "DATETIME";
    default: return "ACCESS_TYPE_" + std::to_string(mdbType);
  }
}

class TAccessConnection : public TSqliteConnection {
 public:
  explicit TAccessConnection(std::string path) : TSqliteConnection(":memory:", true), FPath(std::move(path)) {
    TChildRun run = Run({});
    TStreamReader r(run.Data);
    if (r.Byte() != kTagCatalog) throw EDbError("the Access reader's answer is invalid");
    std::uint32_t n = r.U32();
    for (std::uint32_t i = 0; i < n; ++i) FTables.emplace_back(r.Str());
    if (r.Byte() != kTagDone) throw EDbError("the Access reader's answer is invalid");
  }

  std::unique_ptr<TDbRecordset> Query(const std::string& sql) override {
    RequireOpen();
    std::vector<std::string> wanted;
    for (const std::string& word : Words(sql)) {
      const std::string* name = CatalogName(word);
      if (name && !FLoaded.count(*name) &&
          std::find(wanted.begin(), wanted.end(), *name) == wanted.end())
        wanted.push_back(*name);
    }
    if (!wanted.empty()) Load(wanted);
    return TSqliteConnection::Query(sql);
  }

  std::unique_ptr<TDbRecordset> OpenTable(const std::string& name) override {
    RequireOpen();
    const std::string* real = CatalogName(name);
    if (!real) throw EDbError(Fmt("Table \"%s\" not found", name));
    if (!FLoaded.count(*real)) Load({*real});
    return TSqliteConnection::OpenTable(*real);
  }

  std::string BackendName() const override { return "Access"; }

 private:
  void RequireOpen() const {
    if (!Connected()) throw EDbError("Connection is closed");
  }

  TChildRun Run(const std::vector<std::string>& names) {
    WarmUpConversions();
    TChildRun run = RunChild(FPath, names);
    std::string why = LastLine(run.Err);
    std::string tail = why.empty() ? std::string() : ": " + why;
    if (run.TimedOut) throw EDbError("The Access reader stopped answering; the file may be damaged");
    if (run.TooLarge) throw EDbError("The Access file yields more data than it can hold; it may be damaged");
    if (WIFSIGNALED(run.Status))
      throw EDbError(Fmt("The Access file is damaged (the reader stopped with signal %d)%s", WTERMSIG(run.Status), tail));
    if (!run.Data.empty() && static_cast<unsigned char>(run.Data[0]) == kTagError) {
      TStreamReader r(run.Data);
      r.Byte();
      throw EDbError(std::string(r.Str()) + tail);
    }
    if (!WIFEXITED(run.Status) || WEXITSTATUS(run.Status) != 0)
      throw EDbError(Fmt("The Access reader failed (status %d)%s", WIFEXITED(run.Status) ? WEXITSTATUS(run.Status) : -1, tail));
    return run;
  }

  void Load(const std::vector<std::string>& names) {
    TChildRun run = Run(names);
    TStreamReader r(run.Data);
    Exec("begin");
    try {
      for (;;) {
        unsigned char tag = r.Byte();
        if (tag == kTagDone) break;
        if (tag == kTagError) throw EDbError(std::string(r.Str()));
        if (tag != kTagTable) throw EDbError("the Access reader's answer is invalid");
        ImportTable(r);
      }
      Exec("commit");
    } catch (...) {
      try {
        Exec("rollback");
      } catch (const EDbError&) {
      }
      throw;
    }
    for (const std::string& n : names) FLoaded.insert(n);
  }

  void ImportTable(TStreamReader& r) {
    std::string name(r.Str());
    std::uint32_t ncols = r.U32();
    if (ncols == 0 || ncols > MDB_MAX_COLS) throw EDbError("the Access reader's answer is invalid");
    std::string create = "create table " + QuoteIdent(name) + " (";
    std::string insert = "insert into " + QuoteIdent(name) + " values (";
    std::set<std::string> seen;
    for (std::uint32_t c = 0; c < ncols; ++c) {
      std::string col(r.Str());
      std::uint32_t type = r.U32();
      std::string lower = col;
      for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if (!seen.insert(lower).second) throw EDbError(Fmt("Table \"%s\" names column \"%s\" twice", name, col));
      create += (c ? ", " : "") + QuoteIdent(col) + " " + DeclaredType(type);
      insert += c ? ", ?" : "?";
    }
    Exec(create + ")");
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(Handle(), (insert + ")").c_str(), -1, &st, nullptr) != SQLITE_OK) {
      std::string msg = sqlite3_errmsg(Handle());
      sqlite3_finalize(st);
      throw EDbError(msg);
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(st, sqlite3_finalize);
    for (;;) {
      unsigned char tag = r.Byte();
      if (tag == kTagEnd) break;
      if (tag != kTagRow) throw EDbError("the Access reader's answer is invalid");
      for (std::uint32_t c = 0; c < ncols; ++c) {
        int idx = static_cast<int>(c + 1);
        switch (r.Byte()) {
          case kNull: sqlite3_bind_null(st, idx); break;
          case kInt: sqlite3_bind_int64(st, idx, r.I64()); break;
          case kReal: sqlite3_bind_double(st, idx, r.F64()); break;
          case kText: {
            std::string_view s = r.Str();
            sqlite3_bind_text(st, idx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
            break;
          }
          default: throw EDbError("the Access reader's answer is invalid");
        }
      }
      if (sqlite3_step(st) != SQLITE_DONE) throw EDbError(sqlite3_errmsg(Handle()));
      sqlite3_reset(st);
    }
  }

  // Every word of a query that could name a table: plain words, [bracketed], "quoted" and
  // `back-quoted` names.
  static std::vector<std::string> Words(const std::string& sql) {
    std::vector<std::string> out;
    std::size_t i = 0, n = sql.size();
    while (i < n) {
      char c = sql[i];
      if (c == '[' || c == '"' || c == '`') {
        char close = c == '[' ? ']' : c;
        std::size_t end = sql.find(close, i + 1);
        if (end == std::string::npos) end = n;
        out.push_back(sql.substr(i + 1, end - i - 1));
        i = end + 1;
      } else if (c == '\'') {
        std::size_t end = i + 1;
        while (end < n && sql[end] != '\'') ++end;
        i = end + 1;
      } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80) {
        std::size_t end = i;
        while (end < n && (std::isalnum(static_cast<unsigned char>(sql[end])) || sql[end] == '_' ||
                           static_cast<unsigned char>(sql[end]) >= 0x80))
          ++end;
        out.push_back(sql.substr(i, end - i));
        i = end;
      } else {
        ++i;
      }
    }
    return out;
  }

  const std::string* CatalogName(std::string_view word) const {
    for (const std::string& t : FTables)
      if (SameText(t, word)) return &t;
    return nullptr;
  }

  std::string FPath;
  std::vector<std::string> FTables;
  std::set<std::string> FLoaded;
};

}  // namespace

std::unique_ptr<TDbConnection> OpenAccessFile(const std::string& path) {
  return std::make_unique<TAccessConnection>(path);
}

}  // namespace common::db::detail
