// Cost of trace records: one no sink wants (the common case inside the engine's lookups), and
// one written to a text file synchronously and through the asynchronous queue.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "SysTrace.h"
#include "SysTraceFiles.h"

namespace {

struct TLookup {
  virtual ~TLookup() = default;
};

std::string BenchFolder() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/tracebench-XXXXXX";
    return std::string(mkdtemp(tmpl)) + "/";
  }();
  return dir;
}

void BM_FilteredWrite(benchmark::State& state) {
  common::TTrace* t = common::Trace();
  for (auto _ : state) t->Write("TValeurs", "Find(X001)", common::ttDebug);
}
BENCHMARK(BM_FilteredWrite);

void BM_FilteredWriteFmt(benchmark::State& state) {
  common::TTrace* t = common::Trace();
  TLookup self;
  std::string code = "X001";
  for (auto _ : state) t->WriteFmt(&self, common::ttDebug, "Find(%s, %d)", code, 42);
}
BENCHMARK(BM_FilteredWriteFmt);

void TextFileRecord(benchmark::State& state, bool async) {
  common::TTrace trace;
  common::TTextFile* f = trace.TextFile();
  f->SetOutputDir(BenchFolder());
  f->SetModuleName(async ? "async.so" : "sync.so");
  f->SetCleanUp(false);
  f->SetActive(true);
  trace.SetAsync(async);
  TLookup self;
  for (auto _ : state) trace.Write(&self, "Validate() of a message of ordinary length", common::ttInformation);
  trace.SetAsync(false);  // after the timed loop: writes what is still queued
}

void BM_TextFileRecordSync(benchmark::State& state) { TextFileRecord(state, false); }
BENCHMARK(BM_TextFileRecordSync);

// The caller's cost only: the writer thread takes one record every 100 ms.
void BM_TextFileRecordAsync(benchmark::State& state) { TextFileRecord(state, true); }
BENCHMARK(BM_TextFileRecordAsync)->Iterations(20000);

}  // namespace
