// A note on the recording's time line, as EDF+ carries one: where it begins,
// how long it lasts, and a short text.
#pragma once

#include <cstddef>
#include <string>

namespace bvhost {

struct Annotation {
  // Seconds from the start of the stream (the file's start time, sub-second
  // part included).
  double onsetSeconds = 0.0;
  // Negative when the note marks an instant rather than a stretch.
  double durationSeconds = -1.0;
  // At most kMaxAnnotationText bytes of UTF-8, with no control characters.
  std::string text;
  // A silence that had begun but not yet ended when the journal was last
  // written: its end is not known, so completing the file lets it last to
  // the end of the file's last whole record (durationSeconds is then set).
  bool open = false;
};

// EDFlib's writing limit, kept for every annotation so any EDF+ reader
// takes the text whole.
inline constexpr std::size_t kMaxAnnotationText = 40;

// What a note takes in a file beyond its text, at most: its onset and
// duration, each up to 16 characters, and the separators around them.
inline constexpr std::size_t kNoteOverheadBytes = 37;

// The most bytes a note of `textBytes` takes in a file that keeps notes as
// text; what the files' room for notes is counted in.
constexpr std::size_t noteBytes(std::size_t textBytes) { return textBytes + kNoteOverheadBytes; }

}  // namespace bvhost
