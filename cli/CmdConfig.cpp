// config referential / config sql: the engine's database settings in the machine hive;
// referential: what those settings lead to (source, version, rows per table).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "Commands.h"
#include "Platform.h"
#include "db/DbAccess.h"
#include "registry/Registry.h"

namespace cli {

namespace {

const char kDatabaseKey[] = "SOFTWARE\\tarnholt\\services\\Database";

// The tables the engine loads, in its load order.
const char* const kReferentialTables[] = {
    "A_SEGMENT_LAYOUT", "A_SEGMENT",   "A_CDE_LAYOUT", "A_CDE",   "A_DE_QUALIFIANT",   "A_DE",
    "VALEUR",           "CODETELEBIB", "VALEURTELEBIB", "CODESPEC", "VALEURSPEC",        "Index_Code",
    "Index_Value",      "POSTAL",      "Guarantee_Domain", "Guarantee", "FORMULA",       "PRODUCT",
    "TypePolicy_Domain", "TypePolicy", "Rod_Domain",   "Rod",     "CODEOCA",
};

bool OpenDatabaseKey(common::TRegistry& reg, bool write) {
  bool ok = write ? reg.OpenKey(kDatabaseKey, true) : reg.OpenKeyReadOnly(kDatabaseKey);
  if (!ok)
    std::fprintf(stderr, "verimek-cli: cannot open HKEY_LOCAL_MACHINE\\%s in %s\n", kDatabaseKey,
                 common::HiveFileName(common::HKEY_LOCAL_MACHINE).c_str());
  return ok;
}

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char buf[4096];
  if (!getcwd(buf, sizeof buf)) return path;
  return std::string(buf) + "/" + path;
}

int ConfigReferential(const Args& argsIn) {
  // --if-unset: keep a referential that is already configured (the set-up script uses it).
  Args args;
  bool ifUnset = false;
  for (const std::string& a : argsIn)
    if (a == "--if-unset")
      ifUnset = true;
    else
      args.push_back(a);
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: verimek-cli config referential [--if-unset] PATH\n");
    return 2;
  }
  if (ifUnset) {
    common::TRegistry existing(common::HKEY_LOCAL_MACHINE);
    if (existing.OpenKeyReadOnly(kDatabaseKey)) {
      bool sql = false;
      try {
        sql = existing.ValueExists("Referential.Sql") && existing.ReadBool("Referential.Sql");
      } catch (const std::exception&) {
      }
      if (sql || !existing.ReadString("Referential").empty()) {
        std::printf("Referential already configured: %s\n",
                    sql ? ("SQL Server " + existing.ReadString("Referential.SqlServer")).c_str()
                        : existing.ReadString("Referential").c_str());
        return 0;
      }
    }
  }
  std::string path = AbsolutePath(args[0]);
  if (!common::FileExists(path)) {
    std::fprintf(stderr, "verimek-cli: %s: no such file\n", path.c_str());
    return 1;
  }
  common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
  if (!OpenDatabaseKey(reg, true)) return 1;
  reg.WriteString("Referential", path);
  // A SQL Server setting would win over the file.
  reg.WriteInteger("Referential.Sql", 0);
  std::printf("Referential = %s\n", path.c_str());
  return 0;
}

int ConfigSql(const Args& args) {
  std::string server, user, driver;
  bool passwordStdin = false, haveDriver = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    if (a == "--server" && value(server)) continue;
    if (a == "--user" && value(user)) continue;
    if (a == "--driver" && value(driver)) {
      haveDriver = true;
      continue;
    }
    if (a == "--password-stdin") {
      passwordStdin = true;
      continue;
    }
    server.clear();
    user.clear();
    break;
  }
  if (server.empty() || user.empty()) {
    std::fprintf(stderr, "usage: verimek-cli config sql --server S --user U [--password-stdin] [--driver ODBC-DRIVER]\n");
    return 2;
  }
  std::string password;
  if (passwordStdin) {
    // One line; the line end is not part of the password.
    if (!std::getline(std::cin, password) && password.empty() && !std::cin.eof()) {
      std::fprintf(stderr, "verimek-cli: cannot read the password from standard input\n");
      return 1;
    }
    while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) password.pop_back();
  }
  common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
  if (!OpenDatabaseKey(reg, true)) return 1;
  reg.WriteInteger("Referential.Sql", 1);
  reg.WriteString("Referential.SqlServer", server);
  reg.WriteString("Referential.SqlUserid", user);
  // Without --password-stdin the stored password stays as it is.
  if (passwordStdin) reg.WriteString("Referential.SqlPassword", password);
  if (haveDriver) reg.WriteString("Referential.OdbcDriver", driver);
  std::printf("Referential.SqlServer = %s\nReferential.SqlUserid = %s\n", server.c_str(), user.c_str());
  if (passwordStdin) std::printf("Referential.SqlPassword set\n");
  if (haveDriver) std::printf("Referential.OdbcDriver = %s\n", driver.c_str());
  return 0;
}

