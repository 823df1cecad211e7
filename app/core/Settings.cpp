#include "Settings.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace verimek {

namespace {

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// The whole number at the start of s after blanks, like the ini readers that the format comes from.
bool ToInt(const std::string& s, int& out) {
  const std::string t = Trim(s);
  if (t.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(t.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

// ---- TIniFile

TIniFile::TIniFile(std::string AFileName) : FFileName(std::move(AFileName)) { Reload(); }

void TIniFile::Reload() {
  FSections.clear();
  std::ifstream in(FFileName, std::ios::binary);
  if (!in) return;
  std::string line;
  TSection* current = nullptr;
  while (std::getline(in, line)) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';') continue;
    if (t.front() == '[' && t.back() == ']') {
      FSections.push_back({t.substr(1, t.size() - 2), {}});
      current = &FSections.back();
      continue;
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string::npos) continue;
    if (!current) {
      FSections.push_back({std::string(), {}});
      current = &FSections.back();
    }
    current->Keys.emplace_back(Trim(t.substr(0, eq)), DecodeValue(Trim(t.substr(eq + 1))));
  }
}

bool TIniFile::Read(const std::string& Section, const std::string& Name, std::string& Value) const {
  for (const TSection& s : FSections) {
    if (!SameName(s.Name, Section)) continue;
    for (const auto& [k, v] : s.Keys)
      if (SameName(k, Name)) {
        Value = v;
        return true;
      }
  }
  return false;
}

void TIniFile::Write(const std::string& Section, const std::string& Name, const std::string& Value) {
  TSection* section = nullptr;
  for (TSection& s : FSections)
    if (SameName(s.Name, Section)) section = &s;
  if (!section) {
    FSections.push_back({Section, {}});
    section = &FSections.back();
  }
  bool found = false;
  for (auto& [k, v] : section->Keys)
    if (SameName(k, Name)) {
      v = Value;
      found = true;
    }
  if (!found) section->Keys.emplace_back(Name, Value);
  Save();
}

std::string TIniFile::EncodeValue(const std::string& Value) {
  const bool quote = Value.find_first_of("\r\n") != std::string::npos || (!Value.empty() && Value.front() == '"') ||
                     (!Value.empty() &&
                      (Value.front() == ' ' || Value.front() == '\t' || Value.back() == ' ' || Value.back() == '\t'));
  if (!quote) return Value;
  std::string out = "\"";
  for (char c : Value) {
    switch (c) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      default:
        out += c;
    }
  }
  return out + '"';
}

std::string TIniFile::DecodeValue(const std::string& Text) {
  if (Text.size() < 2 || Text.front() != '"' || Text.back() != '"') return Text;
  std::string out;
  for (std::size_t i = 1; i + 1 < Text.size(); ++i) {
    char c = Text[i];
    if (c == '\\' && i + 2 < Text.size()) {
      const char n = Text[++i];
      switch (n) {
        case 'r':
          c = '\r';
          break;
        case 'n':
          c = '\n';
          break;
        default:
          c = n;
      }
    }
    out += c;
  }
  return out;
}

void TIniFile::Save() const {
  std::ostringstream text;
  bool first = true;
  for (const TSection& s : FSections) {
    if (!first) text << '\n';
    first = false;
    text << '[' << s.Name << "]\n";
    for (const auto& [k, v] : s.Keys) text << k << '=' << EncodeValue(v) << '\n';
  }
  const std::string tmp = FFileName + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << text.str();
    out.flush();
    if (!out) {
      std::remove(tmp.c_str());
      throw std::runtime_error("Write of \"" + FFileName + "\" failed (" + std::strerror(errno) + ")");
    }
  }
  if (std::rename(tmp.c_str(), FFileName.c_str()) != 0) {
    const int err = errno;
    std::remove(tmp.c_str());
    throw std::runtime_error("Write of \"" + FFileName + "\" failed (" + std::strerror(err) + ")");
  }
}

// ---- TSysSettings

