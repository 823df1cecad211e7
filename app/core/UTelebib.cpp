#include "UTelebib.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "SysTrace.h"
#include "db/DbAccess.h"

namespace verimek {

namespace {

const char* const kConnectionTemplate =
    "Provider=Microsoft.Jet.OLEDB.4.0;Password=\"\";User ID=Admin;Data Source=%filename%;Mode=Share Deny None";

// A name holding ";" or a quote, or with blanks at its ends, would break the connection text
// apart: such a name goes between double quotes with inner ones doubled.
std::string ConnectionValue(const std::string& name) {
  const bool plain =
      name.find_first_of(";\"'") == std::string::npos && !name.empty() && name.front() != ' ' && name.back() != ' ';
  if (plain) return name;
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

}  // namespace

TTelebibDataModule::TTelebibDataModule() = default;
TTelebibDataModule::~TTelebibDataModule() = default;

std::string TTelebibDataModule::ConnectionText(const std::string& AFilename) {
  static const std::string kKey = "%filename%";
  const std::string value = ConnectionValue(AFilename);
  std::string text = kConnectionTemplate;
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    bool match = i + kKey.size() <= text.size();
    for (std::size_t k = 0; match && k < kKey.size(); ++k)
      match = std::tolower(static_cast<unsigned char>(text[i + k])) == kKey[k];
    if (match) {
      out += value;
      i += kKey.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

void TTelebibDataModule::Connect(const std::string& AFilename) {
  common::Trace()->WriteFmt("TTelebibDataModule", common::ttInformation, "Connect(%s)", AFilename);
  Disconnect();
  TbConnection = common::db::OpenConnection(ConnectionText(AFilename));
  try {
    LoadLabels();
  } catch (...) {
    Disconnect();
    throw;
  }
}

void TTelebibDataModule::Disconnect() {
  if (TbConnection) TbConnection->Close();
  TbConnection.reset();
  FX912.clear();
  FX916.clear();
}

bool TTelebibDataModule::Connected() const { return TbConnection && TbConnection->Connected(); }

void TTelebibDataModule::SetLanguage(int ALanguage) {
  if (ALanguage == FLanguage) return;
  FLanguage = ALanguage;
  if (Connected()) LoadLabels();
}

void TTelebibDataModule::LoadLabels() {
  FX912.clear();
  FX916.clear();
  const std::string label = "lbc-" + std::to_string(FLanguage);
  auto table = TbConnection->OpenTable("A_DE_QUALIFIANT");
  // Names every missing column now, not at the first look-up.
  for (const std::string& field : {std::string("DE"), std::string("Version"), std::string("Qualifiant"), label})
    if (table->FieldIndex(field) < 0) throw common::db::EDbError("Field \"" + field + "\" not found");
  for (; !table->Eof(); table->Next()) {
    if (table->AsInteger("Version") != 1) continue;
    const std::string de = table->AsString("DE");
    auto* target = de == "X912" ? &FX912 : de == "X916" ? &FX916 : nullptr;
    // The first row of a code wins, as a search from the start of the table finds it.
    if (target) target->emplace(table->AsString("Qualifiant"), table->AsString(label));
  }
}

std::string TTelebibDataModule::X912ToStr(int X912) const {
  char code[16];
  std::snprintf(code, sizeof code, "%.4d", X912);
  auto it = FX912.find(code);
  if (it == FX912.end()) throw std::runtime_error("X912ToStr(" + std::to_string(X912) + ") failed (not found)");
  return it->second;
}

std::string TTelebibDataModule::X916ToStr(const std::string& X916) const {
  auto it = FX916.find(X916);
  if (it == FX916.end()) throw std::runtime_error("X916ToStr(" + X916 + ") failed (not found)");
  return it->second;
}

}  // namespace verimek
