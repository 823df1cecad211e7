// The trace file sinks: rotating text files and rotating CSV files, named after the module
// that writes them, cleaned up beyond a kept number and appended under a lock shared by every
// process that writes the same file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "SysTrace.h"

namespace common {

enum TRefreshRate : std::uint8_t { rrUnknown = 0, rrHourly = 1, rrDaily = 2, rrWeekly = 3 };
enum TNameFormat : std::uint8_t { nfNameDate = 0, nfDateName = 1 };

// "Hourly", "Daily", "Weekly" ignoring case; anything else is rrUnknown.
TRefreshRate RefreshRateFromName(std::string_view name);
// Only "date_name" (ignoring case) selects nfDateName.
TNameFormat NameFormatFromName(std::string_view name);
// Base of the file names: the module file name cut at ".so" (the shared-library suffix, also
// before a version: "libruvala.so.1" gives "libruvala"); other names stay whole.
std::string TraceFileBaseName(const std::string& moduleName);
// Module name without its extension, as the clean-up matches it.
std::string TraceCleanUpBaseName(const std::string& moduleName);

class TTextFile : public TDbMon {
 public:
  // Throws when no output folder can be found (neither the temporary folder nor /tmp).
  TTextFile();
  ~TTextFile() override;

  const std::string& Extension() const { return FExtension; }
  void SetExtension(const std::string& v) { FExtension = v; }
  int Keep() const { return FKeep; }
  void SetKeep(int v) { FKeep = v; }
  const std::string& OutputDir() const { return FOutputDir; }
  // Stored with a trailing "/".
  void SetOutputDir(const std::string& dir);
  TRefreshRate RefreshRate() const { return FRefreshRate; }
  void SetRefreshRate(TRefreshRate v) { FRefreshRate = v; }
  bool CleanUp() const { return FCleanUp; }
  void SetCleanUp(bool v) { FCleanUp = v; }
  bool ForceDir() const { return FForceDir; }
  void SetForceDir(bool v) { FForceDir = v; }
  // The file name (no folder) of the module that contains the trace code, read once.
  const std::string& ModuleName();
  void SetModuleName(const std::string& v) { FModuleName = v; }
  const std::string& NewFileName() const { return FNewFileName; }
  const std::string& OldFileName() const { return FOldFileName; }
  int MutexATO() const { return FMutexATO; }
  void SetMutexATO(int v) { FMutexATO = v; }
  TNameFormat NameFormat() const { return FNameFormat; }
  void SetNameFormat(TNameFormat v) { FNameFormat = v; }
  const TMutex* MutexWrite() const { return FMutexWrite.get(); }

  void Initialize(const pugi::xml_node& traceNode) override;
  void Initialize(const INIReader& ini) override;
  void Initialize(const std::string& traceKey, TRootKey root) override;
  void Write(std::string_view sender, std::string_view msg, TTraceType type) override;
  TTraceTypes DefaultTraceTypes(TConfigSource source) const override;

  // The file for a record written now. rrUnknown rotates daily.
  std::string GetFileName();
  // Deletes the oldest of this module's trace files beyond Keep.
  void CleanFiles();
  // The temporary folder with a trailing "/", else /tmp/ (warning event); throws when neither
  // exists (error event).
  static std::string GetDefaultOutputDir();

 protected:
  virtual void ReadFileInfo(const pugi::xml_node& fileInfo);
  virtual void ReadFileInfo(const INIReader& ini);
  virtual void ReadFileInfo(const std::string& traceKey, TRootKey root);
  // Folder creation, a new write mutex and, when asked, the clean-up.
  void ConfigurationEnd(bool cleanUp);
  explicit TTextFile(std::string name);
  // Steps after the filter: file name, mutex, line, append. Failures become events.
  void WriteLine(std::string_view sender, std::string_view msg);
  static std::string MutexNameFor(const std::string& fileName);

  std::string FExtension = "log";
  int FKeep = 28;
  std::string FOutputDir;
  TRefreshRate FRefreshRate = rrDaily;
  bool FCleanUp = true;
  bool FForceDir = false;
  std::string FModuleName;
  std::string FNewFileName;
  std::string FOldFileName;
  std::shared_ptr<TMutex> FMutexWrite;  // shared: a writer keeps the old one over a rollover
  int FMutexATO = 5;
  TNameFormat FNameFormat = nfNameDate;
};

class TCsvFile : public TTextFile {
 public:
  TCsvFile();

  const std::string& Header() const { return FHeader; }
  void SetHeader(const std::string& v) { FHeader = v; }
  bool IncludeHeader() const { return FIncludeHeader; }
  void SetIncludeHeader(bool v) { FIncludeHeader = v; }
  const std::vector<std::string>& Columns() const { return FColumns; }
  // Sets the column names and rebuilds the header from the current layout.
  void SetColumns(std::vector<std::string> columns);

  // From XML the layout and file settings are read only when the sink is switched on; from an
  // INI file or the registry the text-file configuration applies as is.
  void Initialize(const pugi::xml_node& traceNode) override;
  using TTextFile::Initialize;
  // Only ttReporting records; the sender is not written.
  void Write(std::string_view sender, std::string_view msg, TTraceType type) override;
  TTraceTypes DefaultTraceTypes(TConfigSource source) const override;

 protected:
  void ReadLayout(const pugi::xml_node& layout) override;
  void ReadLayout(const INIReader& ini) override;
  void ReadLayout(const std::string& traceKey, TRootKey root) override;
  void BuildHeader();

  std::string FHeader;
  bool FIncludeHeader = true;
  std::vector<std::string> FColumns;
};

}  // namespace common
