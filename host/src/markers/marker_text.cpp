#include "markers/marker_text.h"

#include <cstdint>
#include <cstdio>

namespace bvhost {
namespace {

bool continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 sequence at `at`, or 0. The second
// byte's range depends on the first, which is what shuts out overlong
// forms (E0, F0), surrogates (ED) and code points past U+10FFFF (F4).
std::size_t sequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (at + length > text.size() || byte(1) < low || byte(1) > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (!continuation(byte(i))) {
      return 0;
    }
  }
  return length;
}

std::uint32_t codePoint(std::string_view sequence) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
  switch (sequence.size()) {
    case 1:
      return byte(0);
    case 2:
      return (byte(0) & 0x1Fu) << 6 | (byte(1) & 0x3Fu);
    case 3:
      return (byte(0) & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
    default:
      return (byte(0) & 0x07u) << 18 | (byte(1) & 0x3Fu) << 12 | (byte(2) & 0x3Fu) << 6 |
             (byte(3) & 0x3Fu);
  }
}

// Characters that would end a line or a TSV field, separate EDF+'s
// annotation fields, or show as nothing at all.
bool madeSpace(std::uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

std::string invalidAt(std::string_view raw, std::size_t at) {
  char text[80];
  std::snprintf(text, sizeof text, "invalid UTF-8 at byte offset %zu (0x%02x)", at,
                static_cast<unsigned>(static_cast<unsigned char>(raw[at])));
  return text;
}

}  // namespace

MarkerText cleanMarkerText(std::string_view raw, std::size_t maxBytes) {
  MarkerText result;
  std::string cleaned;
  cleaned.reserve(raw.size());
  // Where spaces were put in, so a remark counts only those that stay.
  std::vector<std::size_t> replaced;
  for (std::size_t at = 0; at < raw.size();) {
    const std::size_t length = sequenceLength(raw, at);
    if (length == 0) {
      result.refusal = invalidAt(raw, at);
      return result;
    }
    const std::string_view sequence = raw.substr(at, length);
    if (madeSpace(codePoint(sequence))) {
      replaced.push_back(cleaned.size());
      cleaned += ' ';
    } else {
      cleaned += sequence;
    }
    at += length;
  }

  const std::size_t first = cleaned.find_first_not_of(' ');
  if (first == std::string::npos) {
    result.refusal = "empty marker";
    return result;
  }
  std::size_t end = cleaned.find_last_not_of(' ') + 1;
  bool cut = false;
  if (end - first > maxBytes) {
    cut = true;
    end = first + maxBytes;
    while (end > first && continuation(static_cast<unsigned char>(cleaned[end]))) {
      --end;
    }
    while (end > first && cleaned[end - 1] == ' ') {
      --end;
    }
  }
  if (end == first) {
    // Only a limit smaller than the first character gets here.
    result.refusal = "no character fits in " + std::to_string(maxBytes) + " bytes";
    return result;
  }
  result.text = cleaned.substr(first, end - first);

  std::size_t kept = 0;
  for (const std::size_t position : replaced) {
    kept += position >= first && position < end ? 1 : 0;
  }
  if (kept > 0) {
    result.remarks.push_back(kept == 1
                                 ? "1 control character replaced by a space"
                                 : std::to_string(kept) + " control characters replaced by spaces");
  }
  if (cut) {
    result.remarks.push_back("cut to " + std::to_string(result.text.size()) + " bytes");
  }
  return result;
}

}  // namespace bvhost
