// The Access reader: a small program that reads an Access file with libmdb and streams the
// catalog or the named tables on its standard output (see MdbProtocol.h).
//
// libmdb trusts the file: a damaged one can make it read out of bounds, abort or loop. The
// client therefore starts this program for each read, in a fresh process of its own, and a
// crash, an abort or a hang here becomes an error of the client's connection.
//
// Usage: verimek-mdb-reader FILE [TABLE...]   (no table: the catalog)
#include <glib.h>  // before mdbtools.h, which includes it inside extern "C"
#include <mdbtools.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Format.h"
#include "db/MdbProtocol.h"

using common::Fmt;
namespace mdb = common::db::mdb;

namespace {

static_assert(unsigned{MDB_BOOL} == mdb::kTypeBool && unsigned{MDB_BYTE} == mdb::kTypeByte &&
                  unsigned{MDB_INT} == mdb::kTypeInt && unsigned{MDB_LONGINT} == mdb::kTypeLongInt &&
                  unsigned{MDB_MONEY} == mdb::kTypeMoney && unsigned{MDB_FLOAT} == mdb::kTypeFloat &&
                  unsigned{MDB_DOUBLE} == mdb::kTypeDouble && unsigned{MDB_DATETIME} == mdb::kTypeDateTime &&
                  unsigned{MDB_TEXT} == mdb::kTypeText && unsigned{MDB_MEMO} == mdb::kTypeMemo &&
                  unsigned{MDB_NUMERIC} == mdb::kTypeNumeric && MDB_MAX_COLS == mdb::kMaxColumns,
              "the column types sent are libmdb's");

// Values longer than this would be cut by libmdb; such a value is reported, not shortened.
constexpr std::size_t kBindSize = 1u << 20;

class TStreamWriter {
 public:
  explicit TStreamWriter(int fd) : FFd(fd) {}
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

[[noreturn]] void Fail(TStreamWriter& w, const std::string& msg) {
  w.Byte(mdb::kTagError);
  w.Str(msg);
  w.Flush();
  _exit(1);
}

bool IsUserTable(MdbCatalogEntry* e) { return e && e->object_type == MDB_TABLE && mdb_is_user_table(e); }

// Streams `names` (exact catalog names); with no names, the catalog.
[[noreturn]] void ReaderMain(int fd, const std::string& path, const std::vector<std::string>& names) {
  TStreamWriter w(fd);
  MdbHandle* mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
  if (!mdb) Fail(w, "libmdb cannot open the file");
  mdb_set_date_fmt(mdb, "%Y-%m-%d %H:%M:%S");
  mdb_set_bind_size(mdb, kBindSize);
  if (!mdb_read_catalog(mdb, MDB_TABLE)) Fail(w, "the catalog of the file cannot be read");
  if (names.empty()) {
    std::vector<std::string> user;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
      auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
      if (IsUserTable(e)) user.emplace_back(e->object_name);
    }
    w.Byte(mdb::kTagCatalog);
    w.U32(static_cast<std::uint32_t>(user.size()));
    for (const std::string& n : user) w.Str(n);
  }
  for (const std::string& name : names) {
    std::string n = name;
    MdbTableDef* table = mdb_read_table_by_name(mdb, n.data(), MDB_TABLE);
    if (!table) Fail(w, Fmt("Table \"%s\" cannot be read", name));
    if (!mdb_read_columns(table)) Fail(w, Fmt("The columns of table \"%s\" cannot be read", name));
    unsigned ncols = table->num_cols;
    if (!table->columns || table->columns->len != ncols || ncols == 0 || ncols > MDB_MAX_COLS)
      Fail(w, Fmt("Table \"%s\" has an invalid column list", name));
    std::vector<std::vector<char>> bufs(ncols, std::vector<char>(kBindSize + 1));
    std::vector<int> lens(ncols, 0);
    w.Byte(mdb::kTagTable);
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
      if (++rows > table->num_rows) Fail(w, Fmt("Table \"%s\" holds more rows than it declares", name));
      w.Byte(mdb::kTagRow);
      for (unsigned c = 0; c < ncols; ++c) {
        MdbColumn* col = cols[c];
        const char* text = bufs[c].data();
        std::size_t len = lens[c] < 0 ? 0 : static_cast<std::size_t>(lens[c]);
        if (len > kBindSize) len = kBindSize;
        switch (col->col_type) {
          case MDB_BOOL:
            w.Byte(mdb::kInt);
            w.I64(text[0] == '1' ? 1 : 0);
            break;
          case MDB_BYTE:
          case MDB_INT:
          case MDB_LONGINT:
            if (len == 0) {
              w.Byte(mdb::kNull);
            } else {
              w.Byte(mdb::kInt);
              w.I64(std::strtoll(text, nullptr, 10));
            }
            break;
          case MDB_FLOAT:
            if (col->cur_value_len == 4) {
              w.Byte(mdb::kReal);
              w.F64(mdb_get_single(mdb->pg_buf, col->cur_value_start));
            } else {
              w.Byte(mdb::kNull);
            }
            break;
          case MDB_DOUBLE:
          case MDB_DATETIME:
            // The raw value: exact, and the automation day count for dates.
            if (col->cur_value_len == 8) {
              w.Byte(mdb::kReal);
              w.F64(mdb_get_double(mdb->pg_buf, col->cur_value_start));
            } else {
              w.Byte(mdb::kNull);
            }
            break;
          case MDB_MONEY:
          case MDB_NUMERIC:
            if (len == 0) {
              w.Byte(mdb::kNull);
            } else {
              w.Byte(mdb::kReal);
              w.F64(std::strtod(text, nullptr));
            }
            break;
          case MDB_TEXT:
          case MDB_MEMO:
            // libmdb returns an empty text and a null alike; both read as the empty text.
            if (len + 1 >= kBindSize)
              Fail(w, Fmt("A value of column \"%s\" in table \"%s\" is too long", col->name, name));
            w.Byte(mdb::kText);
            w.Str(text, len);
            break;
          default:
            if (len == 0) {
              w.Byte(mdb::kNull);
            } else {
              w.Byte(mdb::kText);
              w.Str(text, len);
            }
        }
      }
      w.MaybeFlush();
    }
    w.Byte(mdb::kTagEnd);
    mdb_free_tabledef(table);
  }
  w.Byte(mdb::kTagDone);
  if (!w.Flush()) _exit(3);
  mdb_close(mdb);
  _exit(0);
}

// Limits of this process only: the client's own memory is no concern of them.
void SetLimits() {
#if !defined(__SANITIZE_ADDRESS__)
  // A damaged length field must not let the reader take the machine's memory. (The sanitizer's
  // shadow alone is far beyond this.)
  struct rlimit data = {std::size_t(2) << 30, std::size_t(2) << 30};
  setrlimit(RLIMIT_DATA, &data);
#endif
  // A crash on a damaged file is an expected outcome, reported to the client; no core file.
  struct rlimit core = {0, 0};
  setrlimit(RLIMIT_CORE, &core);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [TABLE...]\n", mdb::kReaderName);
    return 2;
  }
  signal(SIGPIPE, SIG_DFL);
  SetLimits();
  // The stream keeps the standard output; anything libmdb prints goes with its messages to the
  // standard error, where the client takes the last line as the reason of a failure.
  int stream = dup(STDOUT_FILENO);
  if (stream < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    std::perror(mdb::kReaderName);
    return 3;
  }
  ReaderMain(stream, argv[1], std::vector<std::string>(argv + 2, argv + argc));
}
