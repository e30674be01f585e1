// The header of an EDF, EDF+, BDF or BDF+ file, parsed from its bytes alone,
// so a file of unknown origin can be judged before anything in it is changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bvhost {

class EdfHeaderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The part every header has, before the one block per signal.
inline constexpr std::size_t kEdfFixedHeaderBytes = 256;
inline constexpr std::size_t kEdfSignalHeaderBytes = 256;
// Where the number of data records sits, 8 ASCII characters wide.
inline constexpr std::size_t kEdfRecordsFieldOffset = 236;
inline constexpr std::size_t kEdfRecordsFieldBytes = 8;

struct EdfSignalHeader {
  std::string label;  // trailing spaces removed
  std::size_t samplesPerRecord = 0;
  bool annotation = false;         // "EDF Annotations" or "BDF Annotations"
  std::size_t offsetInRecord = 0;  // bytes from the start of a data record
  std::size_t bytesInRecord = 0;
};

struct EdfHeader {
  bool bdf = false;   // version "\xffBIOSEMI" rather than "0"
  bool plus = false;  // reserved field starts with "EDF+" or "BDF+"
  std::size_t headerBytes = 0;
  std::int64_t records = -1;  // -1 while the writer has not closed the file
  double recordDurationSeconds = 0.0;
  std::vector<EdfSignalHeader> signals;
  std::size_t bytesPerSample = 2;
  std::size_t bytesPerRecord = 0;

  std::vector<std::size_t> annotationSignals() const;
};

// Whether the bytes begin with the version field of EDF or BDF.
bool hasEdfVersion(std::string_view firstBytes);

// The size of the whole header, from its first kEdfFixedHeaderBytes; throws
// EdfHeaderError when those cannot start a header.
std::size_t edfHeaderSize(std::string_view fixedPart);

// Throws EdfHeaderError saying what is wrong; reads no byte beyond the
// header, so trailing data records may be passed along or not.
EdfHeader parseEdfHeader(std::string_view bytes);

// The records field as the header holds it: left-aligned, space-padded.
std::string edfRecordsField(std::int64_t records);

}  // namespace bvhost