void TSysSettings::LoadPosition(const std::string& Section, TWindowPlacement& window) {
  const int state = ReadIntegerDef(Section, "WindowState", TWindowPlacement::wsNormal);
  if (state == TWindowPlacement::wsMaximized) window.State = TWindowPlacement::wsMaximized;
  if (state != TWindowPlacement::wsNormal) return;
  const std::string pos = ReadStringDef(Section, "Pos", "");
  if (pos.empty()) return;
  int* fields[] = {&window.Top, &window.Left, &window.Height, &window.Width};
  std::size_t start = 0;
  for (int* field : fields) {
    const std::size_t comma = pos.find(',', start);
    int v = 0;
    if (ToInt(pos.substr(start, comma == std::string::npos ? std::string::npos : comma - start), v)) *field = v;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}

void TSysSettings::SavePosition(const std::string& Section, const TWindowPlacement& window) {
  WriteInteger(Section, "WindowState", window.State);
  if (window.State != TWindowPlacement::wsNormal) return;
  WriteString(Section, "Pos",
              std::to_string(window.Top) + ',' + std::to_string(window.Left) + ',' + std::to_string(window.Height) +
                  ',' + std::to_string(window.Width));
}

// ---- TIniSettings

TIniSettings::TIniSettings(const std::string& FileName) : FIniFile(std::make_unique<TIniFile>(FileName)) {}

bool TIniSettings::ReadBoolDef(const std::string& Section, const std::string& Name, bool Default) {
  return ReadIntegerDef(Section, Name, Default ? 1 : 0) != 0;
}

std::string TIniSettings::ReadStringDef(const std::string& Section, const std::string& Name,
                                        const std::string& Default) {
  std::string v;
  return FIniFile->Read(Section, Name, v) ? v : Default;
}

int TIniSettings::ReadIntegerDef(const std::string& Section, const std::string& Name, int Default) {
  std::string v;
  int n = 0;
  return FIniFile->Read(Section, Name, v) && ToInt(v, n) ? n : Default;
}

void TIniSettings::WriteBool(const std::string& Section, const std::string& Name, bool Value) {
  FIniFile->Write(Section, Name, Value ? "1" : "0");
}

void TIniSettings::WriteString(const std::string& Section, const std::string& Name, const std::string& Value) {
  FIniFile->Write(Section, Name, Value);
}

void TIniSettings::WriteInteger(const std::string& Section, const std::string& Name, int Value) {
  FIniFile->Write(Section, Name, std::to_string(Value));
}

bool TIniSettings::KeyExists(const std::string& Section, const std::string& Name) {
  std::string v;
  return FIniFile->Read(Section, Name, v);
}

// ---- TSettings

TSettings::TSettings(const std::string& FileName) : TIniSettings(FileName) {}

#define VERIMEK_BOOL_PROPERTY(Prop, Section, Key)                     \
  bool TSettings::Prop() { return ReadBoolDef(Section, Key, false); } \
  void TSettings::Set##Prop(bool v) { WriteBool(Section, Key, v); }
#define VERIMEK_TEXT_PROPERTY(Prop, Section, Key)                           \
  std::string TSettings::Prop() { return ReadStringDef(Section, Key, ""); } \
  void TSettings::Set##Prop(const std::string& v) { WriteString(Section, Key, v); }

VERIMEK_BOOL_PROPERTY(SearchBackwards, "Search", "Backwards")
VERIMEK_BOOL_PROPERTY(SearchCaseSensitive, "Search", "CaseSensitive")
VERIMEK_BOOL_PROPERTY(SearchFromCaret, "Search", "FromCaret")
VERIMEK_BOOL_PROPERTY(SearchSelectionOnly, "Search", "SelectionOnly")
VERIMEK_BOOL_PROPERTY(SearchWholeWords, "Search", "WholeWords")
VERIMEK_BOOL_PROPERTY(SearchRegex, "Search", "Regex")
VERIMEK_TEXT_PROPERTY(SearchText, "Search", "Text")
VERIMEK_TEXT_PROPERTY(ReplaceText, "Replace", "Text")
VERIMEK_TEXT_PROPERTY(ReplaceTextHistory, "Replace", "TextHistory")
VERIMEK_TEXT_PROPERTY(ValidateFileText, "ValidateFile", "Text")

#undef VERIMEK_BOOL_PROPERTY
#undef VERIMEK_TEXT_PROPERTY

// The two lists of recent entries keep their first ten, whoever fills them.
constexpr std::size_t kHistoryMax = 10;

std::string TSettings::SearchTextHistory() { return ReadStringDef("Search", "TextHistory", ""); }
void TSettings::SetSearchTextHistory(const std::string& v) {
  std::vector<std::string> items = SplitLines(v);
  if (items.size() <= kHistoryMax) return WriteString("Search", "TextHistory", v);
  items.resize(kHistoryMax);
  WriteString("Search", "TextHistory", JoinLines(items));
}

std::string TSettings::ValidateFileHistory() { return ReadStringDef("ValidateFile", "History", ""); }
void TSettings::SetValidateFileHistory(const std::string& v) {
  std::vector<std::string> items = FromCommaText(v);
  if (items.size() <= kHistoryMax) return WriteString("ValidateFile", "History", v);
  items.resize(kHistoryMax);
  WriteString("ValidateFile", "History", ToCommaText(items));
}

bool TSettings::SearchTextAtCaret() { return ReadBoolDef("Search", "TextAtCaret", false); }

// ---- the accessor

namespace {
std::unique_ptr<TSettings> gSettings;
}

std::string SettingsFolder() {
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    base = std::string(h) + "/.config";
  } else {
    base = ".config";
  }
  return base + "/Solberk/Verimek";
}

TSettings& Settings() {
  if (!gSettings) {
    const std::string folder = SettingsFolder();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder))
      throw std::runtime_error("Create folder \"" + folder + "\" failed (" +
                               (ec ? ec.message() : std::string("not a folder")) + ")");
    gSettings = std::make_unique<TSettings>(folder + "/Verimek.ini");
  }
  return *gSettings;
}

void ResetSettings() { gSettings.reset(); }

// ---- lists

std::string ToCommaText(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    const std::string& s = items[i];
    if (s.find_first_of(" ,\"") == std::string::npos && !s.empty()) {
      out += s;
      continue;
    }
    out += '"';
    for (char c : s) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

std::vector<std::string> FromCommaText(const std::string& text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < text.size()) {
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += text[i++];
      }
      while (i < text.size() && text[i] != ',') ++i;
    } else {
      const std::size_t comma = text.find(',', i);
      item = text.substr(i, comma == std::string::npos ? std::string::npos : comma - i);
      i = comma == std::string::npos ? text.size() : comma;
    }
    out.push_back(item);
    if (i < text.size() && text[i] == ',') {
      ++i;
      if (i == text.size()) out.emplace_back();
    }
  }
  return out;
}

std::string JoinLines(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += "\r\n";
    out += items[i];
  }
  return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> out;
  if (text.empty()) return out;
  std::size_t start = 0;
  while (true) {
    std::size_t nl = text.find('\n', start);
    std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  return out;
}

}  // namespace verimek
