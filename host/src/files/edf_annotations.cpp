#include "files/edf_annotations.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace bvhost {
namespace {

constexpr double kUnitsPerSecond = 1e7;
constexpr std::int64_t kUnits = 10000000;
// Keeps the sum of a start offset and an onset within 64 bits.
constexpr double kLargestSeconds = 1e11;

std::optional<std::int64_t> toUnits(double seconds) {
  if (!std::isfinite(seconds) || std::fabs(seconds) > kLargestSeconds) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(std::llround(seconds * kUnitsPerSecond));
}

std::string formatUnits(std::int64_t units) {
  std::string text = units < 0 ? "-" : "";
  const std::uint64_t magnitude =
      units < 0 ? static_cast<std::uint64_t>(-units) : static_cast<std::uint64_t>(units);
  text += std::to_string(magnitude / kUnits);
  std::uint64_t fraction = magnitude % kUnits;
  if (fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, 7 - digits.size(), '0');
    digits.erase(digits.find_last_not_of('0') + 1);
    text += "." + digits;
  }
  return text;
}

std::string talText(const std::string& text) {
  std::string cleaned = text.substr(0, kMaxAnnotationText);
  if (text.size() > kMaxAnnotationText) {
    // Back off over continuation bytes, then drop the lead byte whose
    // sequence the cut broke.
    std::size_t end = cleaned.size();
    while (end > 0 && (static_cast<unsigned char>(cleaned[end - 1]) & 0xC0) == 0x80) {
      --end;
    }
    if (end > 0 && static_cast<unsigned char>(cleaned[end - 1]) >= 0xC0) {
      const auto lead = static_cast<unsigned char>(cleaned[end - 1]);
      const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
      if (cleaned.size() - (end - 1) < length) {
        cleaned.resize(end - 1);
      }
    }
  }
  for (char& c : cleaned) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      c = ' ';
    }
  }
  return cleaned;
}

}  // namespace

std::size_t annotationSignalsFor(std::size_t sensors) {
  constexpr std::size_t kTalBytes = 40;
  constexpr std::size_t kTimekeepingBytes = 20;
  constexpr std::size_t kTalsPerSignal =
      (kEdfAnnotationSignalBytes - kTimekeepingBytes) / kTalBytes;
  static_assert(kTalsPerSignal == kEdfAnnotationSignalBytes / kTalBytes,
                "the time-keeping TAL takes no annotation's room in the first signal");
  const std::size_t perRecord = (sensors + 1) / 2;
  const std::size_t signals = (perRecord + kTalsPerSignal - 1) / kTalsPerSignal;
  return std::clamp<std::size_t>(signals, 1, kMaxEdfAnnotationSignals);
}

std::size_t noteRoomPerRecord(std::size_t annotationSignals) {
  // "+<onset>\x14\x14\0" with an onset of up to 16 characters.
  constexpr std::size_t kTimekeepingBytes = 20;
  constexpr std::size_t kWastedAtMost = noteBytes(kMaxAnnotationText) - 1;
  static_assert(kEdfAnnotationSignalBytes > kWastedAtMost + kTimekeepingBytes);
  const std::size_t room = annotationSignals * (kEdfAnnotationSignalBytes - kWastedAtMost);
  return annotationSignals == 0 ? 0 : room - kTimekeepingBytes;
}

std::optional<std::string> formatEdfSeconds(double seconds) {
  const auto units = toUnits(seconds);
  if (!units) {
    return std::nullopt;
  }
  return formatUnits(*units);
}

std::optional<std::string> formatTal(const Annotation& annotation, double startOffsetSeconds) {
  const auto offset = toUnits(startOffsetSeconds);
  const auto onset = toUnits(annotation.onsetSeconds);
  if (!offset || !onset) {
    return std::nullopt;
  }
  const std::int64_t units = *offset + *onset;
  std::string tal = (units < 0 ? "" : "+") + formatUnits(units);
  if (annotation.durationSeconds >= 0.0) {
    const auto duration = formatEdfSeconds(annotation.durationSeconds);
    if (!duration) {
      return std::nullopt;
    }
    tal += '\x15' + *duration;
  }
  tal += '\x14' + talText(annotation.text) + '\x14';
  tal += '\0';
  return tal;
}

std::optional<double> timekeepingOnset(std::span<const char> area) {
  const std::string_view text(area.data(), area.size());
  if (text.empty() || (text[0] != '+' && text[0] != '-')) {
    return std::nullopt;
  }
  const auto end = text.find('\x14');
  if (end == std::string_view::npos || end + 1 >= text.size() || text[end + 1] != '\x14') {
    return std::nullopt;
  }
  const std::string_view number = text.substr(1, end - 1);
  if (number.empty() || number.find_first_not_of(".0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  double value = 0.0;
  const auto [stop, error] = std::from_chars(number.data(), number.data() + number.size(), value,
                                             std::chars_format::fixed);
  if (error != std::errc{} || stop != number.data() + number.size()) {
    return std::nullopt;
  }
  return text[0] == '-' ? -value : value;
}

std::optional<std::size_t> timekeepingLength(std::span<const char> area) {
  if (!timekeepingOnset(area)) {
    return std::nullopt;
  }
  // A TAL ends with \x14 and a NUL; the first NUL therefore closes the
  // time-keeping one, whatever notes a writer put into it.
  const std::string_view text(area.data(), area.size());
  const auto end = text.find('\0');
  return end == std::string_view::npos ? area.size() : end + 1;
}

std::size_t packTals(std::span<char> area, const std::vector<std::string>& tals,
                     std::size_t first) {
  std::size_t used = area.size();
  while (used > 0 && area[used - 1] == '\0') {
    --used;
  }
  // The NUL right after the last TAL is its end and stays.
  std::size_t at = used == 0 ? 0 : used + 1;
  std::size_t packed = 0;
  for (std::size_t i = first; i < tals.size() && at <= area.size(); ++i) {
    if (tals[i].size() > area.size() - at) {
      break;
    }
    tals[i].copy(area.data() + at, tals[i].size());
    at += tals[i].size();
    ++packed;
  }
  return packed;
}

}  // namespace bvhost
