// Parser throughput and memory on a generated corpus of well-formed interchanges of all
// twelve message classes (nested blocks, released characters, 1-20 KB each, fixed seed).
// Prints, for InputStream (UTF-16 in, tree built), a walk with GetNextSgmt and Find, and
// Generate: MB/s, segments/s and peak heap per MB of input, beside a memchr pass over the same
// bytes. Times are the CPU time of the benchmark's thread.   kalvix_bench [MEGABYTES]   (default 50)
#include <malloc.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "EdiObjects.h"
#include "Grammar.h"
#include "Layouts.h"
#include "TextCodec.h"

// Heap accounting of everything allocated through operator new (trees, strings, handles).
static std::atomic<long long> gHeapNow{0}, gHeapPeak{0};
void* operator new(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  long long now = gHeapNow += static_cast<long long>(malloc_usable_size(p));
  long long peak = gHeapPeak.load();
  while (now > peak && !gHeapPeak.compare_exchange_weak(peak, now)) {
  }
  return p;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  gHeapNow -= static_cast<long long>(malloc_usable_size(p));
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

using namespace kalvix;
using namespace edicom;

namespace {

class CorpusWriter {
 public:
  explicit CorpusWriter(unsigned seed) : FRand(seed) {}

  std::string Interchange(std::size_t target) {
    static const char* const kClasses[] = {"01", "02", "03", "04", "05", "06", "07", "08", "09", "90", "91", "97"};
    static const int kBodyKinds[] = {tkXehCntrct, tkXehClafil, tkXehPrenot, tkXehRquest, tkXehAssmnt, tkXehRcaptn,
                                     tkXehCurrac, tkXehClaset, tkXehFrprev, tkXehVehdes, tkXehPtydes, tkXehTecobj};
    std::string out = "XGH+1+0039:01+104512+002'";
    int msg = 0;
    while (out.size() < target) {
      int c = Pick(12);
      out += std::string("XEH+") + kClasses[c] + "+1+" + std::to_string(++msg) + "+1++10'";
      Model(out, Layouts::Get().BodyOfHeader(kBodyKinds[c]), 0, 1, target);
      out += std::string("XET+") + kClasses[c] + "'";
    }
    out += "XGT+1'";
    return out;
  }

 private:
  int Pick(int n) { return static_cast<int>(FRand() % static_cast<unsigned>(n)); }

  void Value(std::string& out) {
    int len = 1 + Pick(12);
    bool digits = Pick(2) == 0;
    for (int i = 0; i < len; ++i) {
      if (Pick(40) == 0) {
        out += '?';
        out += "+:'?"[Pick(4)];
      } else {
        out += static_cast<char>(digits ? '0' + Pick(10) : 'A' + Pick(26));
      }
    }
  }

  void Segment(std::string& out, const SegmentLayout& l) {
    out += l.tag;
    out += '+';
    int elements = 0;
    for (int i = 0; i < l.count; ++i) elements += (l.elementEnd >> i) & 1;
    int keep = 1 + Pick(elements);
    if (l.secondSepRequired && keep < 2) keep = 2;
    int e = 0;
    for (int i = 0; i < l.count && e < keep; ++i) {
      if (Pick(5) != 0) Value(out);
      if ((l.elementEnd >> i) & 1) {
        if (++e < keep) out += '+';
      } else if (Pick(3) != 0) {
        out += ':';
      } else {
        while (!((l.elementEnd >> i) & 1)) ++i;
        if (++e < keep) out += '+';
      }
    }
    out += '\'';
  }

  void Model(std::string& out, const ContentModel& m, std::size_t start, int depth, std::size_t target) {
    const Layouts& ls = Layouts::Get();
    for (std::size_t i = start; i < m.entries.size() && out.size() < target; ++i) {
      const SegmentLayout& l = ls.At(m.entries[i]);
      int times = Pick(3);
      for (int k = 0; k < times; ++k) {
        if (l.cls != 'R') {
          Segment(out, l);
        } else if (depth <= 4) {
          out += "XRH+" + std::to_string(depth) + "'";
          Segment(out, l);
          Model(out, *ls.Rubrique(l.index), 1, depth + 1, target);
          out += "XRT+" + std::to_string(depth) + "'";
        }
      }
    }
  }

  std::mt19937 FRand;
};

// CPU time of this thread: other work on the machine (builds, tests) does not count against
// the figures, and memchr and the parser are timed the same way.
struct CpuClock {
  using time_point = double;
  static double now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
};

double Seconds(double a, double b) { return b - a; }

}  // namespace

int main(int argc, char** argv) {
  ErrorReporter::SetEchoEnabled(false);
  std::size_t megabytes = argc > 1 ? static_cast<std::size_t>(std::atol(argv[1])) : 50;
  std::size_t total = megabytes << 20;

  CorpusWriter gen(20251210);
  std::mt19937 sizes(7);
  std::vector<std::string> texts;
  std::size_t bytes = 0;
  while (bytes < total) {
    std::size_t target = 1024 + sizes() % (19 * 1024);
    texts.push_back(gen.Interchange(target));
    bytes += texts.back().size();
  }
  std::vector<BStr> wide;
  wide.reserve(texts.size());
  for (const std::string& t : texts) wide.emplace_back(std::u16string_view(common::AnsiToUtf16(t)));
  std::string all;
  for (const std::string& t : texts) all += t;

  // memchr count of segment terminators. This pass and the InputStream pass each run three
  // times and keep their fastest, so that a burst of other work on the machine weighs on neither.
  constexpr int kReps = 3;
  double memchrTime = 1e300;
  std::size_t terminators = 0;
  for (int rep = 0; rep < kReps; ++rep) {
    auto t0 = CpuClock::now();
    std::size_t count = 0;
    const char* p = all.data();
    const char* end = p + all.size();
    while ((p = static_cast<const char*>(std::memchr(p, '\'', static_cast<std::size_t>(end - p))))) {
      ++count;
      ++p;
    }
    memchrTime = std::min(memchrTime, Seconds(t0, CpuClock::now()));
    terminators = count;
  }
  double memchrMBs = static_cast<double>(all.size()) / (1 << 20) / memchrTime;

  // The grammar alone on the 8-bit text, without the conversion at the boundary.
  // Also the memory of a fresh tree per interchange, as a validation that creates a new
  // message object for each text sees it.
  double parse8 = 0, freshHeld = 0, freshWorst = 0, arenaUsed = 0;
  for (const std::string& t : texts) {
    SegmentTree tree;
    ErrorReporter rep;
    std::string copy;
    copy.reserve(t.size() + kSourcePad + 1);  // as InputStream sizes its text
    copy = t;
    auto a = CpuClock::now();
    ParseInterchange(std::move(copy), tree, rep);
    parse8 += Seconds(a, CpuClock::now());
    freshHeld += static_cast<double>(tree.HeapBytes());
    arenaUsed += static_cast<double>(tree.ArenaUsed());
    freshWorst = std::max(freshWorst, static_cast<double>(tree.HeapBytes()) / static_cast<double>(t.size()));
  }

  ComPtr<IEdiMessage> msg = ComPtr<IEdiMessage>::Attach(new EdiMessage);
  auto* impl = static_cast<EdiMessage*>(msg.Get());
  double parseTime = 0, walkTime = 0, genTime = 0;
  std::size_t segments = 0, errors = 0, walked = 0, generated = 0, finds = 0;
  long long peakOverBase = 0;
  double treeBytesPerByte = 0;
  double treeBytes = 0;
  // InputStream on its own, the whole corpus in one timed pass: the walk and Generate between
  // two texts would leave it with cold caches, and per-text clock reads would count too.
  parseTime = 1e300;
  for (int rep = 0; rep < kReps; ++rep) {
    auto a = CpuClock::now();
    for (const BStr& w : wide) msg->put_InputStream(w.Get());
    parseTime = std::min(parseTime, Seconds(a, CpuClock::now()));
  }
  for (std::size_t i = 0; i < texts.size(); ++i) {
    gHeapPeak = gHeapNow.load();
    long long base = gHeapNow.load();
    msg->put_InputStream(wide[i].Get());
    long long peak = gHeapPeak.load() - base;
    peakOverBase = std::max(peakOverBase, peak * 1000 / static_cast<long long>(texts[i].size()));
    treeBytesPerByte = std::max(treeBytesPerByte, static_cast<double>(impl->Tree().HeapBytes()) / texts[i].size());
    treeBytes += impl->Tree().HeapBytes();
    std::int32_t n = 0;
    msg->get_ErrorCount(&n);
    errors += static_cast<std::size_t>(n);

    auto a = CpuClock::now();
    Variant v;
    msg->GetFirstSgmt(&v);
    BStr x043(u"X043"), value;
    ComPtr<IEdiSegment> s;
    if (v.vt == VT_DISPATCH) s = ComPtr<IEdiSegment>::Attach(static_cast<IEdiSegment*>(v.pdispVal)), v.vt = VT_EMPTY;
    while (s) {
      ++walked;
      if (SUCCEEDED(s->Find(x043.Get(), 1, value.Put()))) finds += value.Length() > 0;
      Variant next;
      s->GetNextSgmt(&next);
      s.Reset();
      if (next.vt == VT_DISPATCH) {
        s = ComPtr<IEdiSegment>::Attach(static_cast<IEdiSegment*>(next.pdispVal));
        next.vt = VT_EMPTY;
      }
    }
    auto b = CpuClock::now();
    walkTime += Seconds(a, b);

    a = CpuClock::now();
    BStr out;
    msg->Generate(out.Put());
    b = CpuClock::now();
    genTime += Seconds(a, b);
    generated += out.Length();
  }
  segments = terminators;
  double mb = static_cast<double>(all.size()) / (1 << 20);
  std::printf("corpus: %zu interchanges, %.1f MB, %zu segments (%zu in trees), %zu syntax errors\n", texts.size(), mb,
              terminators, walked, errors);
  std::printf("%-34s %10s %14s\n", "", "MB/s", "segments/s");
  std::printf("%-34s %10.0f %14.0f\n", "memchr count of \"'\" (best of 3)", memchrMBs,
              static_cast<double>(terminators) * memchrMBs / mb);
  std::printf("%-34s %10.1f %14.0f   (%.1f%% of memchr; target 10%%)\n", "InputStream (UTF-16 in; best of 3)",
              mb / parseTime, static_cast<double>(segments) / parseTime, 100.0 * (mb / parseTime) / memchrMBs);
  std::printf("%-34s %10.1f %14.0f\n", "grammar alone (8-bit in, tree)", mb / parse8,
              static_cast<double>(segments) / parse8);
  std::printf("%-34s %10.1f %14.0f\n", "walk: GetNextSgmt + Find", mb / walkTime,
              static_cast<double>(walked) / walkTime);
  std::printf("%-34s %10.1f %14.0f   (%zu characters written)\n", "Generate", mb / genTime,
              static_cast<double>(walked) / genTime, generated);
  std::printf(
      "heap MB per MB of input (target 8): peak growth during InputStream %.2f (worst interchange); one message object "
      "reused:"
      " %.2f held on average, %.2f worst\n",
      static_cast<double>(peakOverBase) / 1000.0, treeBytes / static_cast<double>(all.size()), treeBytesPerByte);
  if (const char* dump = std::getenv("KALVIX_BENCH_DUMP")) {
    FILE* f = std::fopen(dump, "wb");
    std::fwrite(texts[0].data(), 1, texts[0].size(), f);
    std::fclose(f);
  }
  std::printf(
      "fresh tree per interchange: %.2f heap MB per MB of input on average (%.2f of it nodes and values), %.2f worst\n",
      freshHeld / static_cast<double>(all.size()), arenaUsed / static_cast<double>(all.size()), freshWorst);
  return errors == 0 ? 0 : 1;
}
