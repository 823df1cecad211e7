// The Access backend. A separate program, the Access reader (MdbReader.cpp), reads the file
// with libmdb; every table a query names is copied once into an in-memory SQLite database (text
// columns compared ignoring case, as Jet compares them) and the query runs there unchanged.
//
// libmdb trusts the file: a damaged one can make it read out of bounds, abort or loop. So the
// reader runs in a process of its own, spawned afresh (not forked: the client may hold many
// threads and much address space) and streaming the tables back through a pipe; a crash, an
// abort or a hang of the reader becomes an error of the connection instead of the end of the
// process.
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>

#include "Format.h"
#include "db/DbInternal.h"
#include "db/MdbProtocol.h"

extern char** environ;

namespace common::db::detail {

namespace {

using namespace mdb;

// The reader is given up when it sends nothing for this long.
constexpr int kIdleTimeoutMs = 60000;
// Upper bound of the data a reader may send (a damaged file must not exhaust memory).
constexpr std::size_t kMaxStream = std::size_t(1) << 30;

// Output of one reader run: the stream, what it wrote to standard error, how it ended.
struct TChildRun {
  std::string Data;
  std::string Err;
  int Status = 0;
  bool TimedOut = false;
  bool TooLarge = false;
};

// Path of the file (library or program) that holds this code.
std::string ModulePath() {
  Dl_info info;
  link_map* map = nullptr;
  if (!dladdr1(reinterpret_cast<void*>(&ModulePath), &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP)) return {};
  // The main program's entry has no name.
  if (map && map->l_name && *map->l_name) return map->l_name;
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// The reader program: VERIMEK_MDB_READER when set; else beside the module holding this code,
// then in the libexec folder of its prefix (the build tree has the installed layout), then at
// the installed path. The path returned may not exist: starting it then names it.
std::string ReaderPath() {
  if (const char* env = std::getenv("VERIMEK_MDB_READER"); env && *env) return env;
  std::vector<std::string> candidates;
  std::string module = ModulePath();
  std::size_t slash = module.rfind('/');
  if (slash != std::string::npos) {
    std::string dir = module.substr(0, slash + 1);
    candidates.push_back(dir + kReaderName);
    candidates.push_back(dir + "../libexec/" + kReaderName);
  }
  candidates.push_back(EDI_MDB_READER_INSTALLED);
  for (const std::string& c : candidates)
    if (access(c.c_str(), X_OK) == 0) return c;
  return candidates.back();
}

// Moves a descriptor above the standard ones, so that placing the pipes on the reader's
// standard output and error cannot overwrite one with the other.
int AboveStdio(int fd) {
  if (fd > STDERR_FILENO) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(fd);
  return moved;
}

// Starts the reader with its standard output on `out` and its error on `err`; errno-style
// result, 0 on success.
int SpawnReader(const std::string& reader, const std::string& path, const std::vector<std::string>& names, int out,
                int err, pid_t& pid) {
  std::vector<std::string> args = {reader, path};
  args.insert(args.end(), names.begin(), names.end());
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
  // Descriptors the host left inheritable are none of the reader's business.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The calling thread's blocked signals and the host's ignored SIGPIPE would carry over.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  int rc = posix_spawn(&pid, reader.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc;
}

TChildRun RunChild(const std::string& path, const std::vector<std::string>& names) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw EDbError(Fmt("Cannot start the Access reader: %s", std::strerror(errno)));
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    throw EDbError(Fmt("Cannot start the Access reader: %s", std::strerror(errno)));
  }
  for (int* fd : {&out[0], &out[1], &err[0], &err[1]}) *fd = AboveStdio(*fd);
  if (std::min({out[0], out[1], err[0], err[1]}) < 0) {
    int e = errno;
    for (int fd : {out[0], out[1], err[0], err[1]})
      if (fd >= 0) close(fd);
    throw EDbError(Fmt("Cannot start the Access reader: %s", std::strerror(e)));
  }
  std::string reader = ReaderPath();
  pid_t pid = -1;
  int spawnError = SpawnReader(reader, path, names, out[1], err[1], pid);
  if (spawnError != 0) {
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
    throw EDbError(Fmt("The Access reader \"%s\" cannot be started (%s)", reader, std::strerror(spawnError)));
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
    case kTypeText:
    case kTypeMemo:
      return "TEXT COLLATE JETTEXT";
    case kTypeBool:
      return "BOOLEAN";
    case kTypeByte:
    case kTypeInt:
    case kTypeLongInt:
      return "INTEGER";
    case kTypeMoney:
      return "CURRENCY";
    case kTypeFloat:
    case kTypeDouble:
    case kTypeNumeric:
      return "DOUBLE";
    case kTypeDateTime:
      return "DATETIME";
    default:
      return "ACCESS_TYPE_" + std::to_string(mdbType);
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
      if (name && !FLoaded.count(*name) && std::find(wanted.begin(), wanted.end(), *name) == wanted.end())
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
    TChildRun run = RunChild(FPath, names);
    std::string why = LastLine(run.Err);
    std::string tail = why.empty() ? std::string() : ": " + why;
    if (run.TimedOut) throw EDbError("The Access reader stopped answering; the file may be damaged");
    if (run.TooLarge) throw EDbError("The Access file yields more data than it can hold; it may be damaged");
    if (WIFSIGNALED(run.Status))
      throw EDbError(
          Fmt("The Access file is damaged (the reader stopped with signal %d)%s", WTERMSIG(run.Status), tail));
    if (!run.Data.empty() && static_cast<unsigned char>(run.Data[0]) == kTagError) {
      TStreamReader r(run.Data);
      r.Byte();
      throw EDbError(std::string(r.Str()) + tail);
    }
    if (!WIFEXITED(run.Status) || WEXITSTATUS(run.Status) != 0)
      throw EDbError(
          Fmt("The Access reader failed (status %d)%s", WIFEXITED(run.Status) ? WEXITSTATUS(run.Status) : -1, tail));
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
    if (ncols == 0 || ncols > kMaxColumns) throw EDbError("the Access reader's answer is invalid");
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
          case kNull:
            sqlite3_bind_null(st, idx);
            break;
          case kInt:
            sqlite3_bind_int64(st, idx, r.I64());
            break;
          case kReal:
            sqlite3_bind_double(st, idx, r.F64());
            break;
          case kText: {
            std::string_view s = r.Str();
            sqlite3_bind_text(st, idx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
            break;
          }
          default:
            throw EDbError("the Access reader's answer is invalid");
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
