// Version information of the program's files and the module list of the about box.
//
// Every deliverable carries an ELF note section ".note.verimek.version" (owner "Verimek",
// type 1) whose descriptor holds the numeric file version as four 16-bit parts, most
// significant first, then "Key=Value" texts ending at an empty one (FileVersion, Comments,
// ProductName, FileDescription). It is read from the file as it lies on disk; nothing is loaded.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "evWorkers.h"

namespace verimek {

struct TFileVersionInfo {
  std::array<std::uint16_t, 4> Numeric{};
  std::map<std::string, std::string> Strings;
  // A missing string reads as empty.
  std::string String(const std::string& key) const;
  // "2.1.0.37"
  std::string NumericText() const;
};

// The version note of a file; nullopt when the file has none (or is no ELF file). A file that
// cannot be read raises "GetFileVersionInfo for \"%s\" failed (%s)", a damaged note
// "VerQueryValue for \"%s\" failed (%s)".
std::optional<TFileVersionInfo> ReadFileVersionInfo(const std::string& fileName);
// The numeric file version; empty when the file has no version information.
std::string NumericFileVersion(const std::string& fileName);

// A module of the process, by default the program itself.
class TModuleInfo {
 public:
  explicit TModuleInfo(std::string fileName = ProgramFileName());
  const std::string& FullName() const { return FFullName; }
  std::string Folder() const;
  std::string FileName() const;
  // A string of the version information; empty when missing.
  std::string String(const std::string& key) const;
  // "FileVersion"
  std::string Version() const { return String("FileVersion"); }

  static std::string ProgramFileName();

 private:
  std::string FFullName;
  std::optional<TFileVersionInfo> FInfo;
};

// The components the program creates and the library it loads, checked at start-up and listed
// by the about box.
struct TProgIds {
  const char* File;
  const char* ProgId;
};
extern const TProgIds kComponents[2];
extern const char* const kSqliteLibrary;

struct TModuleRow {
  std::string Name, Path, Version;
};

// The component's file through its program identifier, its class id and InprocServer32; on
// failure Path is empty and Version names the failure.
TModuleRow ComponentRow(const TProgIds& component);
// The library loaded (without keeping it), with the folder it was found in.
TModuleRow LibraryRow(const std::string& library);
// "Referential": the engine document's referential file and version, or the failure.
TModuleRow ReferentialRow(const std::function<edicom::ComPtr<ruvala::IEdiDocument>()>& createDocument);
// The rows of the about box in their order.
std::vector<TModuleRow> ModuleRows(const std::function<edicom::ComPtr<ruvala::IEdiDocument>()>& createDocument);

// The program's numeric file version, or "File not found".
std::string ProgramVersionText(const std::string& programFile = TModuleInfo::ProgramFileName());
// The program's "Comments", or "File not found".
std::string ProgramCommentsText(const std::string& programFile = TModuleInfo::ProgramFileName());

}  // namespace verimek
