#include "FileSheetModel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "Settings.h"

namespace verimek {

TPagingAction PagingKey(TPagingKey key, bool ctrl, const TPagingView& v) {
  TPagingAction a;
  const bool firstSelected = v.ItemCount > 0 && v.Selected == 0;
  const bool lastSelected = v.ItemCount > 0 && v.Selected == v.ItemCount - 1;
  switch (key) {
    case TPagingKey::PageUp:
      if (ctrl) {
        a = {true, 0, TPagingAction::selFirst, false};
      } else if (firstSelected) {
        a = {true, std::max<std::int64_t>(v.Offset - v.Rows, 0), TPagingAction::selNone, false};
      }
      break;
    case TPagingKey::PageDown:
      if (ctrl) {
        a = {true, v.Total - v.Rows, TPagingAction::selLast, false};
      } else if (lastSelected) {
        a = {true, std::min(v.Total - v.Rows, v.Offset + v.Rows), TPagingAction::selNone, false};
      }
      break;
    case TPagingKey::End:
      if (ctrl) a = {true, v.Total - v.Rows, TPagingAction::selLast, true};
      break;
    case TPagingKey::Home:
      if (ctrl) a = {true, 0, TPagingAction::selFirst, true};
      break;
    case TPagingKey::Up:
      if (firstSelected && v.SelectedId > 1) a = {true, v.Offset - 1, TPagingAction::selFirst, true};
      break;
    case TPagingKey::Down:
      if (lastSelected && v.SelectedId < v.Total) a = {true, v.Offset + 1, TPagingAction::selLast, true};
      break;
    case TPagingKey::Other:
      break;
  }
  return a;
}

std::int64_t RowsThatFit(int height, int rowHeight) {
  if (rowHeight <= 0 || height < rowHeight) return 1;
  return height / rowHeight;
}

std::string RecordText(std::int64_t id, std::int64_t total) {
  return "Record " + std::to_string(id) + " of " + std::to_string(total);
}

std::string FileCaption(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return "File: " + (slash == std::string::npos ? path : path.substr(slash + 1));
}

bool SameFileName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool AddToHistory(std::vector<std::string>& history, const std::string& name) {
  for (const std::string& h : history)
    if (SameFileName(h, name)) return false;
  history.insert(history.begin(), name);
  if (history.size() > kMaxHistory) history.resize(kMaxHistory);
  return true;
}

namespace {
const char* const kLayoutSection = "SheetFileFrm";
}

TSheetFileLayout TSheetFileLayout::Load(TSysSettings& settings) {
  TSheetFileLayout l;
  l.BottomHeight = settings.ReadIntegerDef(kLayoutSection, "pn_Bottom.Height", l.BottomHeight);
  l.EditorWidth = settings.ReadIntegerDef(kLayoutSection, "Editor.Width", l.EditorWidth);
  return l;
}

void TSheetFileLayout::Save(TSysSettings& settings) const {
  settings.WriteInteger(kLayoutSection, "pn_Bottom.Height", BottomHeight);
  settings.WriteInteger(kLayoutSection, "Editor.Width", EditorWidth);
}

TProgressCoalescer::TProgressCoalescer(std::chrono::milliseconds interval, TClock clock)
    : FInterval(interval), FClock(std::move(clock)) {
  if (!FClock) FClock = [] { return std::chrono::steady_clock::now(); };
}

void TProgressCoalescer::Reset() {
  FShown = false;
  FHasPending = false;
}

bool TProgressCoalescer::Offer(const TReport& r) {
  const auto now = FClock();
  // The text changes with every line; what the eye can follow is a few updates a second, so
  // only a new phase (other bounds), the end, or the interval lets a report through.
  const bool show = !FShown || r.Min != FLast.Min || r.Max != FLast.Max || r.Pos >= r.Max || now - FLastAt >= FInterval;
  if (show) {
    FShown = true;
    FLast = r;
    FLastAt = now;
    FHasPending = false;
  } else {
    FHasPending = true;
    FPending = r;
  }
  return show;
}

bool TProgressCoalescer::TakePending(TReport& report) {
  if (!FHasPending) return false;
  report = FPending;
  FHasPending = false;
  FLast = report;
  FLastAt = FClock();
  return true;
}

std::vector<std::string> DetailsCells(const TMessageRow& row, TReferentialNames* names, std::string& note) {
  std::string x912 = std::to_string(row.X912), x916 = row.X916;
  if (names) {
    try {
      x912 = names->X912ToStr(row.X912);
    } catch (const std::exception& e) {
      if (note.empty()) note = e.what();
    }
    try {
      x916 = names->X916ToStr(row.X916);
    } catch (const std::exception& e) {
      if (note.empty()) note = e.what();
    }
  }
  return {std::to_string(row.Id),
          std::to_string(row.XehId),
          row.X921,
          row.X923,
          row.X925,
          x912,
          x916,
          "(Blob)",
          std::to_string(row.ErrorCount),
          std::to_string(row.WarningCount)};
}

TFileSheetResults::TFileSheetResults(char decimalSeparator) : FDecimalSeparator(decimalSeparator) {}

void TFileSheetResults::SetFile(const std::string& dbFile) {
  Close();
  FFile = dbFile;
}

void TFileSheetResults::Close() {
  FModel.reset();
  FReader.reset();
  FTotal = -1;
  FGlobalRows.clear();
  ResetPage();
}

void TFileSheetResults::ResetPage() {
  FOffset = -1;
  FRows = 0;
  FPage.clear();
}

void TFileSheetResults::SetCodeTexts(TFileResultsModel::TCodeTexts errors, TFileResultsModel::TCodeTexts warnings) {
  FErrorTexts = std::move(errors);
  FWarningTexts = std::move(warnings);
  if (FModel) FModel->SetCodeTexts(FErrorTexts, FWarningTexts);
}

namespace {

// What the sheet reads by, beyond the run's own two indexes: the message of a text or of its
// findings, the counts, and the groups of the statistics tabs. Made once, by the first reader;
// the tables stay as they were, so older readers read the file as before.
const char* const kReadIndexes[] = {
    "CREATE INDEX IF NOT EXISTS IdxDataMessageId ON Data (MessageId, XehId)",
    "CREATE INDEX IF NOT EXISTS IdxWarningsMessageId ON Warnings (MessageId)",
    "CREATE INDEX IF NOT EXISTS IdxMessagesCounts ON Messages (ErrorCount, WarningCount)",
    "CREATE INDEX IF NOT EXISTS IdxErrorsCode ON Errors (ErrorCode)",
    "CREATE INDEX IF NOT EXISTS IdxErrorsMessage ON Errors (ErrorMessage)",
    "CREATE INDEX IF NOT EXISTS IdxWarningsCode ON Warnings (WarningCode)",
    "CREATE INDEX IF NOT EXISTS IdxWarningsMessage ON Warnings (WarningMessage)",
};

}  // namespace

void EnsureReadIndexes(TDatabase& db) {
  try {
    db.BeginTransaction();
    for (const char* sql : kReadIndexes) db.ExecSql(sql, false);
    db.Commit();
  } catch (const std::exception&) {
    // A file the sheet may not write (kept, read-only) is read without them, only slower.
    if (db.InTransaction()) {
      try {
        db.Rollback();
      } catch (const std::exception&) {
      }
    }
  }
}

TFileResultsModel& TFileSheetResults::Model() {
  if (!FModel) {
    auto reader = std::make_unique<TResultsReader>(FFile);
    reader->Database();  // raises now when the file is gone
    FModel = std::make_unique<TFileResultsModel>(*reader, FDecimalSeparator);
    FModel->SetCodeTexts(FErrorTexts, FWarningTexts);
    FReader = std::move(reader);
  }
  return *FModel;
}

std::int64_t TFileSheetResults::Total() {
  if (FTotal < 0) FTotal = Model().TotalMessages();
  return FTotal;
}

std::vector<TFileResultsModel::TGlobalRow> TFileSheetResults::ReadGlobalRows(TDatabase& db, char decimalSeparator) {
  TResultsReader reader(db);
  return TFileResultsModel(reader, decimalSeparator).GlobalRows();
}

void TFileSheetResults::SetGlobalRows(std::vector<TFileResultsModel::TGlobalRow> rows) {
  if (rows.empty()) return;
  FTotal = rows.back().Count;
  FGlobalRows = std::move(rows);
}

std::vector<TFileResultsModel::TGlobalRow> TFileSheetResults::GlobalRows() {
  if (FGlobalRows.empty()) SetGlobalRows(Model().GlobalRows());
  return FGlobalRows;
}

bool TFileSheetResults::LoadPage(std::int64_t offset, std::int64_t rows) {
  // The query reads a negative offset as 0; keeping 0 spares reading the same page twice.
  offset = std::max<std::int64_t>(offset, 0);
  if (offset == FOffset && rows == FRows) return false;
  FPage = Model().Page(offset, rows);
  FOffset = offset;
  FRows = rows;
  return true;
}

}  // namespace verimek
