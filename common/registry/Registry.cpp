// The registry store over .reg text files.
#include "Registry.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <unordered_map>

namespace common {

static std::string Lower(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

static bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && Lower(a) == Lower(b);
}

// Collapses doubled backslashes and removes leading/trailing ones.
static std::string NormalizePath(const std::string& p) {
  std::string r;
  for (char c : p) {
    if (c == '/') c = '\\';
    if (c == '\\' && (r.empty() || r.back() == '\\')) continue;
    r.push_back(c);
  }
  while (!r.empty() && r.back() == '\\') r.pop_back();
  return r;
}

static void MakeParents(const std::string& file) {
  std::string dir;
  std::size_t slash = file.rfind('/');
  if (slash == std::string::npos || slash == 0) return;
  dir = file.substr(0, slash);
  std::string cur;
  for (std::size_t i = 0; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == '/') {
      if (!cur.empty()) mkdir(cur.c_str(), 0755);
    }
    if (i < dir.size()) cur.push_back(dir[i]);
  }
}

// Converts UTF-16LE (regedit's export encoding) to UTF-8.
static std::string Utf16LeToUtf8(const std::string& bytes, std::size_t start) {
  std::string out;
  for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
    char32_t cp = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < bytes.size()) {
      char32_t lo = static_cast<unsigned char>(bytes[i + 2]) | (static_cast<unsigned char>(bytes[i + 3]) << 8);
      if (lo >= 0xDC00 && lo < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      }
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

// Reads a quoted .reg string starting at s[pos] == '"'. On success pos is past the closing quote.
static bool ParseQuoted(const std::string& s, std::size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  out.clear();
  for (std::size_t i = pos + 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      out.push_back(s[++i]);
    } else if (c == '"') {
      pos = i + 1;
      return true;
    } else {
      out.push_back(c);
    }
  }
  return false;
}

static std::string Quote(const std::string& s) {
  std::string r = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') r.push_back('\\');
    r.push_back(c);
  }
  r.push_back('"');
  return r;
}

TRegKeyData* THive::FindKey(const std::string& path) {
  auto it = FIndex.find(Lower(NormalizePath(path)));
  return it == FIndex.end() ? nullptr : &FKeys[it->second];
}

bool THive::HasKeyOrChildren(const std::string& path) const {
  std::string n = Lower(NormalizePath(path));
  return FIndex.count(n) != 0 || FAncestors.count(n) != 0;
}

void THive::IndexKey(std::size_t at) {
  std::string l = Lower(FKeys[at].Path);
  for (std::size_t slash = l.find('\\'); slash != std::string::npos; slash = l.find('\\', slash + 1))
    FAncestors.insert(l.substr(0, slash));
  FIndex.emplace(std::move(l), at);
}

void THive::Reindex() {
  FIndex.clear();
  FAncestors.clear();
  for (std::size_t i = 0; i < FKeys.size(); ++i) IndexKey(i);
}

const TRegKeyData* THive::FindKey(const std::string& path) const { return const_cast<THive*>(this)->FindKey(path); }

TRegKeyData& THive::CreateKey(const std::string& path) {
  std::string n = NormalizePath(path);
  // Parents exist implicitly; only the key itself gets a section.
  if (TRegKeyData* k = FindKey(n)) return *k;
  FKeys.push_back(TRegKeyData{n, {}});
  IndexKey(FKeys.size() - 1);
  return FKeys.back();
}

bool THive::DeleteKeyTree(const std::string& path) {
  std::string n = Lower(NormalizePath(path));
  std::size_t before = FKeys.size();
  FKeys.erase(std::remove_if(FKeys.begin(), FKeys.end(),
                             [&](const TRegKeyData& k) {
                               std::string l = Lower(k.Path);
                               return l == n ||
                                      (l.size() > n.size() && l.compare(0, n.size(), n) == 0 && l[n.size()] == '\\');
                             }),
              FKeys.end());
  if (FKeys.size() == before) return false;
  Reindex();
  return true;
}

