#include "ResultsOutput.h"

#include <edicom/EdiComCpp.h>
#include <ruvala/Ruvala.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Output.h"

namespace cli {

using verimek::TFileResultsModel;

void LoadCodeTexts(TFileResultsModel& model) {
  edicom::ComPtr<ruvala::IEdiDocument> doc;
  if (edicom::FAILED(edicom::CreateInstance(ruvala::CLSID_EdiDocument, ruvala::IID_IEdiDocument, doc))) {
    edicom::TakeErrorDescription();
    return;
  }
  edicom::BStr e, w;
  TFileResultsModel::TCodeTexts errors, warnings;
  if (edicom::SUCCEEDED(doc->get_ErrorCodeList(e.Put()))) errors = verimek::ParseCodeList(e.Utf8());
  if (edicom::SUCCEEDED(doc->get_WarningCodeList(w.Put()))) warnings = verimek::ParseCodeList(w.Utf8());
  model.SetCodeTexts(std::move(errors), std::move(warnings));
}

void PrintSummary(TFileResultsModel& model, const TSummaryOptions& o) {
  const std::vector<TFileResultsModel::TGlobalRow> global = model.GlobalRows();
  struct TList {
    const char *Title, *JsonName;
    bool IsText;
    TFileResultsModel::TStatList Stats;
  };
  std::vector<TList> lists = {{"By Error Code", "errorsByCode", false, model.ErrorsByCode()},
                              {"By Warning Code", "warningsByCode", false, model.WarningsByCode()}};
  if (o.ByText) {
    lists.push_back({"By Error Message", "errorsByText", true, model.ErrorsByText()});
    lists.push_back({"By Warning Message", "warningsByText", true, model.WarningsByText()});
  }
  if (o.Json) {
    std::string out = "{\"global\":[";
    for (const auto& g : global) {
      out += std::string("{\"caption\":") + JsonString(g.Caption) + ",\"count\":" + std::to_string(g.Count);
      out += g.Percent.empty() ? "}]" : ",\"percent\":" + g.Percent + "},";
    }
    for (const TList& l : lists) {
      out += std::string(",\"") + l.JsonName + "\":[";
      for (std::size_t i = 0; i < l.Stats.Rows.size(); ++i) {
        const TFileResultsModel::TStatRow& r = l.Stats.Rows[i];
        out += std::string(i ? "," : "") + "{" + (l.IsText ? "" : "\"code\":" + JsonString(r.Key) + ",") +
               "\"text\":" + JsonString(r.Text) + ",\"count\":" + std::to_string(r.Count) +
               ",\"percent\":" + r.Percent + "}";
      }
      out += "]";
    }
    if (o.WithLineErrors) out += ",\"lineErrors\":" + std::to_string(o.LineErrors);
    out += "}\n";
    std::fputs(out.c_str(), stdout);
    return;
  }
  // Counts and percentages first, so that long catalogue texts do not break the columns.
  std::printf("Global Result\n");
  for (const auto& g : global)
    std::printf("  %10lld %8s  %s\n", static_cast<long long>(g.Count), g.Percent.c_str(), g.Caption.c_str());
  for (const TList& l : lists) {
    std::printf("\n%s\n", l.Title);
    for (const TFileResultsModel::TStatRow& r : l.Stats.Rows)
      std::printf("  %10lld %8s  %s\n", static_cast<long long>(r.Count), r.Percent.c_str(), r.Caption.c_str());
  }
  if (o.WithLineErrors && o.LineErrors) std::printf("\nLines that failed: %zu\n", o.LineErrors);
}

void PrintPage(TFileResultsModel& model, std::int64_t offset, std::int64_t rows, bool json) {
  const std::int64_t total = model.TotalMessages();
  const std::vector<verimek::TMessageRow> page = model.Page(offset, rows);
  if (json) {
    std::string out = "{\"offset\":" + std::to_string(offset < 0 ? 0 : offset) + ",\"total\":" + std::to_string(total) +
                      ",\"messages\":[";
    for (std::size_t i = 0; i < page.size(); ++i) {
      const verimek::TMessageRow& m = page[i];
      out += std::string(i ? "," : "") + "{\"id\":" + std::to_string(m.Id) + ",\"xehId\":" + std::to_string(m.XehId) +
             ",\"x921\":" + JsonString(m.X921) + ",\"x923\":" + JsonString(m.X923) + ",\"x925\":" + JsonString(m.X925) +
             ",\"x912\":" + std::to_string(m.X912) + ",\"x916\":" + JsonString(m.X916) +
             ",\"errors\":" + std::to_string(m.ErrorCount) + ",\"warnings\":" + std::to_string(m.WarningCount) + "}";
    }
    out += "]}\n";
    std::fputs(out.c_str(), stdout);
    return;
  }
  std::printf("ID\tXEH ID\tX921\tX923\tX925\tX912\tX916\tErrors\tWarnings\n");
  for (const verimek::TMessageRow& m : page)
    std::printf("%lld\t%lld\t%s\t%s\t%s\t%lld\t%s\t%lld\t%lld\n", static_cast<long long>(m.Id),
                static_cast<long long>(m.XehId), m.X921.c_str(), m.X923.c_str(), m.X925.c_str(),
                static_cast<long long>(m.X912), m.X916.c_str(), static_cast<long long>(m.ErrorCount),
                static_cast<long long>(m.WarningCount));
  if (!page.empty())
    std::printf("Records %lld to %lld of %lld\n", static_cast<long long>(page.front().Id),
                static_cast<long long>(page.back().Id), static_cast<long long>(total));
}

static std::string FindingRows(const std::vector<verimek::TStoredFinding>& list, bool json) {
  std::string out;
  for (const verimek::TStoredFinding& f : list) {
    if (json)
      out += std::string(out.empty() ? "" : ",") + "{\"segmentNo\":" + std::to_string(f.SegmentNo) +
             ",\"segmentKey\":" + JsonString(f.SegmentKey) + ",\"code\":" + JsonString(f.Code) +
             ",\"message\":" + JsonString(f.Message) + "}";
    else
      out += std::to_string(f.SegmentNo) + "\t" + f.SegmentKey + "\t" + f.Code + "\t" + f.Message + "\n";
  }
  return out;
}

void PrintMessage(TFileResultsModel& model, std::int64_t id, std::int64_t xeh, bool json) {
  const TFileResultsModel::TMessage m = model.Message(id, xeh);
  if (json) {
    std::printf("{\"id\":%lld,\"xehId\":%lld,\"text\":%s,\"errors\":[%s],\"warnings\":[%s]}\n",
                static_cast<long long>(id), static_cast<long long>(xeh), JsonString(m.Text).c_str(),
                FindingRows(m.Errors, true).c_str(), FindingRows(m.Warnings, true).c_str());
  } else {
    std::printf("%s\n\nErrors (%zu)\n%s\nWarnings (%zu)\n%s", m.Text.c_str(), m.Errors.size(),
                FindingRows(m.Errors, false).c_str(), m.Warnings.size(), FindingRows(m.Warnings, false).c_str());
  }
}

}  // namespace cli
