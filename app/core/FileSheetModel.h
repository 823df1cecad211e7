// The file sheet's rules without widgets: the paging keys of the details list, the rows that
// fit, the recent input files, the captions, the persisted layout, the coalescing of progress
// reports, and the sheet's hold on the results of its last run.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ResultsReader.h"

namespace verimek {

class TSysSettings;

enum class TPagingKey { PageUp, PageDown, End, Home, Up, Down, Other };

/// What the details list looks like when a key arrives.
struct TPagingView {
  std::int64_t Offset = -1;  // first message shown; -1 when nothing is loaded
  std::int64_t Rows = 0;     // rows that fit in the list
  std::int64_t Total = 0;    // all messages of the run
  int ItemCount = 0;         // items in the list now
  int Selected = -1;         // index of the selected item, -1 for none
  std::int64_t SelectedId = 0;
};

/// What the sheet does for a key: maybe load a page, then maybe select an item, and whether the
/// key stops there or reaches the list.
struct TPagingAction {
  enum TSelect { selNone, selFirst, selLast };
  bool Load = false;
  std::int64_t Offset = 0;
  TSelect Select = selNone;
  bool Consumed = false;
};

/// The paging key table of the details list.
TPagingAction PagingKey(TPagingKey key, bool ctrl, const TPagingView& view);

/// Whole rows of rowHeight in a visible area of height pixels; at least 1.
std::int64_t RowsThatFit(int height, int rowHeight);

/// "Record %d of %d".
std::string RecordText(std::int64_t id, std::int64_t total);

/// "File: " and the name without its folder.
std::string FileCaption(const std::string& path);

/// Puts name at the top of the recent input files unless it is there already (ignoring case);
/// never more than kMaxHistory entries. True when the list changed.
constexpr std::size_t kMaxHistory = 10;
bool AddToHistory(std::vector<std::string>& history, const std::string& name);
bool SameFileName(const std::string& a, const std::string& b);

/// The persisted layout of the sheet, in section "SheetFileFrm".
struct TSheetFileLayout {
  int BottomHeight = 179;
  int EditorWidth = 301;
  static TSheetFileLayout Load(TSysSettings& settings);
  void Save(TSysSettings& settings) const;
};

/// Passes on the progress reports the screen can show: the first, one with new bounds, the
/// last, and otherwise at most one per interval. A report held back is kept, so that it can
/// be shown when the reports stop.
class TProgressCoalescer {
 public:
  using TClock = std::function<std::chrono::steady_clock::time_point()>;
  struct TReport {
    std::string Msg;
    int Min = 0, Max = 0, Pos = 0;
  };

  explicit TProgressCoalescer(std::chrono::milliseconds interval = std::chrono::milliseconds(50),
                              TClock clock = nullptr);
  /// True when this report should be shown now.
  bool Offer(const TReport& report);
  /// The report held back since the last shown one, if any; clears it.
  bool TakePending(TReport& report);
  void Reset();

 private:
  std::chrono::milliseconds FInterval;
  TClock FClock;
  bool FShown = false;
  TReport FLast{};
  std::chrono::steady_clock::time_point FLastAt{};
  bool FHasPending = false;
  TReport FPending{};
};

/// The names behind the X912 and X916 codes; each raises when it does not know the code.
class TReferentialNames {
 public:
  virtual ~TReferentialNames() = default;
  virtual std::string X912ToStr(std::int64_t X912) = 0;
  virtual std::string X916ToStr(const std::string& X916) = 0;
};

/// The ten cells of one details row: ID, XEH ID, X921, X923, X925, X912, X916, Message,
/// Errors, Warnings. Without names, or for a code they do not know, the raw code is shown and
/// the reason is kept in note (the first one of the page).
std::vector<std::string> DetailsCells(const TMessageRow& row, TReferentialNames* names, std::string& note);

/// Adds the indexes the sheet reads by, when they are missing and the file can be written.
void EnsureReadIndexes(TDatabase& db);

/// The sheet's hold on the results of its last run: the connection, opened on first use
/// without creation, the totals and the page shown.
class TFileSheetResults {
 public:
  explicit TFileSheetResults(char decimalSeparator = '.');

  /// A new run: drops the connection and everything read from the previous file.
  void SetFile(const std::string& dbFile);
  const std::string& File() const { return FFile; }
  void Close();
  bool IsOpen() const { return FReader != nullptr; }

  /// Opens the file on first use. Raises "File \"%s\" not found" when it is gone.
  TFileResultsModel& Model();
  void SetCodeTexts(TFileResultsModel::TCodeTexts errors, TFileResultsModel::TCodeTexts warnings);

  /// All messages of the run, read once.
  std::int64_t Total();

  /// The Global Result rows through a connection of its own, so that any thread may read them.
  static std::vector<TFileResultsModel::TGlobalRow> ReadGlobalRows(TDatabase& db, char decimalSeparator);
  char DecimalSeparator() const { return FDecimalSeparator; }
  /// Rows read ahead for this file (the last one is the total); GlobalRows hands them out
  /// instead of counting again.
  void SetGlobalRows(std::vector<TFileResultsModel::TGlobalRow> rows);
  std::vector<TFileResultsModel::TGlobalRow> GlobalRows();

  std::int64_t Offset() const { return FOffset; }
  /// Forgets the page shown (the next LoadPage reads again).
  void ResetPage();
  /// Reads rows messages from offset (negative reads as 0) unless that page is shown already;
  /// true when it read.
  bool LoadPage(std::int64_t offset, std::int64_t rows);
  const std::vector<TMessageRow>& Page() const { return FPage; }

 private:
  char FDecimalSeparator;
  std::string FFile;
  std::unique_ptr<TResultsReader> FReader;
  std::unique_ptr<TFileResultsModel> FModel;
  TFileResultsModel::TCodeTexts FErrorTexts, FWarningTexts;
  std::int64_t FTotal = -1;
  std::vector<TFileResultsModel::TGlobalRow> FGlobalRows;
  std::int64_t FOffset = -1;
  std::int64_t FRows = 0;
  std::vector<TMessageRow> FPage;
};

}  // namespace verimek
