// Helpers of the access layer tests: temporary folders, SQLite fixtures, rows as texts.
#pragma once

#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "db/DbAccess.h"

namespace dbtest {

namespace fs = std::filesystem;

inline std::string JetText(const std::string& path) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Password=\"\";Data Source=\"" + path + "\";Persist Security Info=True";
}

// A temporary folder removed at the end of the test.
struct TTempDir {
  fs::path Path;
  TTempDir() {
    char tmpl[] = "/tmp/dbtestXXXXXX";
    Path = mkdtemp(tmpl);
  }
  ~TTempDir() { fs::remove_all(Path); }
  std::string File(const std::string& name) const { return (Path / name).string(); }
};

// Runs `sql` on a new SQLite file; the error text, empty on success.
inline std::string MakeSqlite(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return "cannot create " + path;
  char* err = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  std::string msg = rc == SQLITE_OK ? "" : (err ? err : "error");
  sqlite3_free(err);
  sqlite3_close(db);
  return msg;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

inline std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const common::db::EDbError& e) {
    return e.what();
  }
  return "(no error)";
}

// Every row of a recordset as one text, each value read through the reader of its column's
// kind, so that two backends agree exactly when kinds and values agree. Floats are compared
// to `floatDigits` significant digits.
inline std::vector<std::string> Rows(common::db::TDbRecordset& rs, int floatDigits = 17) {
  using namespace common::db;
  std::vector<std::string> out;
  for (; !rs.Eof(); rs.Next()) {
    std::string row;
    for (int i = 0; i < rs.FieldCount(); ++i) {
      std::string name = rs.FieldName(i);
      char buf[64];
      row += i ? " | " : "";
      switch (rs.FieldKind(i)) {
        case fkText:
          row += "T:" + rs.AsString(name);
          break;
        case fkInteger:
          row += "I:" + std::to_string(rs.AsInteger(name));
          break;
        case fkBoolean:
          row += rs.AsBoolean(name) ? "B:1" : "B:0";
          break;
        case fkDate:
          // Date texts carry whole seconds; the stored day counts may differ below that.
          std::snprintf(buf, sizeof buf, "D:%.7f", rs.AsDate(name));
          row += buf;
          break;
        case fkFloat:
        case fkCurrency:
          std::snprintf(buf, sizeof buf, "F:%.*g", floatDigits, rs.AsFloat(name));
          row += buf;
          break;
        default:
          row += "?:" + rs.AsString(name);
      }
    }
    out.push_back(row);
  }
  return out;
}

inline std::string Shared(const std::string& rel) { return std::string(EDI_SHARED_DIR) + "/" + rel; }

// The load queries of the referential, in load order.
inline const std::vector<std::string>& ReferentialQueries() {
  static const std::vector<std::string> q = {
      "Select SEGMENT, CDE, DE, Obligatoire, Occurrence from A_SEGMENT_LAYOUT order by Segment, Ordre",
      "Select Segment, DE from A_SEGMENT order by SEGMENT",
      "Select CDE, DE, Obligatoire, Occurrence from A_CDE_LAYOUT order by Cde, Ordre",
      "Select CDE from A_CDE order by Cde",
      "Select DE, Version, Qualifiant, DatDel from A_DE_QUALIFIANT order by DE, Version, Qualifiant",
      "Select DE, Nature, Lgr, PreVal, PreDon from A_DE order by De",
      "Select Code, Valeur, DatDel from VALEUR order by Code, Valeur",
      "Select Code, Nature, Lgr, PreVal from CODETELEBIB Order by Code",
      "Select Code, Version, Valeur from VALEURTELEBIB Order by Code, Version, Valeur",
      "Select Ident, Code, Nature, Lgr, PreVal from CODESPEC Order by Ident, Code",
      "Select Ident, Code, Version, Valeur, DatDel from VALEURSPEC order by Ident, Code, Version, Valeur",
      "Select C_Index, C_Company, DatDel from Index_Code order by C_Index",
      "Select C_index, D_index, N_Value from Index_Value order by C_Index, D_Index",
      "Select C_Country, ZipCode, DatDel from POSTAL order by C_Country, ZipCode, City",
      "Select C_Domain, C_Guarantee from Guarantee_Domain",
      "Select C_Guarantee, C_Origin, DatDel from Guarantee",
      "Select C_Guarantee, C_Company, C_Formula, D_Start, D_End, DatDel from FORMULA order by C_Guarantee, C_Company, "
      "C_Formula",
      "Select C_Company, C_Product, C_Domain, D_Start, D_End, DatDel from PRODUCT order by C_Company, C_Product, "
      "C_Domain",
      "Select C_Domain, C_Type from TypePolicy_Domain order by C_Domain, C_Type",
      "Select C_Type, DatDel from TypePolicy order by C_Type",
      "Select C_Domain, C_Rod from Rod_Domain order by C_Domain, C_Rod",
      "Select C_Rod, DatDel from Rod order by C_Rod",
      "Select CodeOca from CODEOCA",
  };
  return q;
}

}  // namespace dbtest
