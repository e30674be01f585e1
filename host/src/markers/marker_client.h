// The sending side of the marker socket, for `bvhost mark TEXT [--to NAME]`
// and for anything else that wants a marker in a running recording.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace bvhost {

struct RunningRecording {
  // What --to takes.
  std::string name;
  std::string socketPath;
};

// The recordings whose marker socket answers now, in
// $XDG_RUNTIME_DIR/bvhost and, when given, in `fallbackFolder` (where a
// recording puts its socket when XDG_RUNTIME_DIR will not do), sorted by
// name. Sockets whose recording is gone are passed over.
std::vector<RunningRecording> runningRecordings(const std::string& fallbackFolder = "");

struct MarkerSendOptions {
  // The recording's name; needed only when more than one is running. Taken
  // as it is, or as markerSocketName makes it ("my run.bdf", "my_run.bdf").
  std::string to;
  // Looked in as well, see runningRecordings.
  std::string fallbackFolder;
  // For the recording to answer.
  std::chrono::milliseconds replyTimeout{5000};
};

// sendMarker's exit statuses.
inline constexpr int kMarkAccepted = 0;
// The recording answered "refused: ..." (not UTF-8, empty, the recording
// has stopped, too many waiting).
inline constexpr int kMarkRefused = 1;
// Which recording is meant is unclear: several run and no --to, or --to
// names none of those running.
inline constexpr int kMarkWhichRecording = 2;
// No recording is running, or the one chosen did not answer.
inline constexpr int kMarkNoRecording = 8;

// Sends `text` as one marker: a line break in it becomes a space, since
// the socket would take each line for a marker of its own. Prints the
// recording's reply to `out` ("ok", "ok cut to 40 bytes") or, when refused,
// to `err`, and what went wrong otherwise to `err`, and returns one of the
// statuses above.
int sendMarker(std::string_view text, const MarkerSendOptions& options, std::ostream& out,
               std::ostream& err);

}  // namespace bvhost
