// A marker's text comes from outside (a terminal, a pipe, another program)
// and ends up as an EDF+ annotation and a row of events.tsv, so it is made
// to fit both before anything takes it: valid UTF-8, no character that would
// split a line or a TSV field or confuse an EDF+ reader, and no longer than
// an annotation may be.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/annotation.h"

namespace bvhost {

struct MarkerText {
  // The text to record; empty when refused.
  std::string text;
  // What was changed on the way, for the reply ("cut to 40 bytes").
  std::vector<std::string> remarks;
  // Why the text cannot be a marker; empty when it was accepted.
  std::string refusal;

  bool accepted() const { return refusal.empty(); }
};

// Text that is not UTF-8 is refused, naming the byte offset (from 0) where
// the first malformed sequence begins: overlong forms, surrogates and code
// points past U+10FFFF count as malformed, as they do for every strict
// reader. Each control character (C0 including tab, CR, LF, NUL and EDF+'s
// separators 0x14 and 0x15; DEL; C1) and each line or paragraph separator
// (U+2028, U+2029) becomes one space, so words they stood between stay
// apart; then spaces at either end go. Nothing left is refused. Past
// maxBytes the text is cut on a character boundary, never inside one, and
// spaces left at the cut go too.
MarkerText cleanMarkerText(std::string_view raw, std::size_t maxBytes = kMaxAnnotationText);

}  // namespace bvhost