std::vector<std::string> THive::SubKeyNames(const std::string& path) const {
  std::string n = NormalizePath(path);
  std::string ln = Lower(n) + "\\";
  std::vector<std::string> out;
  for (const auto& k : FKeys) {
    std::string l = Lower(k.Path);
    if (l.size() <= ln.size() || l.compare(0, ln.size(), ln) != 0) continue;
    std::string rest = k.Path.substr(ln.size());
    std::string child = rest.substr(0, rest.find('\\'));
    bool seen = false;
    for (const auto& o : out) seen = seen || EqualsNoCase(o, child);
    if (!seen) out.push_back(child);
  }
  return out;
}

void THive::Parse(const std::string& raw) {
  std::string text;
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE)
    text = Utf16LeToUtf8(raw, 2);
  else if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0)
    text = raw.substr(3);
  else
    text = raw;

  // Join continuation lines (a trailing "\" on hex data) and split.
  std::vector<std::pair<int, std::string>> lines;
  {
    std::istringstream in(text);
    std::string line, pending;
    int lineNo = 0, startNo = 0;
    while (std::getline(in, line)) {
      ++lineNo;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (pending.empty()) startNo = lineNo;
      bool hexData = !pending.empty() || (line.find('=') != std::string::npos && line.find("=\"") == std::string::npos);
      if (!line.empty() && line.back() == '\\' && hexData) {
        line.pop_back();
        if (!pending.empty()) {
          std::size_t p = line.find_first_not_of(" \t");
          line = p == std::string::npos ? std::string() : line.substr(p);
        }
        pending += line;
        continue;
      }
      if (!pending.empty()) {
        std::size_t p = line.find_first_not_of(" \t");
        if (p != std::string::npos) pending.append(line, p, std::string::npos);
        line.swap(pending);
        pending.clear();
      }
      lines.emplace_back(startNo, line);
    }
    if (!pending.empty()) lines.emplace_back(startNo, pending);
  }

  TRegKeyData* current = nullptr;
  bool skipSection = false;
  auto warn = [&](int no) { std::fprintf(stderr, "registry: %s:%d: malformed line skipped\n", FFileName.c_str(), no); };
  for (auto& [no, line] : lines) {
    std::size_t b = line.find_first_not_of(" \t");
    if (b == std::string::npos) continue;
    std::string l = line.substr(b);
    while (!l.empty() && (l.back() == ' ' || l.back() == '\t')) l.pop_back();
    if (l[0] == ';' || l == "Windows Registry Editor Version 5.00" || l == "REGEDIT4") continue;
    if (l[0] == '[') {
      if (l.back() != ']' || l.size() < 3) {
        warn(no);
        current = nullptr;
        skipSection = true;
        continue;
      }
      std::string path = l.substr(1, l.size() - 2);
      skipSection = false;
      if (path[0] == '-') {
        DeleteKeyTree(path.substr(1));
        current = nullptr;
        skipSection = true;
        continue;
      }
      current = &CreateKey(path);
      continue;
    }
    if (!current) {
      if (!skipSection) warn(no);
      continue;
    }
    TRegValue v;
    std::size_t pos = 0;
    if (l[0] == '@') {
      pos = 1;
    } else if (!ParseQuoted(l, pos, v.Name)) {
      warn(no);
      continue;
    }
    while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t')) ++pos;
    if (pos >= l.size() || l[pos] != '=') {
      warn(no);
      continue;
    }
    ++pos;
    while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t')) ++pos;
    std::string data = l.substr(pos);
    auto existing = std::find_if(current->Values.begin(), current->Values.end(),
                                 [&](const TRegValue& o) { return EqualsNoCase(o.Name, v.Name); });
    if (data == "-") {
      if (existing != current->Values.end()) current->Values.erase(existing);
      continue;
    }
    if (!data.empty() && data[0] == '"') {
      std::size_t q = 0;
      if (!ParseQuoted(data, q, v.Text) || data.find_first_not_of(" \t", q) != std::string::npos) {
        warn(no);
        continue;
      }
      v.Type = TRegValue::rvString;
    } else if (data.size() > 6 && Lower(data.substr(0, 6)) == "dword:") {
      std::string hex = data.substr(6);
      char* end = nullptr;
      unsigned long n = std::strtoul(hex.c_str(), &end, 16);
      if (hex.empty() || hex.size() > 8 || *end != 0) {
        warn(no);
        continue;
      }
      v.Type = TRegValue::rvDWord;
      v.DWord = static_cast<std::uint32_t>(n);
    } else if (Lower(data).rfind("hex", 0) == 0) {
      v.Type = TRegValue::rvRaw;
      v.Text = data;
    } else {
      warn(no);
      continue;
    }
    if (existing != current->Values.end())
      *existing = v;
    else
      current->Values.push_back(v);
  }
}

