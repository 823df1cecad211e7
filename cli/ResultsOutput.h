// What the file sheet shows of a results database, printed as text or JSON: the summary of a
// run, a page of messages, one message with its findings. validate and results both print here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ResultsReader.h"

namespace cli {

// The engine's code lists into the model; left empty when no engine can be created.
void LoadCodeTexts(verimek::TFileResultsModel& model);

struct TSummaryOptions {
  bool Json = false;
  bool ByText = false;
  bool WithLineErrors = false;
  std::size_t LineErrors = 0;
};

void PrintSummary(verimek::TFileResultsModel& model, const TSummaryOptions& o);
// A page of messages as the details list shows it.
void PrintPage(verimek::TFileResultsModel& model, std::int64_t offset, std::int64_t rows, bool json);
// One message: its text, then its errors and warnings.
void PrintMessage(verimek::TFileResultsModel& model, std::int64_t id, std::int64_t xehId, bool json);

}  // namespace cli
