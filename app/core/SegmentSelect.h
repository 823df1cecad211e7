// Where a numbered segment lies in the edited text, and the line a syntax error names. Both
// work on the text as the editor returns it (UTF-16, line breaks included), so the offsets are
// characters, whatever the letters before the segment.
#pragma once

#include <cstddef>
#include <string_view>

namespace verimek {

struct TSegmentRange {
  bool Found = false;
  std::size_t Start = 0;
  // Up to, not including, the apostrophe that ends the segment.
  std::size_t Length = 0;
};

/// Segment N (1-based) as the validator numbers it: a released apostrophe ("?'") ends no
/// segment, blanks and line breaks between segments are skipped, and segments whose tag
/// begins with "XR" get no number. Not found when N is below 1 or beyond the last segment.
TSegmentRange FindSegment(std::u16string_view text, int N);

/// The number after "near line " in a syntax error line; -1 when the line has none or it is
/// not a number.
int NearLineNumber(std::u16string_view line);

}  // namespace verimek
