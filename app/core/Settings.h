// The program's per-user settings: an ini file of sections and keys, written at every change,
// and the named properties the windows read and write through one accessor.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace verimek {

// Where a window is and how it is shown, for LoadPosition/SavePosition.
struct TWindowPlacement {
  enum TState { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };
  int State = wsNormal;
  int Top = 0, Left = 0, Height = 0, Width = 0;
};

class TSysSettings {
 public:
  virtual ~TSysSettings() = default;
  // True for any non-zero number; the default when the key is missing.
  virtual bool ReadBoolDef(const std::string& Section, const std::string& Name, bool Default) = 0;
  virtual std::string ReadStringDef(const std::string& Section, const std::string& Name,
                                    const std::string& Default) = 0;
  virtual int ReadIntegerDef(const std::string& Section, const std::string& Name, int Default) = 0;
  // "1" or "0".
  virtual void WriteBool(const std::string& Section, const std::string& Name, bool Value) = 0;
  virtual void WriteString(const std::string& Section, const std::string& Name, const std::string& Value) = 0;
  virtual void WriteInteger(const std::string& Section, const std::string& Name, int Value) = 0;
  virtual bool KeyExists(const std::string& Section, const std::string& Name) = 0;

  // Section: the window's name, after its enclosing controls' names joined with ".".
  // Maximised: the state only; otherwise "Pos" sets each of top, left, height, width that is a
  // number and keeps the current value of any other.
  void LoadPosition(const std::string& Section, TWindowPlacement& window);
  void SavePosition(const std::string& Section, const TWindowPlacement& window);
};

// An ini file kept in memory in its order, rewritten whole at every change (through a
// temporary file and a rename, so a crash never leaves half a file). A value holding a line
// break, beginning with a double quote, or beginning or ending with a blank is written between
// double quotes with \r, \n, \\ and \" escapes; every other value is written as it is.
class TIniFile {
 public:
  explicit TIniFile(std::string AFileName);
  const std::string& FileName() const { return FFileName; }
  bool Read(const std::string& Section, const std::string& Name, std::string& Value) const;
  void Write(const std::string& Section, const std::string& Name, const std::string& Value);
  // Rereads the file (tests; another process's writes).
  void Reload();

  // The text as written in the file.
  static std::string EncodeValue(const std::string& Value);
  static std::string DecodeValue(const std::string& Text);

 private:
  void Save() const;

  struct TSection {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Keys;
  };
  std::string FFileName;
  std::vector<TSection> FSections;
};

class TIniSettings : public TSysSettings {
 public:
  explicit TIniSettings(const std::string& FileName);
  TIniFile& IniFile() { return *FIniFile; }

  bool ReadBoolDef(const std::string& Section, const std::string& Name, bool Default) override;
  std::string ReadStringDef(const std::string& Section, const std::string& Name, const std::string& Default) override;
  int ReadIntegerDef(const std::string& Section, const std::string& Name, int Default) override;
  void WriteBool(const std::string& Section, const std::string& Name, bool Value) override;
  void WriteString(const std::string& Section, const std::string& Name, const std::string& Value) override;
  void WriteInteger(const std::string& Section, const std::string& Name, int Value) override;
  bool KeyExists(const std::string& Section, const std::string& Name) override;

 private:
  std::unique_ptr<TIniFile> FIniFile;
};

class TSettings : public TIniSettings {
 public:
  explicit TSettings(const std::string& FileName);

  bool SearchBackwards();
  void SetSearchBackwards(bool v);
  bool SearchCaseSensitive();
  void SetSearchCaseSensitive(bool v);
  bool SearchFromCaret();
  void SetSearchFromCaret(bool v);
  bool SearchSelectionOnly();
  void SetSearchSelectionOnly(bool v);
  // Read only: no command writes it.
  bool SearchTextAtCaret();
  bool SearchWholeWords();
  void SetSearchWholeWords(bool v);
  std::string SearchText();
  void SetSearchText(const std::string& v);
  // Up to 10 texts, most recent first, joined with CR LF.
  std::string SearchTextHistory();
  void SetSearchTextHistory(const std::string& v);
  bool SearchRegex();
  void SetSearchRegex(bool v);
  std::string ReplaceText();
  void SetReplaceText(const std::string& v);
  std::string ReplaceTextHistory();
  void SetReplaceTextHistory(const std::string& v);
  std::string ValidateFileText();
  void SetValidateFileText(const std::string& v);
  // Comma text of up to 10 input files, most recent first.
  std::string ValidateFileHistory();
  void SetValidateFileHistory(const std::string& v);
};

// "$XDG_CONFIG_HOME/Solberk/Verimek" (XDG_CONFIG_HOME defaulting to ~/.config).
std::string SettingsFolder();
// The settings of the program, on "Verimek.ini" in SettingsFolder(), created with the folder
// on first use; "Create folder \"%s\" failed (%s)" when the folder cannot be made.
TSettings& Settings();
// Drops the instance, so that the next Settings() reads the file anew (tests: a new start).
void ResetSettings();

// Comma text: entries joined with ","; one holding a space, a comma or a double quote is
// written in double quotes with inner double quotes doubled.
std::string ToCommaText(const std::vector<std::string>& items);
std::vector<std::string> FromCommaText(const std::string& text);
// CR LF lists (the search histories).
std::string JoinLines(const std::vector<std::string>& items);
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace verimek
