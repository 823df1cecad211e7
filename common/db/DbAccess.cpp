// Connection texts, the value rules shared by every backend, and the choice of backend.
#include "db/DbAccess.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>

#include "DateUtils.h"
#include "Format.h"
#include "Platform.h"
#include "SysTrace.h"
#include "db/DbInternal.h"
#include "registry/Registry.h"

namespace common::db {

using namespace detail;

namespace detail {

static std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return std::string(s.substr(b, e - b));
}

std::vector<TConnEntry> ParseConnectionText(const std::string& text) {
  std::vector<TConnEntry> out;
  std::size_t i = 0, n = text.size();
  while (i < n) {
    std::size_t eq = i;
    while (eq < n && text[eq] != '=' && text[eq] != ';') ++eq;
    if (eq >= n || text[eq] == ';') {  // no "=": skip the piece
      i = eq + 1;
      continue;
    }
    TConnEntry e;
    e.Key = Trim(std::string_view(text).substr(i, eq - i));
    std::size_t j = eq + 1;
    while (j < n && (text[j] == ' ' || text[j] == '\t')) ++j;
    if (j < n && (text[j] == '"' || text[j] == '\'')) {
      char q = text[j++];
      std::string v;
      while (j < n) {
        if (text[j] == q) {
          if (j + 1 < n && text[j + 1] == q) {
            v += q;
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        v += text[j++];
      }
      e.Value = v;
      while (j < n && text[j] != ';') ++j;  // whatever follows the closing quote is dropped
    } else {
      std::size_t end = text.find(';', j);
      if (end == std::string::npos) end = n;
      e.Value = Trim(std::string_view(text).substr(j, end - j));
      j = end;
    }
    if (!e.Key.empty()) out.push_back(std::move(e));
    i = j + 1;
  }
  return out;
}

std::string ConnValue(const std::vector<TConnEntry>& entries, std::string_view key) {
  for (const TConnEntry& e : entries)
    if (SameText(e.Key, key)) return e.Value;
  return {};
}

bool HasConnKey(const std::vector<TConnEntry>& entries, std::string_view key) {
  for (const TConnEntry& e : entries)
    if (SameText(e.Key, key)) return true;
  return false;
}

std::string HideSecret(std::string text, const std::string& secret) {
  if (secret.empty()) return text;
  std::size_t pos = 0;
  while ((pos = text.find(secret, pos)) != std::string::npos) {
    text.replace(pos, secret.size(), "***");
    pos += 3;
  }
  return text;
}

}  // namespace detail

// ---- value rules ------------------------------------------------------------------------------

int TDbRecordset::RequireField(std::string_view field) const {
  int i = FieldIndex(field);
  if (i < 0) throw EDbError(Fmt("Field \"%s\" not found", field));
  return i;
}

// Throws for a null in a column whose kind has no null reading.
static void CheckNullKind(const TDbRecordset& rs, int i) {
  if (rs.FieldKind(i) == fkOther) throw EDbError(Fmt("Unknown Datatype: %d", rs.FieldTypeNumber(i)));
}

static bool ParseInt64(std::string_view text, std::int64_t& out) {
  std::string t = Trim(text);
  if (t.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(t.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  out = v;
  return true;
}

static bool ParseDouble(std::string_view text, double& out) {
  std::string t = Trim(text);
  if (t.empty()) return false;
  char* end = nullptr;
  double v = std::strtod(t.c_str(), &end);
  if (*end != '\0') return false;
  out = v;
  return true;
}

std::string TDbRecordset::AsString(std::string_view field) const {
  int i = RequireField(field);
  if (IsNull(i)) {
    CheckNullKind(*this, i);
    return FieldKind(i) == fkText ? std::string() : std::string("0");
  }
  return GetText(i);
}

std::int32_t TDbRecordset::AsInteger(std::string_view field) const {
  int i = RequireField(field);
  if (IsNull(i)) {
    CheckNullKind(*this, i);
    return 0;
  }
  std::int64_t v = 0;
  switch (FieldKind(i)) {
    case fkInteger:
    case fkBoolean:
      v = GetInteger(i);
      break;
    case fkFloat:
    case fkCurrency:
    case fkDate: {
      double d = std::round(GetFloat(i));
      if (!(d >= std::numeric_limits<std::int32_t>::min() && d <= std::numeric_limits<std::int32_t>::max()))
        throw EDbError(Fmt("Field \"%s\": %s is out of the integer range", FieldName(i), GetText(i)));
      v = static_cast<std::int64_t>(d);
      break;
    }
    default:
      if (!ParseInt64(GetText(i), v))
        throw EDbError(Fmt("Field \"%s\": \"%s\" is not a valid integer value", FieldName(i), GetText(i)));
  }
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    throw EDbError(Fmt("Field \"%s\": %s is out of the integer range", FieldName(i), GetText(i)));
  return static_cast<std::int32_t>(v);
}

double TDbRecordset::AsFloat(std::string_view field) const {
  int i = RequireField(field);
  if (IsNull(i)) {
    CheckNullKind(*this, i);
    return 0;
  }
  switch (FieldKind(i)) {
    case fkInteger:
    case fkBoolean:
      return static_cast<double>(GetInteger(i));
    case fkFloat:
    case fkCurrency:
    case fkDate:
      return GetFloat(i);
    default: {
      double d;
      if (!ParseDouble(GetText(i), d))
        throw EDbError(Fmt("Field \"%s\": \"%s\" is not a valid floating point value", FieldName(i), GetText(i)));
      return d;
    }
  }
}

double TDbRecordset::AsDate(std::string_view field) const {
  int i = RequireField(field);
  if (IsNull(i)) {
    CheckNullKind(*this, i);
    return 0;
  }
  switch (FieldKind(i)) {
    case fkText:
    case fkOther: {
      std::string t = GetText(i);
      double d;
      if (TryParseIsoDateTime(t, d) || ParseDouble(t, d)) return d;
      throw EDbError(Fmt("Field \"%s\": \"%s\" is not a valid date", FieldName(i), t));
    }
    case fkInteger:
    case fkBoolean:
      return static_cast<double>(GetInteger(i));
    default:
      return GetFloat(i);
  }
}

bool TDbRecordset::AsBoolean(std::string_view field) const {
  int i = RequireField(field);
  if (IsNull(i)) {
    CheckNullKind(*this, i);
    return false;
  }
  switch (FieldKind(i)) {
    case fkInteger:
      return GetInteger(i) != 0;
    case fkFloat:
    case fkCurrency:
    case fkDate:
      return GetFloat(i) != 0;
    default: {
      // Boolean columns may hold words as well as numbers.
      std::string t = Trim(GetText(i));
      for (const char* yes : {"true", "yes", "on"})
        if (SameText(t, yes)) return true;
      for (const char* no : {"", "false", "no", "off"})
        if (SameText(t, no)) return false;
      double d;
      if (ParseDouble(t, d) && (FieldKind(i) == fkBoolean || d == 0 || d == 1 || d == -1)) return d != 0;
      throw EDbError(Fmt("Field \"%s\": \"%s\" is not a valid boolean value", FieldName(i), t));
    }
  }
}

bool TDbRecordset::Locate(const std::vector<std::pair<std::string, std::string>>&) {
  throw EDbError("Locate is only available on a table");
}

// ---- connection texts -------------------------------------------------------------------------

std::string MaskPassword(const std::string& connectionText) {
  // Rebuilt from the parsed entries so that quoted values with ";" inside are masked whole.
  std::vector<TConnEntry> entries = ParseConnectionText(connectionText);
  bool any = false;
  for (const TConnEntry& e : entries)
    if (SameText(e.Key, "Password") || SameText(e.Key, "PWD")) any = true;
  if (!any) return connectionText;
  std::string out;
  for (const TConnEntry& e : entries) {
    if (!out.empty()) out += ';';
    out += e.Key;
    out += '=';
    if (SameText(e.Key, "Password") || SameText(e.Key, "PWD")) {
      out += "***";
    } else if (e.Value.find_first_of(";\"' ") != std::string::npos) {
      out += '"';
      for (char c : e.Value) {
        if (c == '"') out += '"';
        out += c;
      }
      out += '"';
    } else {
      out += e.Value;
    }
  }
  return out;
}

std::string DbOdbcDriver() {
  try {
    TRegistry reg(HKEY_LOCAL_MACHINE);
    if (reg.OpenKeyReadOnly("SOFTWARE\\tarnholt\\services\\Database") && reg.ValueExists("Referential.OdbcDriver")) {
      std::string d = reg.ReadString("Referential.OdbcDriver");
      if (!d.empty()) return d;
    }
  } catch (const std::exception&) {
    // An unreadable hive leaves the default.
  }
  return "FreeTDS";
}

std::string AdaptTopQuery(const std::string& sql) {
  std::size_t i = 0, n = sql.size();
  auto skipSpace = [&] {
    while (i < n && (sql[i] == ' ' || sql[i] == '\t' || sql[i] == '\r' || sql[i] == '\n')) ++i;
  };
  auto word = [&](const char* w) {
    std::size_t len = std::strlen(w);
    if (i + len > n || !SameText(std::string_view(sql).substr(i, len), w)) return false;
    if (i + len < n && (std::isalnum(static_cast<unsigned char>(sql[i + len])) || sql[i + len] == '_')) return false;
    i += len;
    return true;
  };
  skipSpace();
  std::size_t selStart = i;
  if (!word("select")) return sql;
  std::size_t afterSelect = i;
  skipSpace();
  if (i == afterSelect || !word("top")) return sql;
  std::size_t afterTop = i;
  skipSpace();
  std::size_t numStart = i;
  while (i < n && sql[i] >= '0' && sql[i] <= '9') ++i;
  if (i == numStart || i == afterTop) return sql;
  std::string count = sql.substr(numStart, i - numStart);
  std::size_t restStart = i;
  skipSpace();
  if (i == restStart) return sql;
  std::string rest = sql.substr(i);
  while (!rest.empty() && (rest.back() == ';' || rest.back() == ' ' || rest.back() == '\n' || rest.back() == '\r' ||
                           rest.back() == '\t'))
    rest.pop_back();
  return sql.substr(0, selStart) + sql.substr(selStart, afterSelect - selStart) + " " + rest + " limit " + count;
}

static bool StartsWith(const std::string& s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameText(std::string_view(s).substr(0, prefix.size()), prefix);
}

// First bytes of the file; empty when it cannot be read.
static std::string FileHead(const std::string& path, std::size_t n, bool& readable) {
  std::ifstream f(path, std::ios::binary);
  readable = static_cast<bool>(f);
  std::string buf(n, '\0');
  if (!f) return {};
  f.read(buf.data(), static_cast<std::streamsize>(n));
  buf.resize(static_cast<std::size_t>(f.gcount()));
  return buf;
}

static std::unique_ptr<TDbConnection> OpenFile(const std::string& path) {
  if (path.empty()) throw EDbError("No Data Source in the connection text");
  if (DirectoryExists(path)) throw EDbError(Fmt("\"%s\" is a folder, not a database file", path));
  if (!FileExists(path)) throw EDbError(Fmt("Could not find file \"%s\"", path));
  bool readable = false;
  std::string head = FileHead(path, 32, readable);
  if (!readable) throw EDbError(Fmt("Cannot read \"%s\": %s", path, std::strerror(errno)));
  if (head.size() >= 16 && head.compare(0, 16, std::string("SQLite format 3\0", 16)) == 0)
    return std::make_unique<TSqliteConnection>(path, false);
  // Jet 3/4 files name their engine at offset 4; so do the files of its successor.
  if (head.size() >= 19 && (head.compare(4, 15, "Standard Jet DB") == 0 || head.compare(4, 15, "Standard ACE DB") == 0))
    return OpenAccessFile(path);
  throw EDbError(Fmt("\"%s\" is neither a SQLite nor an Access database", path));
}

std::unique_ptr<TDbConnection> OpenConnection(const std::string& connectionText) {
  Trace()->WriteFmt("TDbConnection", ttInformation, "Open(%s)", MaskPassword(connectionText));
  std::vector<TConnEntry> entries = ParseConnectionText(connectionText);
  std::string provider = ConnValue(entries, "Provider");
  std::string password = ConnValue(entries, "Password");
  try {
    if (StartsWith(provider, "Microsoft.Jet.OLEDB") || StartsWith(provider, "Microsoft.ACE.OLEDB"))
      return OpenFile(ConnValue(entries, "Data Source"));
    if (SameText(provider, "SQLOLEDB") || StartsWith(provider, "SQLOLEDB.")) return OpenOdbc(entries);
  } catch (const EDbError& e) {
    throw EDbError(HideSecret(e.what(), password));
  }
  if (provider.empty()) throw EDbError("No provider named in the connection text");
  throw EDbError(Fmt("Provider \"%s\" is not supported", provider));
}

}  // namespace common::db
