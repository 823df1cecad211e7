#include "UModuleInfo.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "registry/Registry.h"

namespace verimek {

const TProgIds kComponents[2] = {{"libkalvix.so", "Tarnholt.EdiMessage.1"}, {"libruvala.so", "Verimek.EdiDocument"}};
const char* const kSqliteLibrary = "libsqlite3.so.0";

namespace {

const char* const kNoteSection = ".note.verimek.version";
const char* const kNoteOwner = "Verimek";
constexpr std::uint32_t kNoteType = 1;

std::runtime_error ReadFailed(const std::string& file, const std::string& why) {
  return std::runtime_error("GetFileVersionInfo for \"" + file + "\" failed (" + why + ")");
}

std::runtime_error NoteFailed(const std::string& file, const std::string& why) {
  return std::runtime_error("VerQueryValue for \"" + file + "\" failed (" + why + ")");
}

// Reads ranges of the file, refusing any that lies outside it: the file may be anything.
class TFileBytes {
 public:
  explicit TFileBytes(const std::string& name) : FName(name), FIn(name, std::ios::binary) {
    if (!FIn) throw ReadFailed(name, std::strerror(errno));
    FIn.seekg(0, std::ios::end);
    FSize = static_cast<std::uint64_t>(FIn.tellg());
  }
  std::uint64_t Size() const { return FSize; }
  bool Read(std::uint64_t offset, void* out, std::uint64_t count) {
    if (offset > FSize || count > FSize - offset) return false;
    FIn.clear();
    FIn.seekg(static_cast<std::streamoff>(offset));
    FIn.read(static_cast<char*>(out), static_cast<std::streamsize>(count));
    if (!FIn) throw ReadFailed(FName, "read error");
    return true;
  }
  std::string ReadText(std::uint64_t offset, std::uint64_t count) {
    std::string s(count, '\0');
    if (!Read(offset, s.data(), count)) return {};
    return s;
  }

