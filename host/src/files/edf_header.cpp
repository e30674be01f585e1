#include "files/edf_header.h"

#include <charconv>
#include <cmath>

namespace bvhost {
namespace {

constexpr std::string_view kEdfVersion = "0       ";
constexpr std::string_view kBdfVersion =
    "\xff"
    "BIOSEMI";
// EDFlib reads at most 4096 signals; the header's own field allows 9999.
constexpr std::size_t kMaxSignals = 4096;
// Far above what any recorder writes, low enough that a record fits in memory.
constexpr std::size_t kMaxBytesPerRecord = std::size_t{1} << 26;

std::string_view trimmed(std::string_view field) {
  const auto first = field.find_first_not_of(' ');
  if (first == std::string_view::npos) {
    return {};
  }
  return field.substr(first, field.find_last_not_of(' ') - first + 1);
}

std::string_view field(std::string_view bytes, std::size_t offset, std::size_t size) {
  return bytes.substr(offset, size);
}

// Header fields hold printable ASCII only; anything else is a sign of a
// file that is not EDF at all.
void requireAscii(std::string_view text, const char* what) {
  for (const char c : text) {
    if (c < 0x20 || c > 0x7e) {
      throw EdfHeaderError(std::string("the ") + what + " field holds a non-ASCII byte");
    }
  }
}

std::int64_t integerField(std::string_view raw, const char* what) {
  requireAscii(raw, what);
  const std::string_view text = trimmed(raw);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
    throw EdfHeaderError(std::string("the ") + what + " field '" + std::string(raw) +
                         "' is not a whole number");
  }
  return value;
}

double decimalField(std::string_view raw, const char* what) {
  requireAscii(raw, what);
  std::string_view text = trimmed(raw);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  // Plain decimals only: from_chars would also take "inf" and "nan".
  double value = 0.0;
  const bool plain = !text.empty() && text.find_first_not_of("-.0123456789") == std::string::npos;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (!plain || error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
    throw EdfHeaderError(std::string("the ") + what + " field '" + std::string(raw) +
                         "' is not a decimal number");
  }
  return value;
}

std::size_t signalCount(std::string_view fixedPart) {
  const std::int64_t count = integerField(field(fixedPart, 252, 4), "number of signals");
  if (count < 1 || static_cast<std::size_t>(count) > kMaxSignals) {
    throw EdfHeaderError("the header names " + std::to_string(count) +
                         " signals; a file holds 1 to " + std::to_string(kMaxSignals));
  }
  return static_cast<std::size_t>(count);
}

}  // namespace

std::vector<std::size_t> EdfHeader::annotationSignals() const {
  std::vector<std::size_t> indices;
  for (std::size_t s = 0; s < signals.size(); ++s) {
    if (signals[s].annotation) {
      indices.push_back(s);
    }
  }
  return indices;
}

bool hasEdfVersion(std::string_view firstBytes) {
  const std::string_view version = firstBytes.substr(0, 8);
  return version == kEdfVersion || version == kBdfVersion;
}

std::size_t edfHeaderSize(std::string_view fixedPart) {
  if (fixedPart.size() < kEdfFixedHeaderBytes) {
    throw EdfHeaderError("the header is cut short: " + std::to_string(fixedPart.size()) +
                         " bytes of at least " + std::to_string(kEdfFixedHeaderBytes));
  }
  if (!hasEdfVersion(fixedPart)) {
    throw EdfHeaderError("the version field is neither EDF's \"0\" nor BDF's \"\\xffBIOSEMI\"");
  }
  const std::size_t signals = signalCount(fixedPart);
  const std::int64_t stated = integerField(field(fixedPart, 184, 8), "header size");
  const std::size_t expected = kEdfFixedHeaderBytes + signals * kEdfSignalHeaderBytes;
  if (stated < 0 || static_cast<std::size_t>(stated) != expected) {
    throw EdfHeaderError("the header size field says " + std::to_string(stated) + " bytes; " +
                         std::to_string(signals) + " signals take " + std::to_string(expected));
  }
  return expected;
}

EdfHeader parseEdfHeader(std::string_view bytes) {
  EdfHeader header;
  header.headerBytes = edfHeaderSize(bytes);
  if (bytes.size() < header.headerBytes) {
    throw EdfHeaderError("the header is cut short: " + std::to_string(bytes.size()) + " bytes of " +
                         std::to_string(header.headerBytes));
  }
  header.bdf = bytes.substr(0, 8) == kBdfVersion;
  header.bytesPerSample = header.bdf ? 3 : 2;
  const std::string_view reserved = field(bytes, 192, 44);
  header.plus = reserved.substr(0, 4) == (header.bdf ? "BDF+" : "EDF+");
  header.records = integerField(field(bytes, kEdfRecordsFieldOffset, kEdfRecordsFieldBytes),
                                "number of data records");
  if (header.records < -1) {
    throw EdfHeaderError("the number of data records is " + std::to_string(header.records));
  }
  header.recordDurationSeconds = decimalField(field(bytes, 244, 8), "data record duration");
  if (header.recordDurationSeconds < 0.0) {
    throw EdfHeaderError("the data record duration is negative");
  }
  const std::size_t count = signalCount(bytes);
  header.signals.resize(count);
  // Each per-signal field is stored for all signals before the next field.
  const std::size_t labels = kEdfFixedHeaderBytes;
  const std::size_t samples = labels + count * (16 + 80 + 8 + 8 + 8 + 8 + 8 + 80);
  std::size_t offset = 0;
  for (std::size_t s = 0; s < count; ++s) {
    EdfSignalHeader& signal = header.signals[s];
    const std::string_view label = field(bytes, labels + s * 16, 16);
    requireAscii(label, "label");
    signal.label = std::string(label.substr(0, label.find_last_not_of(' ') + 1));
    signal.annotation = signal.label == "EDF Annotations" || signal.label == "BDF Annotations";
    const std::int64_t perRecord =
        integerField(field(bytes, samples + s * 8, 8), "samples per data record");
    if (perRecord < 1 || static_cast<std::size_t>(perRecord) > kMaxBytesPerRecord) {
      throw EdfHeaderError("signal " + std::to_string(s + 1) + " has " + std::to_string(perRecord) +
                           " samples per data record");
    }
    signal.samplesPerRecord = static_cast<std::size_t>(perRecord);
    signal.offsetInRecord = offset;
    signal.bytesInRecord = signal.samplesPerRecord * header.bytesPerSample;
    offset += signal.bytesInRecord;
    if (offset > kMaxBytesPerRecord) {
      throw EdfHeaderError("a data record would take over " + std::to_string(kMaxBytesPerRecord) +
                           " bytes");
    }
  }
  header.bytesPerRecord = offset;
  return header;
}

std::string edfRecordsField(std::int64_t records) {
  std::string text = std::to_string(records);
  if (records < -1 || text.size() > kEdfRecordsFieldBytes) {
    throw EdfHeaderError(std::to_string(records) + " data records do not fit the header");
  }
  text.resize(kEdfRecordsFieldBytes, ' ');
  return text;
}

}  // namespace bvhost
