// Helpers of the parser tests: parse a text and show the tree the way the tree command does.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ErrorReporter.h"
#include "Grammar.h"
#include "Layouts.h"
#include "SegmentTree.h"

namespace kalvix::test {

struct Parsed {
  SegmentTree tree;
  ErrorReporter errors;
  explicit Parsed(std::string text) { ParseInterchange(std::move(text), tree, errors); }
  std::vector<std::string> Errors() const {
    std::vector<std::string> v;
    for (int i = 0; i < errors.Count(); ++i) v.push_back(errors.At(i));
    return v;
  }
  // One node per line: two blanks per level, the tag, then " KEY=VALUE" for each non-empty value.
  std::string Dump() const {
    std::string out;
    for (const SegmentNode* n = tree.First(); n; n = n->next) {
      out.append(static_cast<std::size_t>(n->level) * 2, ' ');
      out += tree.Tag(n);
      if (n->positional) {
        out += ' ';
        for (char c : tree.Text(n)) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
      } else if (const SegmentLayout* l = tree.Layout(n)) {
        for (int i = 0; i < l->count; ++i)
          if (!tree.Slot(n, i).empty()) {
            out += ' ';
            out += l->keys[i];
            out += '=';
            out += tree.Slot(n, i);
          }
      }
      out += '\n';
    }
    return out;
  }
  // Tags in document order, blank separated.
  std::string Tags() const {
    std::string out;
    for (const SegmentNode* n = tree.First(); n; n = n->next) {
      if (!out.empty()) out += ' ';
      out += tree.Tag(n);
    }
    return out;
  }
};

inline bool ReadLines(const std::string& path, std::vector<std::string>& lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return true;
}

}  // namespace kalvix::test
