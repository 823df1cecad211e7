// The main window's recent-files list: up to ten names, the most used near the top, kept in
// the per-user registry as "Mru_Count" and "Mru_0", "Mru_1", ...
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace verimek {

class TMruList {
 public:
  static constexpr std::size_t kMaxEntries = 10;

  // A name already listed (ignoring case) at position k swaps places with position 0; a new
  // name goes on top and pushes the eleventh out.
  void Add(const std::string& name);
  const std::vector<std::string>& Items() const { return FItems; }
  void Clear() { FItems.clear(); }

  // Empties the list and reads it from the user hive key; entries whose file is gone and
  // values that are not texts are skipped. "Registry open key failed (%s)" when the key exists
  // but cannot be opened.
  void Load(const std::string& key);
  // Writes the list back to the key it was loaded from; nothing when it was never loaded.
  void Save() const;
  bool Loaded() const { return FLoaded; }
  const std::string& Key() const { return FKey; }

 private:
  std::vector<std::string> FItems;
  std::string FKey;
  bool FLoaded = false;
};

// The key of the program's per-user values.
inline constexpr const char* kVerimekUserKey = "Software\\Solberk\\Verimek";

}  // namespace verimek
