// Annotations as EDF+ stores them: time-stamped annotation lists (TALs)
// packed into the annotation signals of the data records.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/annotation.h"

namespace bvhost {

// What EDFlib gives each annotation signal in a data record.
inline constexpr std::size_t kEdfAnnotationSignalBytes = 114;
// EDFlib takes at most this many annotation signals.
inline constexpr std::size_t kMaxEdfAnnotationSignals = 64;

// The annotation signals a recording of this many sensors needs so that
// every annotation it can make fits. A sensor's silence takes a short frame
// and a full one, so each sensor begins one at most every second record;
// its TAL, onset and duration included, takes up to about 40 bytes, so two
// fit a signal beside the time-keeping TAL and two another. At least 1, at
// most kMaxEdfAnnotationSignals.
std::size_t annotationSignalsFor(std::size_t sensors);

// The bytes of notes, as noteBytes counts them, that data records with this
// many annotation signals are sure to hold, one record with another:
// packing a signal stops at the first note that does not fit, so each may
// waste up to a note's length, and the first carries the time-keeping TAL.
std::size_t noteRoomPerRecord(std::size_t annotationSignals);

// Up to 7 decimals (EDF+'s 100 ns), no trailing zeros, no exponent, a
// leading '-' when negative; nothing when the value is not finite or is
// beyond what 100 ns steps in 64 bits can count.
std::optional<std::string> formatEdfSeconds(double seconds);

// "+<onset>\x15<duration>\x14<text>\x14\0", without the \x15 part for a
// negative duration. The onset counts from the header's start second, so it
// is startOffsetSeconds (the file's sub-second start) plus the annotation's
// own onset. The text is cut to kMaxAnnotationText bytes on a UTF-8
// boundary, and control characters, which would end the TAL, become spaces.
// Nothing when onset or duration cannot be written.
std::optional<std::string> formatTal(const Annotation& annotation, double startOffsetSeconds);

// The onset of the time-keeping TAL ("+0.1234\x14\x14\0") with which the
// annotation signal of a data record begins, or nothing when it does not.
std::optional<double> timekeepingOnset(std::span<const char> area);

// How many bytes the time-keeping TAL takes at the start of the area, its
// closing NUL included, or nothing when the area does not begin with one.
std::optional<std::size_t> timekeepingLength(std::span<const char> area);

// Appends tals[first], tals[first + 1], ... to an annotation signal's bytes
// for as long as they fit, right after what it already holds, and returns
// how many were put in. Bytes already written are never touched, and the
// space after the last TAL stays NUL.
std::size_t packTals(std::span<char> area, const std::vector<std::string>& tals, std::size_t first);

}  // namespace bvhost
