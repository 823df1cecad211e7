#include "ResultsReader.h"

#include <cstdio>
#include <stdexcept>

namespace verimek {

namespace {

struct TQueryRow {
  TResultsQuery Query;
  const char* Text;
};

// The file sheet's queries, as they are stored; %d and %s filled by formatting.
const TQueryRow kQueries[] = {
    {TResultsQuery::Page, "select * from Messages limit %d offset %d"},
    {TResultsQuery::Valid, "Select count(*) from Messages where ErrorCount = 0 and WarningCount = 0"},
    {TResultsQuery::WithErrors, "Select count(*) from Messages where ErrorCount <> 0"},
    {TResultsQuery::WithWarnings, "Select count(*) from Messages where ErrorCount = 0 and WarningCount <> 0"},
    {TResultsQuery::All, "Select count(*) from Messages"},
    {TResultsQuery::ErrorsByCode,
     "select ErrorCode as Code, count(*) as Count from errors group by ErrorCode order by ErrorCode"},
    {TResultsQuery::ErrorsByText,
     "select ErrorMessage as Message, count(*) as Count from errors group by ErrorMessage order by ErrorMessage"},
    {TResultsQuery::WarningsByCode,
     "select WarningCode as Code, count(*) as Count from Warnings group by WarningCode order by WarningCode"},
    {TResultsQuery::WarningsByText,
     "select WarningMessage as Warning, count(*) as Count from Warnings group by WarningMessage order by "
     "WarningMessage"},
    {TResultsQuery::MessageText, "select body from data where MessageId = %s and xehid = %s"},
    {TResultsQuery::MessageErrors, "select * from Errors where MessageId = %s and xehid = %s"},
    {TResultsQuery::MessageWarnings, "select * from Warnings where MessageId = %s and xehid = %s"},
};

}  // namespace

const char* ResultsQueryText(TResultsQuery query) {
  for (const TQueryRow& q : kQueries)
    if (q.Query == query) return q.Text;
  throw std::logic_error("unknown results query");
}

TResultsReader::TResultsReader(std::string AFileName) : FFileName(std::move(AFileName)) {}

TResultsReader::TResultsReader(TDatabase& ADatabase) : FDatabase(&ADatabase) {}

TDatabase& TResultsReader::Database() {
  if (!FDatabase) {
    FOwned = std::make_unique<TDatabase>(FFileName, false);
    FDatabase = FOwned.get();
  }
  return *FDatabase;
}

std::int64_t TResultsReader::Count(TResultsQuery query) { return Database().GetTableValue(ResultsQueryText(query)); }

std::vector<TCountRow> TResultsReader::CountRows(TResultsQuery query) {
  std::vector<TCountRow> rows;
  auto t = Database().GetTable(ResultsQueryText(query));
  const std::string key = t->Columns().empty() ? "" : t->Columns()[0];
  for (; !t->Eof(); t->Next()) rows.push_back({t->AsString(key), t->AsInteger("Count")});
  return rows;
}

std::vector<TMessageRow> TResultsReader::Page(std::int64_t Offset, std::int64_t Rows) {
  std::vector<TMessageRow> page;
  if (Offset < 0) Offset = 0;
  if (Rows <= 0) return page;
  auto t = Database().GetTable(ResultsQueryText(TResultsQuery::Page), {Rows, Offset});
  for (; !t->Eof(); t->Next()) {
    TMessageRow r;
    r.Id = t->AsInteger("Id");
    r.XehId = t->AsInteger("XehId");
    r.X921 = t->AsString("X921");
    r.X923 = t->AsString("X923");
    r.X925 = t->AsString("X925");
    r.X912 = t->AsInteger("X912");
    r.X916 = t->AsString("X916");
    r.ErrorCount = t->AsInteger("ErrorCount");
    r.WarningCount = t->AsInteger("WarningCount");
    page.push_back(std::move(r));
  }
  return page;
}

std::string TResultsReader::MessageText(std::int64_t Id, std::int64_t XehId) {
  const std::string id = std::to_string(Id), xeh = std::to_string(XehId);
  auto body = Database().GetTable(ResultsQueryText(TResultsQuery::MessageText), {id, xeh});
  if (body->RowCount() != 1)
    throw std::runtime_error("Message " + id + " has " + std::to_string(body->RowCount()) + " texts");
  return DecodeAndDecompress(body->AsString("body"));
}

std::vector<TStoredFinding> TResultsReader::Findings(TResultsQuery query, std::int64_t Id, std::int64_t XehId) {
  const bool errors = query == TResultsQuery::MessageErrors;
  std::vector<TStoredFinding> list;
  auto t = Database().GetTable(ResultsQueryText(query), {std::to_string(Id), std::to_string(XehId)});
  for (; !t->Eof(); t->Next())
    list.push_back({t->AsInteger("SegmentNo"), t->AsString("SegmentKey"),
                    t->AsString(errors ? "ErrorCode" : "WarningCode"),
                    t->AsString(errors ? "ErrorMessage" : "WarningMessage")});
  return list;
}

std::vector<TStoredFinding> TResultsReader::MessageErrors(std::int64_t Id, std::int64_t XehId) {
  return Findings(TResultsQuery::MessageErrors, Id, XehId);
}

std::vector<TStoredFinding> TResultsReader::MessageWarnings(std::int64_t Id, std::int64_t XehId) {
  return Findings(TResultsQuery::MessageWarnings, Id, XehId);
}

std::int64_t TResultsReader::XehIdOf(std::int64_t Id) {
  const std::string id = std::to_string(Id);
  auto m = Database().GetTable("select XehId from Messages where Id = %s", {id});
  if (m->Eof()) throw std::runtime_error("Message " + id + " not found");
  return m->AsInteger("XehId");
}

// Comma text: items split at commas (or blanks and controls) outside double quotes; "" inside
// quotes is ".
std::vector<std::pair<std::string, std::string>> ParseCodeList(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    while (i < n && (text[i] == ',' || static_cast<unsigned char>(text[i]) <= ' ')) ++i;
    if (i >= n) break;
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            item.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item.push_back(text[i++]);
      }
    } else {
      while (i < n && text[i] != ',' && static_cast<unsigned char>(text[i]) > ' ') item.push_back(text[i++]);
    }
    std::size_t eq = item.find('=');
    if (eq == std::string::npos)
      out.emplace_back(item, "");
    else
      out.emplace_back(item.substr(0, eq), item.substr(eq + 1));
  }
  return out;
}

