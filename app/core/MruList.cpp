#include "MruList.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include "registry/Registry.h"

namespace verimek {

namespace {

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::runtime_error OpenKeyFailed(const std::string& key) {
  return std::runtime_error("Registry open key failed (" + key + ")");
}

// The store raises when a hive cannot be read or written; either way the key did not open.
bool OpenKey(common::TRegistry& reg, const std::string& key, bool canCreate) {
  try {
    return canCreate ? reg.OpenKey(key, true) : reg.OpenKeyReadOnly(key);
  } catch (const common::ERegistryException&) {
    return false;
  }
}

}  // namespace

void TMruList::Add(const std::string& name) {
  auto it = std::find_if(FItems.begin(), FItems.end(), [&](const std::string& s) { return SameText(s, name); });
  if (it != FItems.end()) {
    std::iter_swap(FItems.begin(), it);
    return;
  }
  FItems.insert(FItems.begin(), name);
  if (FItems.size() > kMaxEntries) FItems.resize(kMaxEntries);
}

void TMruList::Load(const std::string& key) {
  FItems.clear();
  FKey = key;
  FLoaded = true;
  common::TRegistry reg(common::HKEY_CURRENT_USER);
  if (!reg.KeyExists(key)) return;
  if (!OpenKey(reg, key, false)) throw OpenKeyFailed(key);
  if (!reg.ValueExists("Mru_Count")) return;
  std::int64_t n = 0;
  try {
    n = reg.ReadInteger("Mru_Count");
  } catch (const common::ERegistryException&) {
    return;  // a count that is not a number: no list, as if it had never been stored
  }
  // A damaged count must not make the start-up walk billions of names that cannot be there.
  n = std::min<std::int64_t>(n, static_cast<std::int64_t>(reg.GetValueNames().size()));
  for (std::int64_t i = 0; i < n && FItems.size() < kMaxEntries; ++i) {
    auto v = reg.GetValue("Mru_" + std::to_string(i));
    if (!v || v->Type != common::TRegValue::rvString || v->Text.empty()) continue;
    std::error_code ec;
    if (std::filesystem::exists(v->Text, ec)) FItems.push_back(v->Text);
  }
}

void TMruList::Save() const {
  if (!FLoaded) return;
  common::TRegistry reg(common::HKEY_CURRENT_USER);
  if (!OpenKey(reg, FKey, true)) throw OpenKeyFailed(FKey);
  reg.WriteInteger("Mru_Count", static_cast<std::int32_t>(FItems.size()));
  for (std::size_t i = 0; i < FItems.size(); ++i) reg.WriteString("Mru_" + std::to_string(i), FItems[i]);
}

}  // namespace verimek
