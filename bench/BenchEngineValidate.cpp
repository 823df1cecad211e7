// Validation speed against parsing alone, and memory over many validations.
//
// The corpus: the valid sample interchanges, with their Belgian addresses given postal codes of
// the large sample referential (non-obsolete rows), kept only when they validate cleanly.
// Prints parse-only MB/s (Kalvix alone), validate MB/s and messages/s (document Validate,
// filter on, inter-application off) and resident memory after 1 000 and 100 000 validations;
// the floors any checking engine on the parser's interfaces stays under; then messages/s with
// inter-application on (the sample engine database's control tables) and the cost of one
// typical condition script run.
// Usage: bench_validate [VALIDATIONS]
#include <edicom/EdiComCpp.h>
#include <kalvix/Kalvix.h>
#include <ruvala/Ruvala.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Platform.h"
#include "Registry.h"
#include "ecScript.h"
#include "ecTelebib.h"
#include "ecTypes.h"
#include "ecValidator.h"

using namespace edicom;
using bench::ResidentKb;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  long total = argc > 1 ? std::atol(argv[1]) : 100000;
  std::string tmp = common::TempFolder() + "bench-validate";
  std::string dir = bench::LargeSampleDir();
  if (dir.empty()) return 2;
  ::setenv("TARNHOLT_MACHINE_HIVE", (tmp + "-machine.reg").c_str(), 1);
  ::setenv("TARNHOLT_USER_HIVE", (tmp + "-user.reg").c_str(), 1);
  std::remove((tmp + "-machine.reg").c_str());
  {
    common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
    reg.OpenKey(ruvala::TTelebib::kRegistryKey, true);
    reg.WriteString("Referential", dir + "/referential.db");
  }
  std::string libDir = common::ExtractFilePath(common::ProgramFileName()) + "../lib/";
  if (!bench::RegisterServer(libDir + "libkalvix.so") || !bench::RegisterServer(libDir + "libruvala.so")) {
    std::fprintf(stderr, "cannot register the components in %s\n", libDir.c_str());
    return 2;
  }
  CoInitialize(nullptr);

  // Corpus.
  ruvala::TTelebib large;
  large.SetAccessDbName(dir + "/referential.db");
  std::vector<std::string> zips;
  for (const auto& p : large.Postals())
    if (p.FKey == "B" && p.FDateDel == 0) zips.push_back(p.FZipCode);
  std::vector<std::string> base;
  {
    std::ifstream in(EDI_SHARED_DIR "/samples/valid.txt");
    for (std::string l; std::getline(in, l);)
      if (!l.empty()) base.push_back(l);
  }
  ComPtr<ruvala::IEdiDocument> doc;
  if (FAILED(CreateInstance(ruvala::CLSID_EdiDocument, ruvala::IID_IEdiDocument, doc))) return 2;
  doc->put_InterApplication(VARIANT_FALSE);
  doc->put_CheckFilter(VARIANT_TRUE);
  doc->put_MessageDate(45838);
  std::vector<std::u16string> corpus;
  std::size_t tried = 0;
  for (std::size_t z = 0; corpus.size() < 500 && z < zips.size() * 2; ++z)
    for (const std::string& line : base) {
      std::string m = line;
      // "+1000+BRUXELLES+B" style address tails: swap the zip for one of the referential.
      for (std::size_t at = 0; (at = m.find("'ADR+", at)) != std::string::npos; ++at) {
        std::size_t end = m.find('\'', at + 1);
        std::size_t b = m.rfind("+B", end);
        if (b == std::string::npos || b < at || b + 2 != end) continue;
        std::size_t city = m.rfind('+', b - 1), zip = m.rfind('+', city - 1);
        if (zip <= at) continue;
        m.replace(zip + 1, city - zip - 1, zips[(z * 31 + at) % zips.size()]);
      }
      ++tried;
      BStr text(m);
      VARIANT_BOOL ok = VARIANT_FALSE;
      std::int32_t w = 0;
      if (SUCCEEDED(doc->Validate(text.Get(), &ok)) && ok == VARIANT_TRUE && SUCCEEDED(doc->get_WarningCount(&w)) &&
          w == 0)
        corpus.push_back(Utf8ToUtf16(m));
    }
  double bytes = 0;
  for (const auto& m : corpus) bytes += static_cast<double>(m.size());
  std::printf("corpus: %zu clean messages of %zu generated, %.0f bytes on average\n", corpus.size(), tried,
              corpus.empty() ? 0.0 : bytes / static_cast<double>(corpus.size()));
  if (corpus.empty()) return 2;

  std::vector<BStr> texts;
  for (const auto& m : corpus) texts.emplace_back(std::u16string_view(m));
  const long rounds = 20000;
  // Parse only: the parser's own work on the same texts, through its component.
  ComPtr<kalvix::IEdiMessage> msg;
  CreateInstance(kalvix::CLSID_EdiMessage, kalvix::IID_IEdiMessage, msg);
  double parsedBytes = 0;
  auto t0 = Clock::now();
  for (long i = 0; i < rounds; ++i) {
    const BStr& t = texts[static_cast<std::size_t>(i) % texts.size()];
    msg->Reset();
    msg->put_InputStream(t.Get());
    parsedBytes += t.Length();
  }
  double parseS = std::chrono::duration<double>(Clock::now() - t0).count();
  double parseMBs = parsedBytes / parseS / 1e6;

  // Floors: what a validation costs before any check, through the parser's component as the
  // validator must use it (a new message object per text, the walk with the Data stamp, Level
  // and Tag of every segment); then the same walk reading every field of the referential's
  // layout once, with the read list resolved beforehand and no conversion. No checking engine
  // built on the parser's interfaces can be faster than these.

  // Tags are three capitals: the read list of a tag is found by direct index, as cheaply as
  // anything could find it.
  auto tagIndex = [](const char* p, std::int32_t n) -> int {
    if (n != 3) return -1;
    for (int i = 0; i < 3; ++i)
      if (p[i] < 'A' || p[i] > 'Z') return -1;
    return ((p[0] - 'A') * 26 + (p[1] - 'A')) * 26 + (p[2] - 'A');
  };
  std::vector<std::vector<std::array<std::string, 2>>> reads(std::size_t{26} * 26 * 26);  // (composite, element)
  for (const auto& checker : large.Segments())
    for (const ruvala::TSegmentLayoutItem& row : checker->FLayout) {
      int tag = tagIndex(checker->FTag.data(), static_cast<std::int32_t>(checker->FTag.size()));
      if (tag < 0) continue;
      auto& list = reads[static_cast<std::size_t>(tag)];
      if (row.FCDE == "-") {
        list.push_back({"", row.FDE});
        continue;
      }
      for (const ruvala::TCdeLayoutItem& el : large.GetCDe(row.FCDE).FLayout) list.push_back({row.FCDE, el.FDe});
    }
  edicom::IClassFactory* factory = nullptr;
  if (FAILED(CoGetClassObject(kalvix::CLSID_EdiMessage, edicom::CLSCTX_INPROC_SERVER, nullptr,
                              edicom::IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
    std::fprintf(stderr, "cannot reach the parser's class factory\n");
    return 2;
  }
  long fieldReads = 0;
  // Each text of a round parsed in a new message object, as the validator has it, then walked
  // by walk; MB/s.
  auto timeWalks = [&](const std::function<void(kalvix::IEdiMessage*)>& walk) {
    double runBytes = 0;
    auto start = Clock::now();
    for (long i = 0; i < rounds; ++i) {
      const BStr& t = texts[static_cast<std::size_t>(i) % texts.size()];
      ComPtr<kalvix::IEdiMessage> m;
      factory->CreateInstance(nullptr, kalvix::IID_IEdiMessage, m.PutVoid());
      m->Reset();
      m->put_InputStream(t.Get());
      std::int32_t syntaxErrors = 0;
      m->get_ErrorCount(&syntaxErrors);
      walk(m.Get());
      runBytes += t.Length();
    }
    return runBytes / std::chrono::duration<double>(Clock::now() - start).count() / 1e6;
  };
  auto floorRun = [&](bool readFields) {
    return timeWalks([&](kalvix::IEdiMessage* m) {
      std::int32_t no = 0;
      Variant v;
      m->GetFirstSgmt(&v);
      ComPtr<kalvix::IEdiSegment> s = ruvala::SegmentFromVariant(v);
      while (s) {
        ComPtr<kalvix::IEdiSegmentValues> values;
        s->QueryInterface(kalvix::IID_IEdiSegmentValues, values.PutVoid());
        std::int32_t data = 0, level = 0, n = 0;
        s->get_Data(&data);
        s->put_Data(ruvala::DataWithSegmentNo(data, ++no));
        s->get_Level(&level);
        const char* p = nullptr;
        values->TagValue(&p, &n);
        if (readFields) {
          int tag = tagIndex(p, n);
          if (tag >= 0)
            for (const auto& [cde, de] : reads[static_cast<std::size_t>(tag)]) {
              values->FindValue(cde.data(), static_cast<std::int32_t>(cde.size()), cde.empty() ? 0 : 1, de.data(),
                                static_cast<std::int32_t>(de.size()), 1, &p, &n);
              ++fieldReads;
            }
        }
        Variant next;
        s->GetNextSgmt(&next);
        s = ruvala::SegmentFromVariant(next);
      }
    });
  };
  // The same floors through the parser's cursor, as the validator walks now: no handle per
  // segment, each field read by its slot, resolved on the tag's first segment.
  std::vector<std::vector<std::int32_t>> slots(reads.size());
  std::vector<bool> resolved(reads.size(), false);
  auto cursorRun = [&](bool readFields) {
    return timeWalks([&](kalvix::IEdiMessage* m) {
      std::int32_t no = 0;
      ComPtr<kalvix::IEdiSegmentCursor> c;
      m->QueryInterface(kalvix::IID_IEdiSegmentCursor, c.PutVoid());
      for (HRESULT hr = c->MoveFirst(); hr == edicom::S_OK; hr = c->MoveNext()) {
        std::int32_t data = 0, level = 0, n = 0;
        c->get_Data(&data);
        c->put_Data(ruvala::DataWithSegmentNo(data, ++no));
        c->get_Level(&level);
        const char* p = nullptr;
        c->TagValue(&p, &n);
        if (!readFields) continue;
        int tag = tagIndex(p, n);
        if (tag < 0) continue;
        const auto tagNo = static_cast<std::size_t>(tag);
        if (!resolved[tagNo]) {
          resolved[tagNo] = true;
          for (const auto& [cde, de] : reads[tagNo]) {
            std::int32_t slot = -1;
            c->SlotOf(cde.data(), static_cast<std::int32_t>(cde.size()), cde.empty() ? 0 : 1, de.data(),
                      static_cast<std::int32_t>(de.size()), 1, &slot);
            slots[tagNo].push_back(slot);
          }
        }
        for (std::int32_t slot : slots[tagNo]) c->SlotValue(slot, &p, &n);
      }
    });
  };
  double walkMBs = floorRun(false);
  double readMBs = floorRun(true);
  double cursorWalkMBs = cursorRun(false);
  double cursorReadMBs = cursorRun(true);
  factory->Release();

  // Validates `count` texts of the corpus in turn: seconds taken, messages with errors, bytes.
  long rss1000 = 0;
  auto validateRun = [&](long count, long& errors, double& runBytes) {
    errors = 0;
    runBytes = 0;
    auto start = Clock::now();
    for (long i = 0; i < count; ++i) {
      const BStr& t = texts[static_cast<std::size_t>(i) % texts.size()];
      VARIANT_BOOL ok;
      doc->Validate(t.Get(), &ok);
      if (ok != VARIANT_TRUE) ++errors;
      runBytes += t.Length();
      if (i + 1 == 1000 && rss1000 == 0) rss1000 = ResidentKb();
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  long errors = 0;
  double validBytes = 0;
  double validS = validateRun(total, errors, validBytes);
  double validMBs = validBytes / validS / 1e6;
  std::printf("parse only: %.1f MB/s (%ld messages)\n", parseMBs, rounds);
  std::printf("validate:   %.1f MB/s, %.0f messages/s (%ld validations, %ld with errors)\n", validMBs,
              static_cast<double>(total) / validS, total, errors);
  std::printf("validate / parse: %.0f%% (target 18%% or more, 25%% stretch)\n", 100.0 * validMBs / parseMBs);
  std::printf("floor, the validator's walk without checks: %.1f MB/s, %.0f%% of parse\n", walkMBs,
              100.0 * walkMBs / parseMBs);
  std::printf("floor, that walk reading each layout field once (%.0f reads a message): %.1f MB/s, %.0f%% of parse\n",
              static_cast<double>(fieldReads) / static_cast<double>(rounds), readMBs, 100.0 * readMBs / parseMBs);
  std::printf(
      "floor, the same walk by the parser's cursor: %.1f MB/s, %.0f%% of parse; reading each field by slot: "
      "%.1f MB/s, %.0f%% of parse\n",
      cursorWalkMBs, 100.0 * cursorWalkMBs / parseMBs, cursorReadMBs, 100.0 * cursorReadMBs / parseMBs);
  std::printf("resident: %.1f MB after 1 000 validations, %.1f MB after %ld\n", rss1000 / 1024.0, ResidentKb() / 1024.0,
              total);

  // The same texts with one fault each (a date that is no date, an amount that is no number, a
  // postal code the referential lacks), kept when they give a finding; each run reads every
  // finding object and its text, as a client does.
  std::vector<BStr> faulty;
  {
    auto mutate = [](std::string m, int kind) {
      auto after = [&](const char* mark) {
        std::size_t at = m.find(mark);
        return at == std::string::npos ? at : at + std::char_traits<char>::length(mark);
      };
      std::size_t at = std::string::npos;
      if (kind == 0 && (at = after("'DTM+001:")) != std::string::npos && at + 8 <= m.size())
        m.replace(at, 8, "32132025");
      else if (kind == 1 && (at = after("'MOA+001:")) != std::string::npos)
        m.insert(at, "X");
      else if (kind == 2 && (at = after("'ADR+")) != std::string::npos) {
        std::size_t end = m.find('\'', at), b = m.rfind("+B", end);
        std::size_t city = b == std::string::npos || b < at ? b : m.rfind('+', b - 1);
        std::size_t zip = city == std::string::npos || city <= at ? city : m.rfind('+', city - 1);
        if (zip == std::string::npos || zip <= at) return std::string();
        m.replace(zip + 1, city - zip - 1, "0000");
      } else
        return std::string();
      return m;
    };
    for (std::size_t i = 0; i < corpus.size(); ++i)
      for (int k = 0; k < 3; ++k) {
        std::string m = mutate(edicom::Utf16ToUtf8(corpus[i]), static_cast<int>((i + static_cast<std::size_t>(k)) % 3));
        if (m.empty()) continue;
        BStr text(m);
        VARIANT_BOOL ok = VARIANT_TRUE;
        std::int32_t w = 0;
        if (SUCCEEDED(doc->Validate(text.Get(), &ok)) && SUCCEEDED(doc->get_WarningCount(&w)) &&
            (ok != VARIANT_TRUE || w > 0)) {
          faulty.push_back(std::move(text));
          break;
        }
      }
  }
  if (!faulty.empty()) {
    long findings = 0;
    auto start = Clock::now();
    for (long i = 0; i < total; ++i) {
      const BStr& t = faulty[static_cast<std::size_t>(i) % faulty.size()];
      VARIANT_BOOL ok;
      doc->Validate(t.Get(), &ok);
      std::int32_t ne = 0, nw = 0;
      doc->get_ErrorCount(&ne);
      doc->get_WarningCount(&nw);
      for (std::int32_t e = 0; e < ne; ++e) {
        ruvala::IEdiError* obj = nullptr;
        if (FAILED(doc->get_Errors(e, &obj)) || !obj) continue;
        BStr text;
        obj->get_ErrorMessage(text.Put());
        findings += text.Length() > 0 ? 1 : 0;
        obj->Release();
      }
      for (std::int32_t e = 0; e < nw; ++e) {
        ruvala::IEdiWarning* obj = nullptr;
        if (FAILED(doc->get_Warnings(e, &obj)) || !obj) continue;
        BStr text;
        obj->get_WarningMessage(text.Put());
        findings += text.Length() > 0 ? 1 : 0;
        obj->Release();
      }
    }
    double rate = static_cast<double>(total) / std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "validate, a finding in every message: %.0f messages/s (%zu texts, %ld findings read), %.0f%% of the clean "
        "corpus (target 80%% or more)\n",
        rate, faulty.size(), findings, 100.0 * rate / (static_cast<double>(total) / validS));
  }

  // The same corpus with the control tables on.
  const long iaRounds = std::min(total, 20000L);
  doc->put_InterApplication(VARIANT_TRUE);
  long iaErrors = 0;
  double iaBytes = 0;
  double iaS = validateRun(iaRounds, iaErrors, iaBytes);
  double offRate = static_cast<double>(total) / validS, iaRate = static_cast<double>(iaRounds) / iaS;
  std::printf(
      "validate, inter-application on: %.0f messages/s (%ld validations, %ld with errors), %.0f%% of off "
      "(target 70%% or more)\n",
      iaRate, iaRounds, iaErrors, 100.0 * iaRate / offRate);

  // One condition run as a rule runs it: host prepared, Value set, script text as in the table.
  {
    ruvala::TValidator validator(&large);
    ruvala::TScriptModule host;
    host.Validator = &validator;
    const std::string condition =
        "begin\n  ErrorMsg := '';\n  result := length(Value) = 8;\n  if not result then\n"
        "    ErrorMsg := 'Effective date (DTM+001) must have 8 digits, found ''' + Value + '''';\nend";
    const long runs = 200000;
    std::string message;
    long passed = 0;
    auto c0 = Clock::now();
    for (long i = 0; i < runs; ++i) {
      host.Script().SetGlobalConstant("Value", ruvala::script::TValue(std::string(i % 2 ? "01012025" : "2025")));
      passed += host.Execute(condition, message) ? 1 : 0;
    }
    double us = std::chrono::duration<double, std::micro>(Clock::now() - c0).count() / static_cast<double>(runs);
    std::printf("condition run: %.2f us each (%ld runs, %ld passed)\n", us, runs, passed);
  }
  doc.Reset();
  msg.Reset();
  CoUninitialize();
  std::remove((tmp + "-machine.reg").c_str());
  std::remove((tmp + "-user.reg").c_str());
  return 0;
}