void THive::Load() {
  FKeys.clear();
  Reindex();
  std::ifstream in(FFileName, std::ios::binary);
  if (!in) return;
  std::stringstream ss;
  ss << in.rdbuf();
  Parse(ss.str());
}

std::string THive::Serialize() const {
  std::string out = "Windows Registry Editor Version 5.00\r\n\r\n";
  std::vector<const TRegKeyData*> keys;
  for (const auto& k : FKeys) keys.push_back(&k);
  std::stable_sort(keys.begin(), keys.end(),
                   [](const TRegKeyData* a, const TRegKeyData* b) { return Lower(a->Path) < Lower(b->Path); });
  for (const TRegKeyData* k : keys) {
    out += "[" + k->Path + "]\r\n";
    std::vector<const TRegValue*> vals;
    for (const auto& v : k->Values)
      if (v.Name.empty())
        vals.insert(vals.begin(), &v);
      else
        vals.push_back(&v);
    for (const TRegValue* v : vals) {
      out += v->Name.empty() ? std::string("@") : Quote(v->Name);
      out += "=";
      switch (v->Type) {
        case TRegValue::rvString:
          out += Quote(v->Text);
          break;
        case TRegValue::rvDWord: {
          char buf[16];
          std::snprintf(buf, sizeof buf, "dword:%08x", v->DWord);
          out += buf;
          break;
        }
        case TRegValue::rvRaw:
          out += v->Text;
          break;
      }
      out += "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

void THive::Save(bool secret) const {
  MakeParents(FFileName);
  std::string tmp = FFileName + ".tmp." + std::to_string(getpid());
  std::string text = Serialize();
  if (secret) {
    // Created private and only then opened to the group, so the text is never readable by others.
    std::remove(tmp.c_str());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throw ERegistryException("Unable to write registry hive \"" + FFileName + "\"");
    bool ok = true;
    if (geteuid() == 0) {
      const struct group* g = ::getgrnam("tarnholt");
      ok = ::fchown(fd, 0, g ? g->gr_gid : 0) == 0;
    }
    ok = ok && ::fchmod(fd, 0640) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
      ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      ok = n > 0;
      if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
      std::remove(tmp.c_str());
      throw ERegistryException("Unable to write registry hive \"" + FFileName + "\"");
    }
  } else {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) throw ERegistryException("Unable to write registry hive \"" + FFileName + "\"");
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) throw ERegistryException("Unable to write registry hive \"" + FFileName + "\"");
  }
  if (std::rename(tmp.c_str(), FFileName.c_str()) != 0) {
    std::remove(tmp.c_str());
    throw ERegistryException("Unable to replace registry hive \"" + FFileName + "\"");
  }
}

const char* RootKeyName(TRootKey root) {
  switch (root) {
    case HKEY_CLASSES_ROOT:
      return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER:
      return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE:
      return "HKEY_LOCAL_MACHINE";
  }
  return "HKEY_CURRENT_USER";
}

std::string HiveFileName(TRootKey root) {
  if (root == HKEY_LOCAL_MACHINE) {
    const char* e = std::getenv("TARNHOLT_MACHINE_HIVE");
    return e && *e ? e : "/etc/tarnholt/machine.reg";
  }
  const char* e = std::getenv("TARNHOLT_USER_HIVE");
  if (e && *e) return e;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/tarnholt/user.reg";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.config/tarnholt/user.reg";
}

