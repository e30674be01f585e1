// libFuzzer target: what `bvhost repair` reads from a file that may be
// anything, a recording cut short at any byte or not a recording at all. The
// header parser must reject or describe it without reading out of bounds,
// and an annotation area must be read and packed within its own bytes.
#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/annotation_journal.h"
#include "files/edf_annotations.h"
#include "files/edf_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const bvhost::EdfHeader header = bvhost::parseEdfHeader(bytes);
    std::size_t inRecord = 0;
    for (const auto& signal : header.signals) {
      if (signal.offsetInRecord != inRecord || signal.bytesInRecord == 0) {
        __builtin_trap();  // the layout must tile a record exactly
      }
      inRecord += signal.bytesInRecord;
    }
    if (inRecord != header.bytesPerRecord || header.headerBytes > size) {
      __builtin_trap();
    }
  } catch (const bvhost::EdfHeaderError&) {
  }
  // The same bytes as one record's annotation area: read its time-keeping
  // entry, then pack what fits after it.
  std::vector<char> area(bytes.begin(), bytes.end());
  (void)bvhost::timekeepingOnset(std::span<const char>(area.data(), area.size()));
  // What a rebuild keeps of a record's annotation area lies within it.
  if (const auto kept = bvhost::timekeepingLength(std::span<const char>(area.data(), area.size()));
      kept && (*kept == 0 || *kept > area.size())) {
    __builtin_trap();
  }
  const std::vector<std::string> tals = {std::string("+0.5\x14note\x14", 11) + '\0',
                                         std::string("+1\x15"
                                                     "2\x14gap\x14",
                                                     10) +
                                             '\0'};
  const std::vector<char> before = area;
  const std::size_t packed = bvhost::packTals(std::span<char>(area.data(), area.size()), tals, 0);
  if (packed > tals.size() || area.size() != before.size()) {
    __builtin_trap();
  }
  // The same bytes as a journal: every open silence is given once, and
  // never beside the line that closed it.
  std::set<std::pair<double, std::string>> closed;
  std::set<std::pair<double, std::string>> open;
  for (const auto& annotation : bvhost::parseAnnotationJournal(bytes)) {
    auto& keys = annotation.open ? open : closed;
    keys.emplace(annotation.onsetSeconds, annotation.text);
  }
  for (const auto& key : open) {
    if (closed.contains(key)) {
      __builtin_trap();
    }
  }
  std::size_t opened = 0;
  for (const auto& annotation : bvhost::parseAnnotationJournal(bytes)) {
    opened += annotation.open ? 1 : 0;
  }
  if (opened != open.size()) {
    __builtin_trap();
  }
  return 0;
}
