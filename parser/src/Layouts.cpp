// The three Telebib2 tables, written once as data and read into lookup structures on first use.
#include "Layouts.h"

#include <charconv>
#include <cstring>

namespace kalvix {

namespace {

// Keys with "+" between data elements, ":" between components, "*" after a key that carries
// information.
struct SegmentRow {
  const char* tag;
  char cls;
  const char* keys;
};

const SegmentRow kSegmentRows[] = {
    {"ACT", 'R', "X0771"},
    {"ADR", 'S', "X0011 + C0011X0021* : C0011X0031* : C0011X0041* : C0011X0051 : C0011X0881* : C0011X0891* : C0011X0991* + X0061* + X0071* + X0081* + X0091*"},
    {"ATT", 'S', "X0101 + C0051X0111* : C0051X9011 : C0051X9021 : C0051X0121*"},
    {"BIN", 'S', "X0691 + X0701*"},
    {"CLS", 'R', "X0821 + C1151X0831* : C1151X9011 : C1151X9021"},
    {"COM", 'S', "C0101X0131 : C0101X0141*"},
    {"DAM", 'R', "X0741"},
    {"DED", 'R', "X0931"},
    {"DOC", 'R', "X0151 + C1001X0651* : C1001X9011 : C1001X9021 : C1001X0661* + X0321"},
    {"DOD", 'R', "X0521 + C0751X0531* : C0751X9011 : C0751X9021 : C0751X0541*"},
    {"DPT", 'R', "X0731"},
    {"DTM", 'S', "C0151X0161 : C0151X0171* : C0151X0181"},
    {"EVT", 'R', "X0551 + C0801X0561* : C0801X9011 : C0801X9021 : C0801X0571*"},
    {"FND", 'R', "X0921"},
    {"FTX", 'S', "X0191 + C0201X0201* : C0201X0202* : C0201X0203* : C0201X0204* : C0201X0205*"},
    {"GEC", 'R', "X1001"},
    {"GIS", 'S', "X0211 + C0251X0221* : C0251X9011 : C0251X9021 : C0251X0231*"},
    {"ICD", 'R', "C0951X0581* : C0951X9011 : C0951X9021 : C0951X0591*"},
    {"IDD", 'R', "C1051X0261* : C1051X9011 : C1051X9021 : C1051X0271*"},
    {"IFD", 'S', "C0901X0621* : C0901X9011 : C0901X9021 : C0901X0631*"},
    {"IND", 'S', "X0861 + C0301X0241* : C0301X0251* : C0301X0301"},
    {"IPD", 'S', "X0601 + C0851X0671* : C0851X9011 : C0851X9021 : C0851X0611*"},
    {"IRD", 'R', "C0851X0671* : C0851X9011 : C0851X9021 : C0851X0611*"},
    {"ISD", 'R', "C0951X0581* : C0951X9011 : C0951X9021 : C0951X0591*"},
    {"LIN", 'R', "X0811"},
    {"MMD", 'S', "X0951 + C1201X0941* : C1201X0961 : C1201X0971 : C1201X0981*"},
    {"MOA", 'S', "C0351X0281 : C0351X0291* : C0351X0311 : C0351X0301 : C0351X0321 + C0301X0241* : C0301X0251* : C0301X0301 + C0311X0911* : C0311X0301"},
    {"NME", 'S', "X0331 + C0401X0341* : C0401X0351* : C0401X0352* : C0401X0353* : C0401X0901* + C0451X0361* : C0451X9011 : C0451X9021 : C0451X0371*"},
    {"PAR", 'S', "X0841 + X0851*"},
    {"PAT", 'R', "X0751"},
    {"PCD", 'S', "C0501X0381 : C0501X0391* : C0501X0301"},
    {"PER", 'R', "X0721"},
    {"PFN", 'S', "X0401 + C0551X0411* : C0551X9011 : C0551X9021 : C0551X0421* + X0641* + X0391*"},
    {"PTY", 'R', "X0431 + C0601X0441* : C0601X9011 : C0601X9021 + C0602X0441* : C0602X9011 : C0602X9021 + C0603X0441* : C0603X9011 : C0603X9021 + C0621X0761* : C0621X9011 : C0621X9021"},
    {"QRS", 'R', "X0451 + X0461*"},
    {"QTY", 'S', "C0651X0471 : C0651X0481* : C0651X0301 : C0651X0491"},
    {"RDT", 'R', "X0781 + C1101X0791* : C1101X9011 : C1101X9021 : C1101X0801*"},
    {"RFF", 'S', "C0701X0501 : C0701X0511* : C0701X0321"},
    {"RLE", 'R', "X0431"},
    {"ROD", 'R', "X0521 + C0751X0531* : C0751X9011 : C0751X9021 : C0751X0541*"},
    {"RPT", 'R', "X0711 + C0601X0441* : C0601X9011 : C0601X9021 + C0602X0441* : C0602X9011 : C0602X9021 + C0603X0441* : C0603X9011 : C0603X9021 + C0621X0761* : C0621X9011 : C0621X9021"},
    {"SRO", 'R', "X0681* + C0751X0531* : C0751X9011 : C0751X9021 : C0751X0541*"},
    {"VAL", 'R', "X0871"},
    {"XEH", 'T', "X9101 + X9141 + X9121 + X9131 + X9151 + X9161 + X9311 + X9321 + X9171 + X9181 + C9101X9401 : C9101X9411 : C9101X9421 : C9101X9431 : C9101X9441"},
    {"XET", 'T', "X9101"},
    {"XGH", 'T', "X9261 + C9001X9211 : C9001X9221 : C9001X9271 + C9051X9231 : C9051X9241 : C9051X9281 + X9251"},
    {"XGT", 'T', "X9261"},
    {"XRH", 'T', "X9111"},
    {"XRT", 'T', "X9111"},
};

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
    {"05", "5,1"}, {"02", "2,1"}, {"08", "8,1"}, {"01", "1,2"},  {"07", "7,1"},  {"09", "9,1"},
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

const Layouts& Layouts::Get() {
  static const Layouts instance;
  return instance;
}

Layouts::Layouts() {
  for (int& k : FByKind) k = -1;
  for (auto& t : FByTag) t = -1;
  int tagKind = tkFirstTag;
  for (const SegmentRow& row : kSegmentRows) {
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
      if (data) l.initialFlags |= 1u << l.count;
      if (i + 1 >= parts.size() || parts[i + 1] == "+") l.elementEnd |= 1u << l.count;
      ++l.count;
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
      if (FLayouts[idx].cls == 'R' && !m.entries.empty()) m.lastBlock = static_cast<int>(m.entries.size());
      m.entries.push_back(idx);
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

int FindKey(const SegmentLayout& layout, std::string_view composite, int compositePos, std::string_view element,
            int elementPos) {
  // Keys of the tables are short: longer names can match nothing.
  if (composite.size() > 8 || element.size() > 8) return -1;
  char buf[48];
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
  for (int i = 0; i < layout.count; ++i)
    if (layout.keys[i] == key) return i;
  return -1;
}

}  // namespace kalvix