 private:
  std::string FName;
  std::ifstream FIn;
  std::uint64_t FSize = 0;
};

struct TSection {
  std::uint64_t Offset = 0, Size = 0;
};

template <class Ehdr, class Shdr>
std::optional<TSection> FindSection(TFileBytes& file, const std::string& fileName) {
  Ehdr eh{};
  if (!file.Read(0, &eh, sizeof eh)) return std::nullopt;
  if (eh.e_shoff == 0 || eh.e_shnum == 0 || eh.e_shentsize != sizeof(Shdr)) return std::nullopt;
  if (eh.e_shstrndx >= eh.e_shnum) throw NoteFailed(fileName, "bad section name table");
  auto header = [&](unsigned i) {
    Shdr sh{};
    if (!file.Read(eh.e_shoff + static_cast<std::uint64_t>(i) * sizeof(Shdr), &sh, sizeof sh))
      throw NoteFailed(fileName, "section headers outside the file");
    return sh;
  };
  const Shdr names = header(eh.e_shstrndx);
  const std::string table = file.ReadText(names.sh_offset, names.sh_size);
  for (unsigned i = 0; i < eh.e_shnum; ++i) {
    const Shdr sh = header(i);
    if (sh.sh_name >= table.size()) continue;
    if (std::strcmp(table.c_str() + sh.sh_name, kNoteSection) != 0) continue;
    if (sh.sh_type == SHT_NOBITS) continue;
    return TSection{sh.sh_offset, sh.sh_size};
  }
  return std::nullopt;
}

std::uint32_t Word(const std::string& s, std::size_t at) {
  std::uint32_t w = 0;
  std::memcpy(&w, s.data() + at, 4);
  return w;
}

TFileVersionInfo ParseNote(const std::string& note, const std::string& fileName) {
  if (note.size() < 12) throw NoteFailed(fileName, "note too short");
  const std::uint32_t nameSize = Word(note, 0), descSize = Word(note, 4), type = Word(note, 8);
  const std::size_t nameEnd = 12 + ((static_cast<std::size_t>(nameSize) + 3) & ~std::size_t{3});
  if (nameSize > note.size() || nameEnd > note.size() || descSize > note.size() - nameEnd)
    throw NoteFailed(fileName, "note sizes outside the section");
  if (type != kNoteType || note.compare(12, nameSize, std::string(kNoteOwner) + '\0') != 0)
    throw NoteFailed(fileName, "not a version note");
  const std::string desc = note.substr(nameEnd, descSize);
  if (desc.size() < 8) throw NoteFailed(fileName, "no numeric version");
  TFileVersionInfo info;
  for (std::size_t i = 0; i < 4; ++i) {
    std::uint16_t part = 0;
    std::memcpy(&part, desc.data() + 2 * i, 2);
    info.Numeric[i] = part;
  }
  std::size_t at = 8;
  while (at < desc.size()) {
    const std::size_t end = desc.find('\0', at);
    if (end == std::string::npos) throw NoteFailed(fileName, "unterminated string");
    if (end == at) break;
    const std::string entry = desc.substr(at, end - at);
    const std::size_t eq = entry.find('=');
    if (eq != std::string::npos) info.Strings.emplace(entry.substr(0, eq), entry.substr(eq + 1));
    at = end + 1;
  }
  return info;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::string TFileVersionInfo::String(const std::string& key) const {
  auto it = Strings.find(key);
  return it == Strings.end() ? std::string() : it->second;
}

std::string TFileVersionInfo::NumericText() const {
  return std::to_string(Numeric[0]) + "." + std::to_string(Numeric[1]) + "." + std::to_string(Numeric[2]) + "." +
         std::to_string(Numeric[3]);
}

std::optional<TFileVersionInfo> ReadFileVersionInfo(const std::string& fileName) {
  TFileBytes file(fileName);
  unsigned char ident[EI_NIDENT] = {};
  if (!file.Read(0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0) return std::nullopt;
  // Only files of this machine's byte order: the program lists its own parts.
  const bool little = ident[EI_DATA] == ELFDATA2LSB;
  if (little != (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)) return std::nullopt;
  std::optional<TSection> section;
  if (ident[EI_CLASS] == ELFCLASS64)
    section = FindSection<Elf64_Ehdr, Elf64_Shdr>(file, fileName);
  else if (ident[EI_CLASS] == ELFCLASS32)
    section = FindSection<Elf32_Ehdr, Elf32_Shdr>(file, fileName);
  if (!section) return std::nullopt;
  std::string note(section->Size, '\0');
  if (!file.Read(section->Offset, note.data(), section->Size)) throw NoteFailed(fileName, "section outside the file");
  return ParseNote(note, fileName);
}

std::string NumericFileVersion(const std::string& fileName) {
  auto info = ReadFileVersionInfo(fileName);
  return info ? info->NumericText() : std::string();
}

// ---- TModuleInfo

TModuleInfo::TModuleInfo(std::string fileName) : FFullName(std::move(fileName)) {
  std::error_code ec;
  if (std::filesystem::exists(FFullName, ec)) FInfo = ReadFileVersionInfo(FFullName);
}

std::string TModuleInfo::ProgramFileName() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

std::string TModuleInfo::Folder() const { return FolderOf(FFullName); }

std::string TModuleInfo::FileName() const { return FFullName.substr(FolderOf(FFullName).size()); }

std::string TModuleInfo::String(const std::string& key) const { return FInfo ? FInfo->String(key) : std::string(); }

// ---- rows of the about box

TModuleRow ComponentRow(const TProgIds& component) {
  TModuleRow row{component.File, {}, {}};
  const std::string progId = component.ProgId;
  try {
    common::TRegistry reg(common::HKEY_CLASSES_ROOT);
    if (!reg.KeyExists(progId)) {
      row.Version = "progid \"" + progId + "\" not found";
      return row;
    }
    const std::string clsidKey = progId + "\\clsid";
    if (!reg.OpenKeyReadOnly(clsidKey)) {
      row.Version = "Open registry key \"" + clsidKey + "\" failed";
      return row;
    }
    const std::string clsid = reg.ReadString("");
    if (clsid.empty() || !reg.KeyExists("CLSID\\" + clsid)) {
      row.Version = "clsid \"" + clsid + "\" not found";
      return row;
    }
    std::string server;
    if (reg.OpenKeyReadOnly("CLSID\\" + clsid + "\\InprocServer32")) server = reg.ReadString("");
    if (server.empty()) {
      row.Version = "Value of \"InprocServer32\" not found (clsid=" + clsid + ")";
      return row;
    }
    row.Path = FolderOf(server);
    std::error_code ec;
    row.Version = std::filesystem::exists(server, ec) ? NumericFileVersion(server) : "File not found";
  } catch (const std::exception& e) {
    row.Version = e.what();
  }
  return row;
}

TModuleRow LibraryRow(const std::string& library) {
  TModuleRow row{library, {}, {}};
  dlerror();
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    row.Version = std::string("Load failed: ") + (why ? why : "unknown error");
    return row;
  }
  link_map* map = nullptr;
  std::string path;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) path = map->l_name;
  try {
    row.Version = path.empty() ? std::string() : NumericFileVersion(path);
  } catch (const std::exception& e) {
    row.Version = e.what();
  }
  // A system library carries no note of ours: its own version text stands in.
  if (row.Version.empty()) {
    using TVersionFn = const char* (*)();
    if (auto fn = reinterpret_cast<TVersionFn>(dlsym(handle, "sqlite3_libversion"))) row.Version = fn();
  }
  dlclose(handle);
  row.Path = FolderOf(path);
  return row;
}

TModuleRow ReferentialRow(const std::function<edicom::ComPtr<ruvala::IEdiDocument>()>& createDocument) {
  TModuleRow row{"Referential", {}, {}};
  try {
    edicom::ComPtr<ruvala::IEdiDocument> doc = createDocument();
    if (!doc) throw std::runtime_error("No engine document");
    edicom::BStr file, version;
    CheckHr(doc->get_ReferentialFilename(file.Put()), "ReferentialFilename");
    CheckHr(doc->get_ReferentialVersion(version.Put()), "ReferentialVersion");
    row.Path = file.Utf8();
    row.Version = version.Utf8();
  } catch (const std::exception& e) {
    row.Version = e.what();
  }
  return row;
}

std::vector<TModuleRow> ModuleRows(const std::function<edicom::ComPtr<ruvala::IEdiDocument>()>& createDocument) {
  std::vector<TModuleRow> rows;
  for (const TProgIds& c : kComponents) rows.push_back(ComponentRow(c));
  rows.push_back(LibraryRow(kSqliteLibrary));
  rows.push_back(ReferentialRow(createDocument));
  return rows;
}

std::string ProgramVersionText(const std::string& programFile) {
  std::error_code ec;
  if (programFile.empty() || !std::filesystem::exists(programFile, ec)) return "File not found";
  try {
    return NumericFileVersion(programFile);
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::string ProgramCommentsText(const std::string& programFile) {
  std::error_code ec;
  if (programFile.empty() || !std::filesystem::exists(programFile, ec)) return "File not found";
  try {
    auto info = ReadFileVersionInfo(programFile);
    return info ? info->String("Comments") : std::string();
  } catch (const std::exception& e) {
    return e.what();
  }
}

}  // namespace verimek
