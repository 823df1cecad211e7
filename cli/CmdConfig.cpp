// config referential / config sql: the engine's database settings in the machine hive;
// referential: what those settings lead to (source, version, rows per table), loaded by the
// engine's own referential code so that it fails exactly where a validation would.
#include <edicom/EdiCom.h>
#include <edicom/EdiComCpp.h>
#include <ruvala/Ruvala.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "Commands.h"
#include "Platform.h"
#include "db/DbAccess.h"
#include "registry/Registry.h"

namespace cli {

namespace {

const char kDatabaseKey[] = "SOFTWARE\\tarnholt\\services\\Database";

// Configuration boxes of the engine go to standard error, as for check.
int gErrorBoxes = 0;
void ErrorBoxToStderr(const char* text, void*) {
  ++gErrorBoxes;
  std::fprintf(stderr, "%s\n", text);
}

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
  // The password is of no use any more; it does not stay behind on disk.
  reg.DeleteValue("Referential.SqlPassword");
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
    std::fprintf(stderr,
                 "usage: verimek-cli config sql --server S --user U [--password-stdin] [--driver ODBC-DRIVER]\n");
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

}  // namespace

int CmdConfig(const Args& args) {
  if (!args.empty() && args[0] == "referential") return ConfigReferential(Args(args.begin() + 1, args.end()));
  if (!args.empty() && args[0] == "sql") return ConfigSql(Args(args.begin() + 1, args.end()));
  std::fprintf(stderr,
               "usage: verimek-cli config referential [--if-unset] PATH\n"
               "       verimek-cli config sql --server S --user U [--password-stdin] [--driver ODBC-DRIVER]\n");
  return 2;
}

namespace {

int ShowReferential(const Args& args) {
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
  if (useSql) {
    std::string user = reg.ReadString("Referential.SqlUserid");
    std::string server = reg.ReadString("Referential.SqlServer");
    if (user.empty() || server.empty()) {
      std::fprintf(stderr, "verimek-cli: Invalid registry settings\n");
      return 1;
    }
    std::printf("Server: %s (catalog REFERENTIEL, user %s, ODBC driver %s)\n", server.c_str(), user.c_str(),
                common::db::DbOdbcDriver().c_str());
  } else if (reg.ValueExists("Referential")) {
    std::printf("File: %s\n", reg.ReadString("Referential").c_str());
  } else {
    std::fprintf(stderr, "verimek-cli: Invalid registry settings for \"%s, Referential\"\n", kDatabaseKey);
    return 1;
  }
  std::fflush(stdout);  // the source comes before any failure on standard error

  // What a validation does first, through the engine component itself, with its failures
  // reported as check reports them.
  EdiSetErrorBoxHandler(ErrorBoxToStderr, nullptr);
  edicom::ComPtr<ruvala::IEdiDocument> doc;
  edicom::ComPtr<ruvala::IEdiReferentialInfo> info;
  edicom::HRESULT hr = edicom::CreateInstance(ruvala::CLSID_EdiDocument, ruvala::IID_IEdiDocument, doc);
  if (edicom::SUCCEEDED(hr)) hr = doc->QueryInterface(ruvala::IID_IEdiReferentialInfo, info.PutVoid());
  if (edicom::FAILED(hr)) {
    const std::string why = edicom::TakeErrorDescription();
    std::fprintf(stderr, "verimek-cli: cannot create %s (0x%08X)%s%s\n", ruvala::ProgID_EdiDocument,
                 static_cast<unsigned>(hr), why.empty() ? "" : ": ", why.c_str());
    return 2;
  }
  hr = info->Load();
  if (edicom::FAILED(hr)) {
    std::fprintf(stderr, "verimek-cli: %s\n", edicom::TakeErrorDescription().c_str());
    return 2;
  }
  if (gErrorBoxes > 0 || hr != edicom::S_OK) return 2;
  int rc = 0;
  edicom::BStr version, counts;
  if (edicom::SUCCEEDED(info->get_Version(version.Put()))) {
    std::printf("Version: %s\n", version.Utf8().c_str());
  } else {
    std::printf("Version: (%s)\n", edicom::TakeErrorDescription().c_str());
    rc = 1;
  }
  if (edicom::FAILED(info->get_TableCounts(counts.Put()))) {
    std::fprintf(stderr, "verimek-cli: %s\n", edicom::TakeErrorDescription().c_str());
    return 2;
  }
  const std::string text = counts.Utf8();
  for (std::size_t b = 0, e; b < text.size(); b = e + 1) {
    e = text.find('\n', b);
    if (e == std::string::npos) e = text.size();
    const std::string line = text.substr(b, e - b);
    const std::size_t eq = line.rfind('=');
    if (eq == std::string::npos) continue;
    std::printf("%-18s %s\n", line.substr(0, eq).c_str(), line.substr(eq + 1).c_str());
  }
  return rc;
}

}  // namespace

// A failed write of the output is caught for every command where the command returns.
int CmdReferential(const Args& args) { return ShowReferential(args); }

}  // namespace cli
