// The least that storing one message can cost on this machine, next to what the file worker
// spends: the body encoded (zlib at the default level, Base64), and one transaction with the
// two inserts of a message without findings, made with bare prepared statements on the results
// schema under several journal settings. bench_validate prints the engine's cost beside it.
//
//   bench_store_floor [--messages N]
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "Platform.h"
#include "SysSqlite.h"

namespace {

using Clock = std::chrono::steady_clock;

double MicrosEach(Clock::time_point t0, std::size_t n) {
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / static_cast<double>(n);
}

bool Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK) return true;
  std::fprintf(stderr, "bench: %s: %s\n", sql.c_str(), error ? error : "?");
  sqlite3_free(error);
  return false;
}

// One transaction per message: BEGIN, the Messages row, the Data row, COMMIT. Negative on failure.
double BareTransaction(const std::string& file, const std::string& pragmas, const std::vector<std::string>& bodies) {
  for (const char* ext : {"", "-wal", "-shm", "-journal"}) std::remove((file + ext).c_str());
  sqlite3* db = nullptr;
  double us = -1;
  sqlite3_stmt *begin = nullptr, *message = nullptr, *data = nullptr, *commit = nullptr;
  if (sqlite3_open(file.c_str(), &db) == SQLITE_OK && Exec(db, pragmas) && Exec(db, verimek::CREATE_DB) &&
      sqlite3_prepare_v2(db, "BEGIN", -1, &begin, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "COMMIT", -1, &commit, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db,
                         "INSERT INTO [Messages]  ([ID], [XehId], X921, X923, X925, X912, X916, [ErrorCount], "
                         "[WarningCount])  VALUES(null, ?, ?, ?, ?, ?, ?, ?, ?)",
                         -1, &message, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "INSERT INTO [Data]  ([Id], [MessageID], [XehId], [Body])  VALUES(null, ?, ?, ?)", -1,
                         &data, nullptr) == SQLITE_OK) {
    bool ok = true;
    auto t0 = Clock::now();
    for (std::size_t i = 0; ok && i < bodies.size(); ++i) {
      ok = sqlite3_step(begin) == SQLITE_DONE;
      sqlite3_reset(begin);
      sqlite3_bind_int(message, 1, 1);
      sqlite3_bind_text(message, 2, "0039", -1, SQLITE_STATIC);
      sqlite3_bind_text(message, 3, "0201", -1, SQLITE_STATIC);
      sqlite3_bind_text(message, 4, "002", -1, SQLITE_STATIC);
      sqlite3_bind_int(message, 5, 90);
      sqlite3_bind_text(message, 6, "10", -1, SQLITE_STATIC);
      sqlite3_bind_int(message, 7, 0);
      sqlite3_bind_int(message, 8, 0);
      ok = ok && sqlite3_step(message) == SQLITE_DONE;
      sqlite3_reset(message);
      sqlite3_bind_int64(data, 1, sqlite3_last_insert_rowid(db));
      sqlite3_bind_int(data, 2, 1);
      sqlite3_bind_text(data, 3, bodies[i].data(), static_cast<int>(bodies[i].size()), SQLITE_STATIC);
      ok = ok && sqlite3_step(data) == SQLITE_DONE;
      sqlite3_reset(data);
      ok = ok && sqlite3_step(commit) == SQLITE_DONE;
      sqlite3_reset(commit);
    }
    if (ok) us = MicrosEach(t0, bodies.size());
  }
  for (sqlite3_stmt* s : {begin, message, data, commit}) sqlite3_finalize(s);
  sqlite3_close(db);
  for (const char* ext : {"", "-wal", "-shm", "-journal"}) std::remove((file + ext).c_str());
  return us;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t n = 20000;
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::string(argv[i]) == "--messages") n = std::strtoul(argv[i + 1], nullptr, 10);
  std::vector<std::string> lines;
  {
    std::ifstream in(EDI_SHARED_DIR "/samples/valid.txt", std::ios::binary);
    for (std::string l; std::getline(in, l);) {
      if (!l.empty() && l.back() == '\r') l.pop_back();
      if (!l.empty()) lines.push_back(l);
    }
  }
  if (lines.empty() || n == 0) {
    std::fprintf(stderr, "bench: no sample lines in " EDI_SHARED_DIR "/samples/valid.txt\n");
    return 2;
  }
  double bytes = 0;
  for (const std::string& l : lines) bytes += static_cast<double>(l.size());

  // Encoding, as storing does it for every message.
  std::vector<std::string> bodies;
  bodies.reserve(n);
  auto t0 = Clock::now();
  for (std::size_t i = 0; i < n; ++i) bodies.push_back(verimek::CompressAndEncode(lines[i % lines.size()]));
  const double encode = MicrosEach(t0, n);

  std::string file = common::TempFolder() + "bench-store-floor-" + std::to_string(getpid()) + ".db";
  std::printf("%zu messages of the valid samples, %.0f bytes on average\n", n,
              bytes / static_cast<double>(lines.size()));
  std::printf("%-58s %8.2f us\n", "CompressAndEncode (zlib default level, Base64)", encode);
  const std::pair<const char*, const char*> settings[] = {
      {"transaction, WAL, synchronous OFF, exclusive (the worker's)",
       "PRAGMA locking_mode=EXCLUSIVE; PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;"},
      {"transaction, journal in memory, synchronous OFF, exclusive",
       "PRAGMA locking_mode=EXCLUSIVE; PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF;"},
      {"transaction, no journal (no rollback), synchronous OFF",
       "PRAGMA locking_mode=EXCLUSIVE; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"},
  };
  int status = 0;
  for (const auto& [label, pragmas] : settings) {
    double us = BareTransaction(file, pragmas, bodies);
    if (us < 0) status = 2;
    std::printf("%-58s %8.2f us\n", label, us);
  }
  std::printf("the file worker's targets together need storing <= 0.47 x the engine's time per message\n");
  return status;
}