std::string FormatPercent(std::int64_t count, std::int64_t total, char decimalSeparator) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f",
                total > 0 ? 100.0 * static_cast<double>(count) / static_cast<double>(total) : 0.0);
  std::string s = buf;
  for (char& c : s)
    if (c == '.') c = decimalSeparator;
  return s;
}

TFileResultsModel::TFileResultsModel(TResultsReader& AReader, char ADecimalSeparator)
    : FReader(AReader), FDecimalSeparator(ADecimalSeparator) {}

void TFileResultsModel::SetCodeTexts(TCodeTexts AErrors, TCodeTexts AWarnings) {
  FErrorTexts = std::move(AErrors);
  FWarningTexts = std::move(AWarnings);
}

std::int64_t TFileResultsModel::TotalMessages() { return FReader.Count(TResultsQuery::All); }

std::vector<TFileResultsModel::TGlobalRow> TFileResultsModel::GlobalRows() {
  const std::int64_t total = TotalMessages();
  std::vector<TGlobalRow> rows;
  const std::pair<const char*, TResultsQuery> counted[] = {{"Messages valid", TResultsQuery::Valid},
                                                           {"Messages with error(s)", TResultsQuery::WithErrors},
                                                           {"Messages with warning(s)", TResultsQuery::WithWarnings}};
  for (const auto& [caption, query] : counted) {
    const std::int64_t n = FReader.Count(query);
    rows.push_back({caption, n, FormatPercent(n, total, FDecimalSeparator)});
  }
  rows.push_back({"Total", total, ""});
  return rows;
}

TFileResultsModel::TStatList TFileResultsModel::Stats(TResultsQuery query, const TCodeTexts* texts) {
  TStatList list;
  const std::vector<TCountRow> rows = FReader.CountRows(query);
  for (const TCountRow& r : rows) list.Total += r.Count;
  for (const TCountRow& r : rows) {
    std::string caption = r.Key, text = r.Key;
    if (texts) {
      text.clear();
      for (const auto& [code, t] : *texts)
        if (code == r.Key) {
          text = t;
          break;
        }
      caption += " : " + text;
    }
    list.Rows.push_back(
        {std::move(caption), r.Key, std::move(text), r.Count, FormatPercent(r.Count, list.Total, FDecimalSeparator)});
  }
  return list;
}

TFileResultsModel::TStatList TFileResultsModel::ErrorsByCode() {
  return Stats(TResultsQuery::ErrorsByCode, &FErrorTexts);
}
TFileResultsModel::TStatList TFileResultsModel::ErrorsByText() { return Stats(TResultsQuery::ErrorsByText, nullptr); }
TFileResultsModel::TStatList TFileResultsModel::WarningsByCode() {
  return Stats(TResultsQuery::WarningsByCode, &FWarningTexts);
}
TFileResultsModel::TStatList TFileResultsModel::WarningsByText() {
  return Stats(TResultsQuery::WarningsByText, nullptr);
}

TFileResultsModel::TMessage TFileResultsModel::Message(std::int64_t Id, std::int64_t XehId) {
  return {FReader.MessageText(Id, XehId), FReader.MessageErrors(Id, XehId), FReader.MessageWarnings(Id, XehId)};
}

}  // namespace verimek
