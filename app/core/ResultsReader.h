// The reading side of a results database: every query the file sheet and verimek-cli run on a
// finished run, in one table, and the widget-free model of the file sheet's results built on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "SysSqlite.h"

namespace verimek {

/// The statements that read a results database, by role.
enum class TResultsQuery {
  Page,          // %d rows from offset %d
  Valid,         // messages without errors or warnings
  WithErrors,    // messages with errors
  WithWarnings,  // messages with warnings only
  All,           // all messages
  ErrorsByCode,
  ErrorsByText,
  WarningsByCode,
  WarningsByText,
  MessageText,      // Id, XehId
  MessageErrors,    // Id, XehId
  MessageWarnings,  // Id, XehId
};
const char* ResultsQueryText(TResultsQuery query);

/// One row of a statistics list: its key (code or text) and how often it occurs.
struct TCountRow {
  std::string Key;
  std::int64_t Count = 0;
};

/// One row of the page of messages.
struct TMessageRow {
  std::int64_t Id = 0, XehId = 0;
  std::string X921, X923, X925;
  std::int64_t X912 = 0;
  std::string X916;
  std::int64_t ErrorCount = 0, WarningCount = 0;
};

/// A stored error or warning of one message.
struct TStoredFinding {
  std::int64_t SegmentNo = 0;
  std::string SegmentKey, Code, Message;
};

/// Runs the queries on one connection, opened without creation on first use.
class TResultsReader {
 public:
  explicit TResultsReader(std::string AFileName);
  /// Reads through an open connection of the caller's.
  explicit TResultsReader(TDatabase& ADatabase);

  std::int64_t Count(TResultsQuery query);
  /// ErrorsByCode, ErrorsByText, WarningsByCode or WarningsByText, in the query's order.
  std::vector<TCountRow> CountRows(TResultsQuery query);
  /// At most Rows messages from Offset on (a negative offset reads as 0).
  std::vector<TMessageRow> Page(std::int64_t Offset, std::int64_t Rows);
  /// The message's text; raises unless exactly one text is stored for it.
  std::string MessageText(std::int64_t Id, std::int64_t XehId);
  std::vector<TStoredFinding> MessageErrors(std::int64_t Id, std::int64_t XehId);
  std::vector<TStoredFinding> MessageWarnings(std::int64_t Id, std::int64_t XehId);
  /// The XehId of message Id; raises "Message %d not found".
  std::int64_t XehIdOf(std::int64_t Id);

  TDatabase& Database();

 private:
  std::vector<TStoredFinding> Findings(TResultsQuery query, std::int64_t Id, std::int64_t XehId);

  std::string FFileName;
  std::unique_ptr<TDatabase> FOwned;
  TDatabase* FDatabase = nullptr;
};

/// Parses the engine's code list ("E0001=Text,E0002=\"Text, quoted\"...") into pairs.
std::vector<std::pair<std::string, std::string>> ParseCodeList(const std::string& text);

/// A percentage in the "0.00" pattern with the given decimal separator; 0 when total is 0.
std::string FormatPercent(std::int64_t count, std::int64_t total, char decimalSeparator = '.');

/// What the file sheet shows of a finished run, free of widgets.
class TFileResultsModel {
 public:
  struct TGlobalRow {
    std::string Caption;
    std::int64_t Count = 0;
    std::string Percent;  // empty for the total
  };
  struct TStatRow {
    std::string Caption;  // code " : " text, or the text itself
    std::string Key;      // the code or text
    std::string Text;     // the code's text from the engine's list, or the text itself
    std::int64_t Count = 0;
    std::string Percent;
  };
  struct TStatList {
    std::vector<TStatRow> Rows;
    std::int64_t Total = 0;
  };
  struct TMessage {
    std::string Text;
    std::vector<TStoredFinding> Errors, Warnings;
  };
  using TCodeTexts = std::vector<std::pair<std::string, std::string>>;

  TFileResultsModel(TResultsReader& AReader, char ADecimalSeparator = '.');

  /// The engine's texts for the codes (ErrorCodeList, WarningCodeList).
  void SetCodeTexts(TCodeTexts AErrors, TCodeTexts AWarnings);

  /// "Messages valid", "Messages with error(s)", "Messages with warning(s)", "Total".
  std::vector<TGlobalRow> GlobalRows();
  TStatList ErrorsByCode();
  TStatList ErrorsByText();
  TStatList WarningsByCode();
  TStatList WarningsByText();
  std::int64_t TotalMessages();
  std::vector<TMessageRow> Page(std::int64_t Offset, std::int64_t Rows) { return FReader.Page(Offset, Rows); }
  TMessage Message(std::int64_t Id, std::int64_t XehId);

 private:
  TStatList Stats(TResultsQuery query, const TCodeTexts* texts);

  TResultsReader& FReader;
  char FDecimalSeparator;
  TCodeTexts FErrorTexts, FWarningTexts;
};

}  // namespace verimek
