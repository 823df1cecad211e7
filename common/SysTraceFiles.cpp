// Rotating text and CSV trace files.
#include "SysTraceFiles.h"

#include <INIReader.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <pugixml.hpp>
#include <stdexcept>

#include "TextCodec.h"

namespace common {

namespace {

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

bool SameText(std::string_view a, std::string_view b) { return Lower(a) == Lower(b); }

// The trace unit's critical section: file names, mutex switches and clean-ups of all file
// sinks of the process.
std::mutex gFileCs;

// Lets dladdr find the module this code is linked into.
const char kModuleAnchor = 0;

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(start, end - start);
    while (!item.empty() && std::isspace(static_cast<unsigned char>(item.back()))) item.pop_back();
    while (!item.empty() && std::isspace(static_cast<unsigned char>(item.front()))) item.erase(item.begin());
    if (!item.empty()) out.push_back(item);
    start = end + 1;
  }
  return out;
}

std::size_t Utf8Length(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
  for (std::size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
    s.replace(p, from.size(), to);
}

// A record stays one line: every run of CR and LF inside it becomes one space.
std::string OneLine(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' || s[i] == '\n') {
      while (i + 1 < s.size() && (s[i + 1] == '\r' || s[i + 1] == '\n')) ++i;
      out.push_back(' ');
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// One write(2) on a descriptor opened for appending: the line lands whole at the end.
void AppendToFile(const std::string& fileName, const std::string& bytes) {
  int fd = open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) throw std::runtime_error("Cannot open file \"" + fileName + "\". " + SysErrorText(errno));
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = errno;
      close(fd);
      throw std::runtime_error("Cannot write file \"" + fileName + "\". " + SysErrorText(err));
    }
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0) throw std::runtime_error("Cannot close file \"" + fileName + "\". " + SysErrorText(errno));
}

}  // namespace

TRefreshRate RefreshRateFromName(std::string_view name) {
  if (SameText(name, "Hourly")) return rrHourly;
  if (SameText(name, "Daily")) return rrDaily;
  if (SameText(name, "Weekly")) return rrWeekly;
  return rrUnknown;
}

TNameFormat NameFormatFromName(std::string_view name) { return SameText(name, "date_name") ? nfDateName : nfNameDate; }

static std::size_t SharedLibrarySuffix(const std::string& moduleName) {
  std::string l = Lower(moduleName);
  for (std::size_t p = l.find(".so"); p != std::string::npos; p = l.find(".so", p + 1))
    if (p + 3 == l.size() || l[p + 3] == '.') return p;
  return std::string::npos;
}

std::string TraceFileBaseName(const std::string& moduleName) {
  std::size_t p = SharedLibrarySuffix(moduleName);
  return p == std::string::npos ? moduleName : moduleName.substr(0, p);
}

std::string TraceCleanUpBaseName(const std::string& moduleName) {
  std::size_t p = SharedLibrarySuffix(moduleName);
  if (p != std::string::npos) return moduleName.substr(0, p);
  std::size_t dot = moduleName.rfind('.');
  return dot == std::string::npos || dot == 0 ? moduleName : moduleName.substr(0, dot);
}

// ---------------------------------------------------------------------------------------------
// TTextFile

TTextFile::TTextFile() : TTextFile("TextFile") {}

TTextFile::TTextFile(std::string name) : TDbMon(std::move(name)), FOutputDir(GetDefaultOutputDir()) {
  try {
    FModuleName = ExtractFileName(ModuleFileName(&kModuleAnchor));
    if (FModuleName.empty()) throw std::runtime_error("the module file name is not known");
  } catch (const std::exception& e) {
    FModuleName = "Unknown";
    TraceSystemEvent(etError, Fmt("TTextFile.GetModuleName failed (%s). Result set to (%s)", e.what(), FModuleName));
  }
}

TTextFile::~TTextFile() = default;

