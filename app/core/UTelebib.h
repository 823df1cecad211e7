// The referential names the file sheet shows beside the X912 and X916 codes of a message: the
// program's own connection to the engine's referential, opened once after the start-up load.
#pragma once

#include <map>
#include <memory>
#include <string>

namespace common::db {
class TDbConnection;
}

namespace verimek {

class TTelebibDataModule {
 public:
  TTelebibDataModule();
  ~TTelebibDataModule();
  TTelebibDataModule(const TTelebibDataModule&) = delete;
  TTelebibDataModule& operator=(const TTelebibDataModule&) = delete;

  // The connection text for a referential file: the template with every "%filename%" (any
  // case) replaced.
  static std::string ConnectionText(const std::string& AFilename);

  // Closes any connection, opens the file (Access or SQLite) and reads the labels of the
  // Version 1 X912 and X916 rows of A_DE_QUALIFIANT; raises the database layer's error.
  void Connect(const std::string& AFilename);
  void Disconnect();
  bool Connected() const;

  // Label number of the "lbc-%d" column; 4 from creation.
  int Language() const { return FLanguage; }
  void SetLanguage(int ALanguage);

  // The label of the X912 code written "%.4d"; "X912ToStr(%d) failed (not found)".
  std::string X912ToStr(int X912) const;
  // The label of the X916 code; "X916ToStr(<code>) failed (not found)".
  std::string X916ToStr(const std::string& X916) const;

 private:
  void LoadLabels();

  std::unique_ptr<common::db::TDbConnection> TbConnection;
  int FLanguage = 4;
  // Qualifiant -> label, per data element; the table is read once per connection since the
  // details list asks for every row it shows.
  std::map<std::string, std::string> FX912, FX916;
};

}  // namespace verimek
