#include "files/events_tsv.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "files/output_error.h"
#include "files/partial_file.h"

namespace bvhost {
namespace {

constexpr const char* kBidsDataSuffix = "_emg";

std::string seconds(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", value);
  // A time a hair before zero is zero, not "-0.000000".
  if (std::strcmp(text, "-0.000000") == 0) {
    return "0.000000";
  }
  return text;
}

std::string duration(const Annotation& annotation) {
  if (annotation.open || !std::isfinite(annotation.durationSeconds)) {
    return "n/a";
  }
  return annotation.durationSeconds < 0.0 ? "0" : seconds(annotation.durationSeconds);
}

std::string trialType(const std::string& text) {
  if (text.empty()) {
    return "n/a";
  }
  std::string safe = text;
  std::replace_if(
      safe.begin(), safe.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return safe;
}

}  // namespace

std::string eventsTsvPathFor(const std::string& dataPath) {
  const auto slash = dataPath.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const auto dot = dataPath.rfind('.');
  std::string stem =
      dot == std::string::npos || dot <= nameStart ? dataPath : dataPath.substr(0, dot);
  const std::string_view suffix = kBidsDataSuffix;
  if (stem.size() > nameStart + suffix.size() && stem.ends_with(suffix)) {
    stem.resize(stem.size() - suffix.size());
  }
  return stem + "_events.tsv";
}

std::string eventsTsv(std::vector<Annotation> annotations) {
  std::stable_sort(annotations.begin(), annotations.end(),
                   [](const auto& a, const auto& b) { return a.onsetSeconds < b.onsetSeconds; });
  std::string text = "onset\tduration\ttrial_type\n";
  for (const auto& annotation : annotations) {
    text += seconds(annotation.onsetSeconds) + '\t' + duration(annotation) + '\t' +
            trialType(annotation.text) + '\n';
  }
  return text;
}

void writeEventsTsv(const std::string& path, const std::vector<Annotation>& annotations) {
  const std::string text = eventsTsv(annotations);
  // Created beside the target, with the permissions of any new file, and
  // moved over it once flushed, as a recording is.
  PartialFile file(path);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t put = ::write(file.descriptor(), text.data() + written, text.size() - written);
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      const int code = put == 0 ? EIO : errno;
      throw OutputError("cannot write " + file.path() + ": " + std::strerror(code));
    }
    written += static_cast<std::size_t>(put);
  }
  file.commit();
}

}  // namespace bvhost
