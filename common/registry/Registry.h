// The registry store: hives kept as text files in the .reg export format.
//
// HKEY_LOCAL_MACHINE lives in the machine hive (/etc/tarnholt/machine.reg, or the file named
// by TARNHOLT_MACHINE_HIVE), HKEY_CURRENT_USER in the user hive ($XDG_CONFIG_HOME/tarnholt/
// user.reg, or TARNHOLT_USER_HIVE). HKEY_CLASSES_ROOT reads HKCU\Software\Classes over
// HKLM\Software\Classes and writes the user's classes unless the process runs as root.
// Key and value names compare ignoring case. Writes re-read the file under a lock, apply the
// change and replace the file atomically, so concurrent writers lose nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace common {

enum TRootKey : std::uint8_t { HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE };

class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TRegValue {
  enum Kind : std::uint8_t { rvString, rvDWord, rvRaw };
  std::string Name;  // empty for the key's default value ("@")
  Kind Type = rvString;
  std::string Text;  // rvString: the text (UTF-8); rvRaw: everything after "=" as written
  std::uint32_t DWord = 0;
};

struct TRegKeyData {
  std::string Path;  // full path, root name included, as first written
  std::vector<TRegValue> Values;
};

// One hive file. Load/Save are exposed for tests and tools; most code uses TRegistry.
class THive {
 public:
  explicit THive(std::string fileName) : FFileName(std::move(fileName)) {}
  // Reads the file; a missing file is an empty hive. Malformed lines are skipped with a
  // warning on standard error.
  void Load();
  // Writes the whole hive (temporary file, then rename). A secret hive is written with mode
  // 0640, and when run as root owned by root and the group tarnholt (root's group without it).
  void Save(bool secret = false) const;
  // Parses .reg text into this hive (merging into what is there).
  void Parse(const std::string& bytes);
  std::string Serialize() const;

  TRegKeyData* FindKey(const std::string& path);
  const TRegKeyData* FindKey(const std::string& path) const;
  // True when the key has a section or lies above one.
  bool HasKeyOrChildren(const std::string& path) const;
  TRegKeyData& CreateKey(const std::string& path);
  // Removes the key and all keys below it; true when something was removed.
  bool DeleteKeyTree(const std::string& path);
  std::vector<std::string> SubKeyNames(const std::string& path) const;
  const std::string& FileName() const { return FFileName; }
  const std::vector<TRegKeyData>& Keys() const { return FKeys; }

 private:
  void Reindex();
  void IndexKey(std::size_t at);

  std::string FFileName;
  std::vector<TRegKeyData> FKeys;
  // Lower-case paths: of every key (to its position), and of every key's ancestors.
  std::unordered_map<std::string, std::size_t> FIndex;
  std::unordered_set<std::string> FAncestors;
};

// File of the hive that holds a root: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER.
std::string HiveFileName(TRootKey root);
// The machine hive's second file, beside it and readable by root and one group only:
// "machine.reg" gives "machine-secret.reg". HKEY_LOCAL_MACHINE reads it merged over the hive,
// and values with a secret name are written there and never to the hive.
std::string MachineSecretFileName();
// Value names whose data must not lie in a world-readable file (Referential.SqlPassword).
bool IsSecretValueName(const std::string& name);
// Root names as written in .reg files.
const char* RootKeyName(TRootKey root);

// Access to one open key at a time, as the engine and the programs use it.
class TRegistry {
 public:
  explicit TRegistry(TRootKey root = HKEY_CURRENT_USER) : RootKey(root) {}
  TRootKey RootKey;

  // Opens key (relative to RootKey; a leading "\" is ignored). With canCreate the key is
  // created when missing; otherwise a missing key fails (false).
  bool OpenKey(const std::string& key, bool canCreate);
  bool OpenKeyReadOnly(const std::string& key);
  void CloseKey();
  bool KeyExists(const std::string& key) const;
  bool DeleteKey(const std::string& key);
  const std::string& CurrentPath() const { return FCurrentPath; }

  bool ValueExists(const std::string& name) const;
  std::optional<TRegValue> GetValue(const std::string& name) const;
  // Missing value: empty text. A dword reads as its decimal text.
  std::string ReadString(const std::string& name) const;
  // Missing or non-numeric value: ERegistryException "Invalid data type for '%s'".
  std::int32_t ReadInteger(const std::string& name) const;
  // A dword or a numeric text, true when not 0; the texts "true"/"false" (any case) too.
  bool ReadBool(const std::string& name) const;
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, std::int32_t value);
  void WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }
  bool DeleteValue(const std::string& name);
  std::vector<std::string> GetValueNames() const;
  std::vector<std::string> GetKeyNames() const;

 private:
  // The hive files and full paths that make up `relative` under RootKey, in read priority.
  std::vector<std::pair<std::string, std::string>> Locations(const std::string& relative) const;
  std::pair<std::string, std::string> WriteLocation(const std::string& relative) const;
  void Modify(const std::function<void(TRegKeyData&)>& change);
  // Modify for HKEY_LOCAL_MACHINE: the change sees the key's values of both machine files;
  // afterwards secret values go to the secret file, the others to the hive.
  TRegKeyData ModifyMachine(const std::function<void(TRegKeyData&)>& change);

  std::string FCurrentPath;  // relative to RootKey, without leading "\"
  bool FOpen = false;
  bool FReadOnly = true;
  std::optional<TRegKeyData> FSnapshot;  // merged view of the open key
};

}  // namespace common