// "%name" replaced ignoring case at every occurrence.
std::string ReplaceAllIgnoringCase(std::string text, const std::string& from, const std::string& to) {
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  std::string lf = lower(from);
  std::size_t pos = 0;
  while ((pos = lower(text).find(lf, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

// A value that would end its entry early is quoted.
std::string ConnValue(const std::string& v) {
  if (v.find_first_of(";\"'") == std::string::npos) return v;
  std::string out = "\"";
  for (char c : v) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace

// "12345678" -> "1.23.456.78": the parts are cut at fixed places; missing characters give
// shorter (or empty) parts.
std::string FormatReferentialVersion(const std::string& v) {
  auto part = [&](std::size_t from, std::size_t len) { return from < v.size() ? v.substr(from, len) : std::string(); };
  return part(0, 1) + "." + part(1, 2) + "." + part(3, 3) + "." + part(6, 2);
}

int CmdConfig(const Args& args) {
  if (!args.empty() && args[0] == "referential") return ConfigReferential(Args(args.begin() + 1, args.end()));
  if (!args.empty() && args[0] == "sql") return ConfigSql(Args(args.begin() + 1, args.end()));
  std::fprintf(stderr,
               "usage: verimek-cli config referential [--if-unset] PATH\n"
               "       verimek-cli config sql --server S --user U [--password-stdin] [--driver ODBC-DRIVER]\n");
  return 2;
}

int CmdReferential(const Args& args) {
  if (!args.empty()) {
    std::fprintf(stderr, "usage: verimek-cli referential\n");
    return 2;
  }
  common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
  if (!OpenDatabaseKey(reg, false)) return 1;
  bool useSql = false;
  try {
    useSql = reg.ValueExists("Referential.Sql") && reg.ReadBool("Referential.Sql");
  } catch (const std::exception&) {
    useSql = false;
  }
  std::string text;
  if (useSql) {
    std::string user = reg.ReadString("Referential.SqlUserid");
    std::string server = reg.ReadString("Referential.SqlServer");
    if (user.empty() || server.empty()) {
      std::fprintf(stderr, "verimek-cli: Invalid registry settings\n");
      return 1;
    }
    text = "Provider=SQLOLEDB.1;Password=%password;Persist Security Info=True;User ID=%userid;"
           "Initial Catalog=REFERENTIEL;Data Source=%server";
    text = ReplaceAllIgnoringCase(text, "%userid", ConnValue(user));
    text = ReplaceAllIgnoringCase(text, "%password", ConnValue(reg.ReadString("Referential.SqlPassword")));
    text = ReplaceAllIgnoringCase(text, "%server", ConnValue(server));
    std::printf("Server: %s (catalog REFERENTIEL, user %s, ODBC driver %s)\n", server.c_str(), user.c_str(),
                common::db::DbOdbcDriver().c_str());
  } else if (reg.ValueExists("Referential")) {
    std::string path = reg.ReadString("Referential");
    text = "Provider=Microsoft.Jet.OLEDB.4.0;Password=\"\";Data Source=\"" + path + "\";Persist Security Info=True";
    std::printf("File: %s\n", path.c_str());
  } else {
    std::fprintf(stderr, "verimek-cli: Invalid registry settings for \"%s, Referential\"\n", kDatabaseKey);
    return 1;
  }

  std::unique_ptr<common::db::TDbConnection> conn;
  try {
    conn = common::db::OpenConnection(text);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "verimek-cli: cannot open the referential (%s)\n", e.what());
    return 1;
  }
  int rc = 0;
  try {
    std::unique_ptr<common::db::TDbRecordset> rs =
        useSql ? conn->Query("Select top 1 Version From version_referentiel order by id desc")
               : conn->OpenTable("version_referentiel");
    std::printf("Version: %s\n", rs->Eof() ? "" : FormatReferentialVersion(rs->AsString("Version")).c_str());
  } catch (const std::exception& e) {
    std::printf("Version: (%s)\n", e.what());
    rc = 1;
  }
  for (const char* table : kReferentialTables) {
    try {
      auto rs = conn->Query(std::string("select count(*) as N from ") + table);
      std::printf("%-18s %d\n", table, rs->AsInteger("N"));
    } catch (const std::exception& e) {
      std::printf("%-18s (%s)\n", table, e.what());
      rc = 1;
    }
  }
  return rc;
}

}  // namespace cli
