// Build helper: writes a SQLite database from an SQL text (a dump), replacing the output file.
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: edi_sql_to_db DUMP.sql OUT.db\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "edi_sql_to_db: cannot read %s\n", argv[1]);
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  // Built beside the target and renamed, so an interrupted build leaves no half database.
  std::string tmp = std::string(argv[2]) + ".tmp";
  std::remove(tmp.c_str());
  sqlite3* db = nullptr;
  if (sqlite3_open(tmp.c_str(), &db) != SQLITE_OK) {
    std::fprintf(stderr, "edi_sql_to_db: %s: %s\n", tmp.c_str(), sqlite3_errmsg(db));
    sqlite3_close(db);
    return 1;
  }
  char* err = nullptr;
  int rc = sqlite3_exec(db, text.str().c_str(), nullptr, nullptr, &err);
  if (rc != SQLITE_OK) std::fprintf(stderr, "edi_sql_to_db: %s: %s\n", argv[1], err ? err : sqlite3_errmsg(db));
  sqlite3_free(err);
  if (sqlite3_close(db) != SQLITE_OK || rc != SQLITE_OK) {
    std::remove(tmp.c_str());
    return 1;
  }
  if (std::rename(tmp.c_str(), argv[2]) != 0) {
    std::perror("edi_sql_to_db: rename");
    return 1;
  }
  return 0;
}
