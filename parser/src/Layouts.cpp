// The three Telebib2 tables, written once as data and read into lookup structures on first use.
#include "Layouts.h"

#include <kalvix/Layouts.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

namespace kalvix {

namespace {

struct ModelRow {
  const char* key;
  const char* tags;
};

const ModelRow kEnsembleRows[] = {
    {"5,1", "GIS DTM RFF ATT BIN MOA QTY FTX PTY ACT PAT DOD"},
    {"2,1", "GIS IPD DTM RFF ATT BIN MOA QTY FTX ACT DOC PTY EVT DPT"},
    {"8,1", "GIS DTM RFF ATT BIN MOA QTY PTY ROD"},
    {"1,2", "GIS IPD IFD DTM RFF ATT BIN MOA QTY PCD FTX ACT DOC CLS PTY ROD"},
    {"7,1", "GIS DTM RFF ATT MOA FTX PTY LIN"},
    {"9,1", "GIS IPD DTM RFF ATT BIN MOA QTY PTY ICD ROD"},
    {"3,1", "GIS IPD DTM RFF ATT MOA QTY PCD IND FTX PTY PER ACT"},
    {"91,1", "NME ADR DTM RFF COM PFN ATT BIN MOA QTY PCD FTX QRS DOC RPT"},
    {"6,1", "GIS DTM ATT MOA QTY PTY"},
    {"4,1", "GIS IPD DTM RFF ATT BIN MOA QTY PTY"},
    {"97,1", "RFF QTY DOC"},
    {"90,1", "NME DTM RFF ATT BIN MOA QTY PCD"},
};

// The first entry of each block model is the rubrique itself.
const ModelRow kRubriqueRows[] = {
    {"ACT", "ACT ADR DTM RFF ATT BIN MOA QTY FTX PTY"},
    {"CLS", "CLS PAR"},
    {"DAM", "DAM DTM ATT BIN MOA PCD FTX DOD IDD PTY ICD"},
    {"DED", "DED ATT BIN MOA PCD DTM ADR"},
    {"DOC", "DOC GIS IPD DTM RFF ATT BIN MOA QTY FTX MMD"},
    {"DOD", "DOD GIS NME ADR DTM RFF ATT BIN MOA QTY PCD FTX GEC PTY VAL"},
    {"DPT", "DPT NME ADR DTM RFF COM PFN ATT BIN MOA QTY PCD FTX QRS DOC RPT DAM PAT"},
    {"EVT", "EVT GIS ADR DTM RFF ATT BIN FTX GEC PTY ROD"},
    {"FND", "FND DTM RFF MOA QTY PCD FTX"},
    {"GEC", "GEC RFF ATT QTY FTX"},
    {"ICD", "ICD GIS IFD DTM RFF ATT BIN MOA QTY PCD IND FTX QRS DOC CLS PTY DED IDD ISD FND"},
    {"IDD", "IDD GIS IFD BIN MOA PCD"},
    {"IRD", "IRD IPD IDD"},
    {"ISD", "ISD GIS IFD ATT BIN MOA QTY PCD FTX QRS CLS DED IDD PTY"},
    {"LIN", "LIN GIS IPD DTM RFF ATT BIN MOA FTX PTY"},
    {"PAT", "PAT DTM RFF ATT BIN MOA FTX IDD PTY ICD"},
    {"PER", "PER DTM MOA ROD"},
    {"PTY", "PTY GIS NME ADR DTM RFF COM PFN ATT BIN MOA QTY PCD FTX QRS DOC RPT"},
    {"QRS", "QRS DTM RFF ATT BIN MOA QTY PCD FTX RDT"},
    {"RDT", "RDT DTM RFF ATT BIN MOA QTY FTX"},
    {"RLE", "RLE RFF"},
    {"ROD", "ROD GIS NME ADR DTM RFF PFN ATT BIN MOA QTY PCD IND FTX GEC QRS DOC PTY ICD SRO"},
    {"RPT", "RPT GIS NME ADR DTM RFF COM ATT BIN RLE IRD"},
    {"SRO", "SRO GIS NME ADR DTM RFF ATT BIN MOA QTY FTX CLS PTY"},
    {"VAL", "VAL GIS DTM ATT BIN MOA"},
};

// Class header tokens in kind order: two-digit code and body.
struct ClassRow {
  const char* code;
  const char* body;
};
const ClassRow kClassRows[12] = {
    {"05", "5,1"}, {"02", "2,1"},  {"08", "8,1"}, {"01", "1,2"}, {"07", "7,1"},  {"09", "9,1"},
    {"03", "3,1"}, {"91", "91,1"}, {"06", "6,1"}, {"04", "4,1"}, {"97", "97,1"}, {"90", "90,1"},
};

std::vector<std::string_view> SplitBlanks(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && s[i] == ' ') ++i;
    std::size_t j = i;
    while (j < s.size() && s[j] != ' ') ++j;
    if (j > i) out.push_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

int TagSlot(std::string_view tag) {
  if (tag.size() != 3) return -1;
  int v = 0;
  for (char c : tag) {
    if (c < 'A' || c > 'Z') return -1;
    v = v * 26 + (c - 'A');
  }
  return v;
}

}  // namespace

const char* Layouts::ClassCodeOfHeader(int kind) { return kClassRows[kind - tkXehAssmnt].code; }

Layouts::Layouts() {
  for (int& k : FByKind) k = -1;
  for (auto& t : FByTag) t = -1;
  int tagKind = tkFirstTag;
  for (const tables::SegmentRow& row : tables::kSegmentRows) {
    SegmentLayout l;
    l.tag = row.tag;
    l.cls = row.cls;
    l.index = static_cast<int>(FLayouts.size());
    std::vector<std::string_view> parts = SplitBlanks(row.keys);
    for (std::size_t i = 0; i < parts.size(); ++i) {
      std::string_view p = parts[i];
      if (p == "+" || p == ":") continue;
      bool data = p.back() == '*';
      if (data) p.remove_suffix(1);
      l.keys[l.count] = std::string(p);
      if (p.size() <= sizeof l.packed[0]) std::memcpy(l.packed[l.count], p.data(), p.size());
      if (data) l.initialFlags |= 1u << l.count;
      if (i + 1 >= parts.size() || parts[i + 1] == "+") l.elementEnd |= 1u << l.count;
      ++l.count;
    }
    std::fill(std::begin(l.buckets), std::end(l.buckets), std::int8_t{-1});
    for (int k = 0; k < l.count; ++k) {
      if (l.keys[k].size() > sizeof l.packed[0]) continue;
      // Probing in key order: of equal keys the first is found, as a scan would find it.
      unsigned b = KeyBucket(l.packed[k]);
      while (l.buckets[b] >= 0) b = (b + 1) % SegmentLayout::kBuckets;
      l.buckets[b] = static_cast<std::int8_t>(k);
    }
    l.secondSepRequired = l.tag == "MMD";
    if (row.cls != 'T') {
      l.kind = tagKind++;
    } else if (l.tag == "XET") {
      l.kind = tkTagXet;
      FXet = l.index;
    } else if (l.tag == "XGT") {
      l.kind = tkTagXgt;
      FXgt = l.index;
    } else if (l.tag == "XRH") {
      l.kind = tkXrh;
    } else if (l.tag == "XRT") {
      l.kind = tkXrt;
    } else if (l.tag == "XGH") {
      FXgh = l.index;
    } else if (l.tag == "XEH") {
      FXeh = l.index;
    }
    if (l.kind != tkInvalid) FByKind[l.kind] = l.index;
    FByTag[TagSlot(l.tag)] = static_cast<std::int16_t>(l.index);
    FFlags[l.index].store(l.initialFlags, std::memory_order_relaxed);
    FLayouts.push_back(std::move(l));
  }
  auto readModel = [this](const ModelRow& row) {
    ContentModel m;
    m.key = row.key;
    for (std::string_view t : SplitBlanks(row.tags)) {
      int idx = IndexOf(t);
      if (FLayouts[idx].cls == 'R') {
        if (!m.entries.empty()) m.lastBlock = static_cast<int>(m.entries.size());
        m.rubriques |= 1u << m.entries.size();
      }
      m.entries.push_back(idx);
      m.kinds.push_back(static_cast<std::int8_t>(FLayouts[idx].kind));
    }
    return m;
  };
  for (const ModelRow& row : kEnsembleRows) FEnsembles.push_back(readModel(row));
  FRubriqueOfLayout.assign(FLayouts.size(), -1);
  for (const ModelRow& row : kRubriqueRows) {
    FRubriqueOfLayout[IndexOf(row.key)] = static_cast<int>(FRubriques.size());
    FRubriques.push_back(readModel(row));
  }
  for (int c = 0; c < 12; ++c)
    for (std::size_t e = 0; e < FEnsembles.size(); ++e)
      if (FEnsembles[e].key == kClassRows[c].body) FBodyOfHeader[c] = static_cast<int>(e);
  ComputeFollowSets();
}

void Layouts::ComputeFollowSets() {
  FFollowSeg.assign(FLayouts.size(), KindSet());
  FFollowBlock.assign(FLayouts.size(), KindSet());
  auto first = [this](int layoutIdx) { return FLayouts[layoutIdx].cls == 'R' ? int(tkXrh) : FLayouts[layoutIdx].kind; };
  // What may follow position i of a model: any later entry (every loop may be empty), then
  // what ends the model.
  auto after = [&](const ContentModel& m, std::size_t i, int endKind) {
    KindSet s;
    for (std::size_t j = i + 1; j < m.entries.size(); ++j) s.Add(first(m.entries[j]));
    s.Add(endKind);
    return s;
  };
  auto walk = [&](const ContentModel& m, std::size_t start, int endKind) {
    for (std::size_t i = start; i < m.entries.size(); ++i) {
      int idx = m.entries[i];
      KindSet s = after(m, i, endKind);
      if (FLayouts[idx].cls == 'R') {
        s.Add(tkXrh);
        FFollowBlock[idx] |= s;
        FFollowXrh.Add(FLayouts[idx].kind);
      } else {
        s.Add(FLayouts[idx].kind);
        FFollowSeg[idx] |= s;
      }
    }
  };
  for (const ContentModel& m : FEnsembles) {
    walk(m, 0, tkTagXet);
    for (int idx : m.entries) FFollowMsgHeader.Add(first(idx));
  }
  FFollowMsgHeader.Add(tkTagXet);
  for (const ContentModel& m : FRubriques) {
    FFollowSeg[m.entries[0]] |= after(m, 0, tkXrt);
    walk(m, 1, tkXrt);
  }
  for (const SegmentLayout& l : FLayouts)
    if (l.cls == 'R') FFollowXrt |= FFollowBlock[l.index];
}

int Layouts::IndexOf(std::string_view tag) const {
  int slot = TagSlot(tag);
  return slot < 0 ? -1 : FByTag[slot];
}

const ContentModel* Layouts::Ensemble(std::string_view key) const {
  for (const ContentModel& m : FEnsembles)
    if (m.key == key) return &m;
  return nullptr;
}

const ContentModel* Layouts::Rubrique(int layoutIndex) const {
  if (layoutIndex < 0 || layoutIndex >= Count()) return nullptr;
  int r = FRubriqueOfLayout[layoutIndex];
  return r < 0 ? nullptr : &FRubriques[r];
}

static int FindPacked(const SegmentLayout& layout, const std::uint64_t w[2]) {
  // A key of this length is among the packed ones or nowhere.
  for (unsigned b = KeyBucket(w);; b = (b + 1) % SegmentLayout::kBuckets) {
    const std::int8_t i = layout.buckets[b];
    if (i < 0) return -1;
    if (layout.packed[i][0] == w[0] && layout.packed[i][1] == w[1]) return i;
  }
}

static std::uint64_t Load4(std::string_view s) {
  std::uint32_t v;
  std::memcpy(&v, s.data(), 4);
  return v;
}

int FindKey(const SegmentLayout& layout, std::string_view composite, int compositePos, std::string_view element,
            int elementPos) {
  // The usual shape, four-character codes and one-digit positions, packed in registers: a key
  // written byte by byte into memory and read back as words stalls the load.
  if constexpr (std::endian::native == std::endian::little) {
    bool withComposite = !composite.empty() && compositePos > 0;
    if (element.size() == 4 && elementPos >= 0 && elementPos <= 9 &&
        (!withComposite || (composite.size() == 4 && compositePos <= 9))) {
      const std::uint64_t ed = static_cast<std::uint64_t>('0') + static_cast<std::uint64_t>(elementPos);
      std::uint64_t w[2];
      if (withComposite) {
        const std::uint64_t e = Load4(element);
        const std::uint64_t cd = static_cast<std::uint64_t>('0') + static_cast<std::uint64_t>(compositePos);
        w[0] = Load4(composite) | (cd << 32) | (e << 40);
        w[1] = (e >> 24) | (ed << 8);
      } else {
        w[0] = Load4(element) | (ed << 32);
        w[1] = 0;
      }
      return FindPacked(layout, w);
    }
  }
  // Keys of the tables are short: longer names can match nothing.
  if (composite.size() > 8 || element.size() > 8) return -1;
  alignas(8) char buf[48] = {};
  char* p = buf;
  char* end = buf + sizeof buf;
  if (!composite.empty() && compositePos > 0) {
    std::memcpy(p, composite.data(), composite.size());
    p += composite.size();
    p = std::to_chars(p, end, compositePos).ptr;
  }
  std::memcpy(p, element.data(), element.size());
  p += element.size();
  p = std::to_chars(p, end, elementPos).ptr;
  std::string_view key(buf, static_cast<std::size_t>(p - buf));
  if (key.size() <= sizeof layout.packed[0]) {
    std::uint64_t w[2];
    std::memcpy(w, buf, sizeof w);
    return FindPacked(layout, w);
  }
  for (int i = 0; i < layout.count; ++i)
    if (layout.keys[i] == key) return i;
  return -1;
}

}  // namespace kalvix