std::string MachineSecretFileName() {
  std::string hive = HiveFileName(HKEY_LOCAL_MACHINE);
  const std::string ext = ".reg";
  if (hive.size() > ext.size() && EqualsNoCase(hive.substr(hive.size() - ext.size()), ext))
    return hive.substr(0, hive.size() - ext.size()) + "-secret.reg";
  return hive + ".secret";
}

bool IsSecretValueName(const std::string& name) { return EqualsNoCase(name, "Referential.SqlPassword"); }

// Serialises writers of one hive across threads and processes.
class HiveLock {
 public:
  explicit HiveLock(const std::string& hiveFile) {
    MakeParents(hiveFile);
    FFd = ::open((hiveFile + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (FFd >= 0) ::flock(FFd, LOCK_EX);
  }
  ~HiveLock() {
    if (FFd >= 0) {
      ::flock(FFd, LOCK_UN);
      ::close(FFd);
    }
  }
  HiveLock(const HiveLock&) = delete;
  HiveLock& operator=(const HiveLock&) = delete;

 private:
  int FFd = -1;
};

static std::string StripLeading(const std::string& key) {
  std::string k = NormalizePath(key);
  return k;
}

std::vector<std::pair<std::string, std::string>> TRegistry::Locations(const std::string& relative) const {
  std::string rel = NormalizePath(relative);
  auto join = [](const std::string& a, const std::string& b) { return b.empty() ? a : a + "\\" + b; };
  switch (RootKey) {
    case HKEY_LOCAL_MACHINE:
      // The secret file first: a value moved there wins over a stale copy left in the hive.
      return {{MachineSecretFileName(), join("HKEY_LOCAL_MACHINE", rel)},
              {HiveFileName(HKEY_LOCAL_MACHINE), join("HKEY_LOCAL_MACHINE", rel)}};
    case HKEY_CURRENT_USER:
      return {{HiveFileName(HKEY_CURRENT_USER), join("HKEY_CURRENT_USER", rel)}};
    case HKEY_CLASSES_ROOT:
      return {{HiveFileName(HKEY_CURRENT_USER), join("HKEY_CURRENT_USER\\Software\\Classes", rel)},
              {HiveFileName(HKEY_LOCAL_MACHINE), join("HKEY_LOCAL_MACHINE\\Software\\Classes", rel)}};
  }
  return {};
}

std::pair<std::string, std::string> TRegistry::WriteLocation(const std::string& relative) const {
  auto locs = Locations(relative);
  if (RootKey == HKEY_LOCAL_MACHINE) return locs[1];  // the secret file takes secret values only
  if (RootKey == HKEY_CLASSES_ROOT && geteuid() == 0) return locs[1];
  return locs[0];
}

// Readers share one parsed copy of each hive file per process, parsed again only when the
// file is another one or has changed: every save renames a new file into place, so its inode
// changes even within one tick of the clock. Object creation reads the registry for every
// object, and a hive holds the registration of every class.
static std::shared_ptr<const THive> ReadHive(const std::string& file) {
  struct TCached {
    struct stat Stat {};
    bool Exists = false;
    std::shared_ptr<const THive> Hive;
  };
  // Never destroyed: a reader in another static's destructor must not find it gone.
  static std::mutex& mutex = *new std::mutex;
  static std::unordered_map<std::string, TCached>& cache = *new std::unordered_map<std::string, TCached>;
  struct stat st {};
  const bool exists = ::stat(file.c_str(), &st) == 0;
  auto same = [&](const TCached& c) {
    if (c.Exists != exists) return false;
    if (!exists) return true;
    return c.Stat.st_dev == st.st_dev && c.Stat.st_ino == st.st_ino && c.Stat.st_size == st.st_size &&
           c.Stat.st_mtim.tv_sec == st.st_mtim.tv_sec && c.Stat.st_mtim.tv_nsec == st.st_mtim.tv_nsec;
  };
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find(file);
    if (it != cache.end() && same(it->second)) return it->second.Hive;
  }
  auto hive = std::make_shared<THive>(file);
  hive->Load();
  std::lock_guard<std::mutex> lock(mutex);
  TCached& c = cache[file];
  c.Stat = st;
  c.Exists = exists;
  c.Hive = hive;
  return hive;
}

bool TRegistry::KeyExists(const std::string& key) const {
  for (auto& [file, path] : Locations(key))
    if (ReadHive(file)->HasKeyOrChildren(path)) return true;
  return false;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  CloseKey();
  std::string rel = StripLeading(key);
  TRegKeyData merged;
  bool found = false;
  auto locs = Locations(rel);
  // Later locations have lower priority: merge values that the earlier ones lack.
  for (auto& [file, path] : locs) {
    std::shared_ptr<const THive> h = ReadHive(file);
    if (!h->HasKeyOrChildren(path)) continue;
    if (!found) merged.Path = path;
    found = true;
    if (const TRegKeyData* k = h->FindKey(path))
      for (const auto& v : k->Values) {
        bool have = false;
        for (const auto& m : merged.Values) have = have || EqualsNoCase(m.Name, v.Name);
        if (!have) merged.Values.push_back(v);
      }
  }
  if (!found) {
    if (!canCreate) return false;
    auto [file, path] = WriteLocation(rel);
    HiveLock lock(file);
    THive h(file);
    h.Load();
    h.CreateKey(path);
    h.Save();
    merged.Path = path;
  }
  FSnapshot = merged;
  FCurrentPath = rel;
  FOpen = true;
  FReadOnly = false;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
  if (!OpenKey(key, false)) return false;
  FReadOnly = true;
  return true;
}

void TRegistry::CloseKey() {
  FOpen = false;
  FSnapshot.reset();
  FCurrentPath.clear();
}

bool TRegistry::DeleteKey(const std::string& key) {
  bool any = false;
  const std::string lockFile = WriteLocation(key).first;
  for (auto& [file, path] : Locations(key)) {
    if (RootKey == HKEY_CLASSES_ROOT && file != lockFile) continue;
    HiveLock lock(lockFile);
    THive h(file);
    h.Load();
    if (h.DeleteKeyTree(path)) {
      h.Save(RootKey == HKEY_LOCAL_MACHINE && file != lockFile);
      any = true;
    }
  }
  return any;
}

std::optional<TRegValue> TRegistry::GetValue(const std::string& name) const {
  if (!FOpen || !FSnapshot) return std::nullopt;
  for (const auto& v : FSnapshot->Values)
    if (EqualsNoCase(v.Name, name)) return v;
  return std::nullopt;
}

bool TRegistry::ValueExists(const std::string& name) const { return GetValue(name).has_value(); }

std::string TRegistry::ReadString(const std::string& name) const {
  auto v = GetValue(name);
  if (!v) return {};
  if (v->Type == TRegValue::rvDWord) return std::to_string(static_cast<std::int32_t>(v->DWord));
  return v->Text;
}

std::int32_t TRegistry::ReadInteger(const std::string& name) const {
  auto v = GetValue(name);
  if (v && v->Type == TRegValue::rvDWord) return static_cast<std::int32_t>(v->DWord);
  if (v && v->Type == TRegValue::rvString && !v->Text.empty()) {
    char* end = nullptr;
    long n = std::strtol(v->Text.c_str(), &end, 10);
    if (*end == 0) return static_cast<std::int32_t>(n);
  }
  throw ERegistryException("Invalid data type for '" + name + "'");
}

bool TRegistry::ReadBool(const std::string& name) const {
  auto v = GetValue(name);
  if (v && v->Type == TRegValue::rvString) {
    std::string l = Lower(v->Text);
    if (l == "true") return true;
    if (l == "false") return false;
  }
  return ReadInteger(name) != 0;
}

void TRegistry::Modify(const std::function<void(TRegKeyData&)>& change) {
  if (!FOpen) throw ERegistryException("No registry key is open");
  if (FReadOnly) throw ERegistryException("Registry key \"" + FCurrentPath + "\" is open read-only");
  TRegKeyData updated;
  if (RootKey == HKEY_LOCAL_MACHINE) {
    updated = ModifyMachine(change);
  } else {
    auto [file, path] = WriteLocation(FCurrentPath);
    HiveLock lock(file);
    THive h(file);
    h.Load();
    TRegKeyData& k = h.CreateKey(path);
    change(k);
    h.Save();
    updated = k;
  }
  // Refresh the view so reads see the write.
  if (FSnapshot)
    for (const auto& v : FSnapshot->Values) {
      bool have = false;
      for (const auto& u : updated.Values) have = have || EqualsNoCase(u.Name, v.Name);
      if (!have) updated.Values.push_back(v);
    }
  FSnapshot = updated;
}

TRegKeyData TRegistry::ModifyMachine(const std::function<void(TRegKeyData&)>& change) {
  auto locs = Locations(FCurrentPath);
  const std::string& secretFile = locs[0].first;
  auto [file, path] = locs[1];
  HiveLock lock(file);  // one lock for both files
  THive h(file), secret(secretFile);
  h.Load();
  secret.Load();
  TRegKeyData& k = h.CreateKey(path);
  const TRegKeyData* oldSecret = secret.FindKey(path);
  // The change works on the key as readers see it: secret values over the hive's.
  TRegKeyData merged{k.Path, {}};
  if (oldSecret) merged.Values = oldSecret->Values;
  for (const TRegValue& v : k.Values) {
    bool have = false;
    for (const TRegValue& m : merged.Values) have = have || EqualsNoCase(m.Name, v.Name);
    if (!have) merged.Values.push_back(v);
  }
  change(merged);
  // Split again; a password left in the hive by an older version moves to the secret file here.
  std::vector<TRegValue> plain, hidden;
  for (const TRegValue& v : merged.Values) (IsSecretValueName(v.Name) ? hidden : plain).push_back(v);
  k.Values = plain;
  if (!hidden.empty() || oldSecret) {
    secret.CreateKey(path).Values = hidden;
    secret.Save(/*secret=*/true);
  }
  h.Save();
  return merged;
}

static void SetValue(TRegKeyData& k, const TRegValue& v) {
  for (auto& o : k.Values)
    if (EqualsNoCase(o.Name, v.Name)) {
      std::string keepName = o.Name;
      o = v;
      o.Name = keepName;
      return;
    }
  k.Values.push_back(v);
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  TRegValue v;
  v.Name = name;
  v.Type = TRegValue::rvString;
  v.Text = value;
  Modify([&](TRegKeyData& k) { SetValue(k, v); });
}

void TRegistry::WriteInteger(const std::string& name, std::int32_t value) {
  TRegValue v;
  v.Name = name;
  v.Type = TRegValue::rvDWord;
  v.DWord = static_cast<std::uint32_t>(value);
  Modify([&](TRegKeyData& k) { SetValue(k, v); });
}

bool TRegistry::DeleteValue(const std::string& name) {
  bool removed = false;
  Modify([&](TRegKeyData& k) {
    auto it =
        std::find_if(k.Values.begin(), k.Values.end(), [&](const TRegValue& o) { return EqualsNoCase(o.Name, name); });
    if (it != k.Values.end()) {
      k.Values.erase(it);
      removed = true;
    }
  });
  if (removed && FSnapshot) {
    auto& vals = FSnapshot->Values;
    vals.erase(std::remove_if(vals.begin(), vals.end(), [&](const TRegValue& o) { return EqualsNoCase(o.Name, name); }),
               vals.end());
  }
  return removed;
}

std::vector<std::string> TRegistry::GetValueNames() const {
  std::vector<std::string> out;
  if (FSnapshot)
    for (const auto& v : FSnapshot->Values) out.push_back(v.Name);
  return out;
}

std::vector<std::string> TRegistry::GetKeyNames() const {
  std::vector<std::string> out;
  if (!FOpen) return out;
  for (auto& [file, path] : Locations(FCurrentPath)) {
    for (const auto& n : ReadHive(file)->SubKeyNames(path)) {
      bool seen = false;
      for (const auto& o : out) seen = seen || EqualsNoCase(o, n);
      if (!seen) out.push_back(n);
    }
  }
  return out;
}

}  // namespace common
