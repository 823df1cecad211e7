// Kalvix: the segment layouts as data, the same table the parser builds its segments from.
//
// One row per segment tag: its class ('S' segment, 'R' rubrique, which heads a block, 'T'
// technical) and its keys in order. Keys are separated by blanks, with "+" between data
// elements and ":" between the components of one element; a "*" after a key marks a value that
// carries information (its data flag as the parser starts; PatchSegment may change the flags at
// run time, this table does not follow).
//
// A key names one value of a segment: element and repetition ("X0011": X001, 1), or composite,
// repetition, element and repetition ("C0602X0441": X044 in the second C060). The first form is
// read with IEdiSegment::Find(element, repetition), the second with FindInComponent; the first key
// of a row is the segment's qualifier. Clients that show every value of a segment walk its row.
#pragma once

#include <string_view>

namespace kalvix::tables {

struct SegmentRow {
  const char* tag;
  char cls;
  const char* keys;
};

// clang-format off
inline constexpr SegmentRow kSegmentRows[] = {
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
// clang-format on

// The row of a tag (exact, case-sensitive), or nullptr for a tag without a layout.
constexpr const SegmentRow* FindSegmentRow(std::string_view tag) {
  for (const SegmentRow& row : kSegmentRows)
    if (tag == row.tag) return &row;
  return nullptr;
}

}  // namespace kalvix::tables