TTraceTypes TTextFile::DefaultTraceTypes(TConfigSource source) const {
  return source == csIni || source == csRegistry ? kReportingToDebug : kInformationToDebug;
}

const std::string& TTextFile::ModuleName() { return FModuleName; }

void TTextFile::SetOutputDir(const std::string& dir) {
  FOutputDir = dir;
  if (FOutputDir.empty() || FOutputDir.back() != '/') FOutputDir.push_back('/');
}

std::string TTextFile::GetDefaultOutputDir() {
  std::string temp = TempFolder();
  struct stat st {};
  int err = 0;
  if (stat(temp.c_str(), &st) != 0)
    err = errno;
  else if (!S_ISDIR(st.st_mode))
    err = ENOTDIR;
  else if (temp.size() >= PATH_MAX)
    err = ENAMETOOLONG;
  if (err == 0) return temp;
  TraceSystemEvent(etWarning, Fmt("TTextFile.GetDefaultOutputDir GetTemporaryPath failed (%s)",
                                  Fmt("GetTemporaryPath failed (%s)", SysErrorText(err))));
  // The fixed system folder for temporary files.
  std::string fallback = "/tmp/";
  if (stat(fallback.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return fallback;
  std::string inner = Fmt("GetWindowsPath failed (%s)", SysErrorText(errno ? errno : ENOENT));
  TraceSystemEvent(etError, Fmt("TTextFile.GetDefaultOutputDir GetWindowsPath failed (%s)", inner));
  throw std::runtime_error(inner);
}

std::string TTextFile::GetFileName() {
  std::string ext = FExtension;
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);  // stored with or without the dot
  try {
    TLocalTime t = TraceNow();
    std::string module = TraceFileBaseName(FModuleName);
    char date[16];
    std::snprintf(date, sizeof date, "%04d%02d%02d", t.Year % 10000, t.Month % 100, t.Day % 100);
    std::string hour = std::to_string(t.Hour);
    std::string week = std::to_string(IsoWeekNumber(t.Year, t.Month, t.Day));
    bool nameFirst = FNameFormat == nfNameDate;
    std::string name;
    switch (FRefreshRate) {
      case rrHourly:
        name = nameFirst ? module + "_" + date + "_" + hour : std::string(date) + "_" + hour + "_" + module;
        break;
      case rrWeekly:
        name = nameFirst ? module + "_" + week : week + "_" + module;
        break;
      case rrUnknown:  // an unset or unreadable rotation rotates daily
      case rrDaily:
        name = nameFirst ? module + "_" + date : std::string(date) + "_" + module;
        break;
    }
    return FOutputDir + name + "." + ext;
  } catch (const std::exception& e) {
    std::string name = FOutputDir + "Trace." + ext;
    TraceSystemEvent(etError, Fmt("TTextFile.GetFileName failed (%s). Filename set to (%s)", e.what(), name));
    return name;
  }
}

std::string TTextFile::MutexNameFor(const std::string& fileName) {
  std::string n = Lower(fileName);
  for (char& c : n) {
    if (c == '\\')
      c = '/';
    else if (c == ' ')
      c = '_';
  }
  return n;
}

void TTextFile::CleanFiles() {
  try {
    std::string base = Lower(TraceCleanUpBaseName(FModuleName));
    std::string ext = Lower(FExtension);
    if (ext.empty() || ext[0] != '.') ext.insert(ext.begin(), '.');
    DIR* dir = opendir(FOutputDir.c_str());
    if (!dir) throw std::runtime_error(SysErrorText(errno));
    struct Entry {
      long long Step;  // last write in steps of 1/10000 day
      std::string Name;
    };
    std::vector<Entry> files;
    while (dirent* de = readdir(dir)) {
      std::string name = de->d_name;
      std::string l = Lower(name);
      struct stat st {};
      if (stat((FOutputDir + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      std::size_t dot = l.rfind('.');
      if (dot == std::string::npos || l.compare(dot, std::string::npos, ext) != 0) continue;
      // Our own names begin with the module name, then "_" or ".": date-first names and other
      // programs' files that merely contain the name are left alone.
      if (l.size() <= base.size() || l.compare(0, base.size(), base) != 0) continue;
      if (l[base.size()] != '_' && l[base.size()] != '.') continue;
      double seconds = static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
      files.push_back({static_cast<long long>(std::floor(seconds / 8.64)), name});
    }
    closedir(dir);
    std::sort(files.begin(), files.end(), [](const Entry& a, const Entry& b) { return a.Name < b.Name; });
    std::stable_sort(files.begin(), files.end(), [](const Entry& a, const Entry& b) { return a.Step < b.Step; });
    std::size_t keep = FKeep < 0 ? 0 : static_cast<std::size_t>(FKeep);
    for (std::size_t i = 0; files.size() - i > keep; ++i) {
      std::string path = FOutputDir + files[i].Name;
      if (unlink(path.c_str()) != 0)
        TraceSystemEvent(etWarning,
                         Fmt("TTextFile.CleanFiles DeleteFile (%s) failed (%s).", path, SysErrorText(errno)));
    }
  } catch (const std::exception& e) {
    TraceSystemEvent(etWarning, Fmt("TTextFile.CleanFiles failed (%s).", e.what()));
  }
}

void TTextFile::ReadFileInfo(const pugi::xml_node& fileInfo) {
  pugi::xml_node dir = fileInfo.child("OutputDir");
  std::string out = GetNodeValue(dir, "");
  SetOutputDir(out.empty() ? GetDefaultOutputDir() : out);
  FForceDir = GetAttrBool(dir, "ForceDir", false);
  FExtension = GetNodeValue(fileInfo.child("Extension"), "log");
  FRefreshRate = RefreshRateFromName(GetNodeValue(fileInfo.child("RefreshRate"), "Daily"));
  pugi::xml_node cleanUp = fileInfo.child("CleanUp");
  FCleanUp = GetNodeBool(cleanUp, true);
  FKeep = GetAttrInt(cleanUp, "Keep", 28);
  FMutexATO = GetNodeInt(fileInfo.child("MutexAcquireTimeout"), 5);
  FNameFormat = NameFormatFromName(GetNodeValue(fileInfo.child("NameFormat"), "name_date"));
}

void TTextFile::ReadFileInfo(const INIReader& ini) {
  std::string out = ConfigText(ini.Get(FName, "OutputDir", ""));
  SetOutputDir(out.empty() ? GetDefaultOutputDir() : out);
  FForceDir = ini.GetBoolean(FName, "ForceDir", false);
  FExtension = ConfigText(ini.Get(FName, "Extension", "log"));
  FRefreshRate = RefreshRateFromName(ini.Get(FName, "RefreshRate", "Daily"));
  FCleanUp = ini.GetBoolean(FName, "CleanUpActive", true);
  FKeep = static_cast<int>(ini.GetInteger(FName, "CleanUpKeep", 28));
  FMutexATO = static_cast<int>(ini.GetInteger(FName, "MutexAcquireTimeout", 5));
  FNameFormat = NameFormatFromName(ini.Get(FName, "NameFormat", "name_date"));
}

void TTextFile::ReadFileInfo(const std::string& traceKey, TRootKey root) {
  TRegistry reg(root);
  if (!reg.OpenKeyReadOnly(SubKey(traceKey, "FileInfo"))) return;
  if (reg.ValueExists("OutputDir")) {
    std::string out = reg.ReadString("OutputDir");
    SetOutputDir(out.empty() ? GetDefaultOutputDir() : out);
  }
  if (reg.ValueExists("ForceDir")) FForceDir = reg.ReadBool("ForceDir");
  if (reg.ValueExists("Extension")) FExtension = reg.ReadString("Extension");
  if (reg.ValueExists("RefreshRate")) FRefreshRate = RefreshRateFromName(reg.ReadString("RefreshRate"));
  if (reg.ValueExists("CleanUpActive")) FCleanUp = reg.ReadBool("CleanUpActive");
  if (reg.ValueExists("CleanUpKeep")) FKeep = reg.ReadInteger("CleanUpKeep");
  if (reg.ValueExists("MutexAcquireTimeout")) FMutexATO = reg.ReadInteger("MutexAcquireTimeout");
  FNameFormat = nfNameDate;
  if (reg.ValueExists("NameFormat")) FNameFormat = NameFormatFromName(reg.ReadString("NameFormat"));
}

void TTextFile::ConfigurationEnd(bool cleanUp) {
  std::lock_guard<std::mutex> lock(gFileCs);
  if (!DirectoryExists(FOutputDir) && FForceDir) ForceDirectories(FOutputDir);
  FMutexWrite = std::make_shared<TMutex>(MutexNameFor(GetFileName()), /*AGlobal=*/true);
  if (cleanUp) CleanFiles();
}

void TTextFile::Initialize(const pugi::xml_node& traceNode) {
  TDbMon::Initialize(traceNode);
  pugi::xml_node fileInfo = traceNode.child(FName.c_str()).child("FileInfo");
  if (fileInfo.first_child()) ReadFileInfo(fileInfo);
  ConfigurationEnd(FCleanUp);
}

void TTextFile::Initialize(const INIReader& ini) {
  TDbMon::Initialize(ini);
  ReadFileInfo(ini);
  ConfigurationEnd(FCleanUp);
}

void TTextFile::Initialize(const std::string& traceKey, TRootKey root) {
  TDbMon::Initialize(traceKey, root);
  ReadFileInfo(traceKey, root);
  ConfigurationEnd(FCleanUp);
}

void TTextFile::Write(std::string_view sender, std::string_view msg, TTraceType type) {
  if (!Active() || !Passes(type)) return;
  WriteLine(sender, msg);
}

void TTextFile::WriteLine(std::string_view sender, std::string_view msg) {
  std::string shown(msg);
  std::string fileName;
  try {
    std::shared_ptr<TMutex> mutex;
    {
      std::lock_guard<std::mutex> lock(gFileCs);
      fileName = GetFileName();
      FNewFileName = fileName;
      if (FOldFileName.empty()) FOldFileName = fileName;
      std::string mutexName = "Global\\" + MutexNameFor(fileName);
      if (!SameText(FOldFileName, FNewFileName)) {
        FMutexWrite = std::make_shared<TMutex>(MutexNameFor(fileName), /*AGlobal=*/true);
        if (FCleanUp) CleanFiles();
      }
      FOldFileName = FNewFileName;
      // Also when the configuration ran before a rollover that this first record sees.
      if (!FMutexWrite || FMutexWrite->Name() != mutexName)
        FMutexWrite = std::make_shared<TMutex>(MutexNameFor(fileName), /*AGlobal=*/true);
      mutex = FMutexWrite;  // kept alive here even if another thread rolls over meanwhile
    }
    mutex->Acquire(FMutexATO);
    struct Releaser {
      TMutex& M;
      ~Releaser() { M.Release(); }
    } release{*mutex};
    std::string line;
    if (!sender.empty()) {
      line = LinePrefix();
      line += FSeperator;
      line += sender;
      line += FSeperator;
    }
    line += msg;
    shown = line;
    AppendToFile(fileName, Utf8ToAnsi(OneLine(line)) + "\r\n");
  } catch (const std::exception& e) {
    TraceSystemEvent(etError, Fmt("TTextFile.Write \"%s\" to file \"%s\" failed (%s)", shown, fileName, e.what()));
  }
}

// ---------------------------------------------------------------------------------------------
// TCsvFile

TCsvFile::TCsvFile() : TTextFile("CsvFile") {}

TTraceTypes TCsvFile::DefaultTraceTypes(TConfigSource source) const {
  return source == csIni || source == csRegistry ? kReportingToDebug : TraceTypeBit(ttReporting);
}

void TCsvFile::SetColumns(std::vector<std::string> columns) {
  FColumns = std::move(columns);
  BuildHeader();
}

void TCsvFile::BuildHeader() {
  if (!FIncludeHeader) return;
  std::vector<std::string> names;
  if (FIncludeDate) names.emplace_back("Date");
  if (FIncludeTime) names.emplace_back("Time");
  if (FIncludeProcID) names.emplace_back("ProcessID");
  if (FIncludeThreadID) names.emplace_back("ThreadID");
  names.insert(names.end(), FColumns.begin(), FColumns.end());
  std::string header;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i) header += FSeperator;
    header += names[i];
  }
  FHeader = header;
}

void TCsvFile::ReadLayout(const pugi::xml_node& layout) {
  TDbMon::ReadLayout(layout);
  FIncludeHeader = GetAttrBool(layout.child("Header"), "Include", true);
  FColumns.clear();
  for (pugi::xml_node c : layout.child("Columns").children())
    if (c.type() == pugi::node_element && SameText(c.name(), "Column")) FColumns.emplace_back(c.child_value());
  BuildHeader();
}

void TCsvFile::ReadLayout(const INIReader& ini) {
  TDbMon::ReadLayout(ini);
  FColumns = SplitList(ConfigText(ini.Get(FName, "Columns", "")));
  BuildHeader();
}

void TCsvFile::ReadLayout(const std::string& traceKey, TRootKey root) {
  TDbMon::ReadLayout(traceKey, root);
  TRegistry reg(root);
  if (reg.OpenKeyReadOnly(SubKey(traceKey, "Layout")) && reg.ValueExists("IncludeHeader"))
    FIncludeHeader = reg.ReadBool("IncludeHeader");
  if (reg.OpenKeyReadOnly(SubKey(traceKey, "Layout\\Columns"))) {
    int count = reg.ValueExists("Count") ? reg.ReadInteger("Count") : 0;
    FColumns.clear();
    for (int i = 1; i <= count; ++i) FColumns.push_back(reg.ReadString(std::to_string(i)));
  }
  BuildHeader();
}

void TCsvFile::Initialize(const pugi::xml_node& traceNode) {
  // The CSV sink reads its layout before its file information and never cleans up: it passes
  // over the text file's and the monitor's own configuration steps on purpose.
  TTraceSystem::Initialize(traceNode);  // NOLINT(bugprone-parent-virtual-call)
  if (!Active()) return;
  pugi::xml_node node = traceNode.child(FName.c_str());
  pugi::xml_node layout = node.child("Layout");
  if (layout.first_child()) ReadLayout(layout);
  pugi::xml_node fileInfo = node.child("FileInfo");
  if (fileInfo.first_child()) ReadFileInfo(fileInfo);
  ConfigurationEnd(/*cleanUp=*/false);
}

void TCsvFile::Write(std::string_view, std::string_view msg, TTraceType type) {
  if (!Active() || type != ttReporting) return;
  std::string line(msg);
  std::string fileName;
  try {
    if (FIncludeHeader) {
      bool newFile;
      {
        std::lock_guard<std::mutex> lock(gFileCs);
        fileName = GetFileName();
        newFile = !SameText(fileName, FOldFileName);
      }
      // A header that was never built (no layout read, nothing set by code) is not written.
      if (newFile && !FHeader.empty()) TTextFile::Write("", FHeader, ttReporting);
    }
    std::string prefix = LinePrefix();
    line = prefix.empty() ? std::string(msg) : prefix + FSeperator + std::string(msg);
    if (Utf8Length(FSeperator) == 1 && FSeperator != kDefaultSeperator) ReplaceAll(line, kDefaultSeperator, FSeperator);
    TTextFile::Write("", line, ttReporting);
  } catch (const std::exception& e) {
    TraceSystemEvent(etError, Fmt("TCsvFile.Write \"%s\" to file \"%s\" failed (%s)", line, fileName, e.what()));
  }
}

}  // namespace common
