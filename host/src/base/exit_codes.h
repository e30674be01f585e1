// Exit codes of bvhost; `bvhost --help` lists the same table.
#pragma once

namespace bvhost {

enum ExitCode : int {
  kExitOk = 0,
  // validate: a check failed; record: the plug-in broke a rule while
  // streaming (a gap in firstIndex, a block naming an unknown channel).
  kExitRuleBroken = 1,
  kExitUsage = 2,
  kExitCannotLoad = 3,
  kExitNotAPlugin = 4,
  kExitPluginRefused = 5,
  kExitOutputFailed = 6,
  // record: the files are complete, but frames were lost before they
  // reached bvhost (a link outage, a backlog that overflowed); the files
  // mark them as gaps in place.
  kExitFramesLost = 7,
  // mark: no recording is running, or the one chosen did not answer.
  kExitNoRecording = 8,
  // bvhost itself failed (out of memory, say); what a recording had
  // written is kept on the disk.
  kExitInternal = 70,
  // A second stop signal came while the plug-in was still stopping (or
  // hanging): bvhost ended at once, and what it had recorded is left in
  // partial files that stderr names and `bvhost repair` completes.
  kExitLeftPartial = 75,
  kExitHangUp = 129,
  kExitInterrupted = 130,
  kExitTerminated = 143,
};

inline constexpr const char* kExitCodeTable =
    "Exit codes:\n"
    "  0    success (mark: the recording took the marker)\n"
    "  1    the plug-in broke a rule (validate: a check failed; record: a gap in\n"
    "       firstIndex or a block for a channel it never described)\n"
    "       (mark: the recording refused the marker, and stderr says why: not\n"
    "       UTF-8, empty, before the stream started, after the stop, too many)\n"
    "  2    bad command line: unknown command or option, bad option value; or the\n"
    "       live view cannot listen where asked (the address is in use, say)\n"
    "       (mark: several recordings run and no --to says which, or --to names\n"
    "       none of them)\n"
    "  3    the plug-in file is missing or cannot be loaded as a shared library\n"
    "       (validate: or loading it crashes or hangs)\n"
    "  4    the library is no plug-in: it lacks some of the sixteen bv_* entry points\n"
    "  5    the plug-in refused a call that the command needs (for example bv_connect,\n"
    "       or a bv_read_samples while recording: the files are then completed)\n"
    "  6    an output cannot be written (checked before connecting: another run is\n"
    "       writing it, say), or a write failed while recording: what was written is\n"
    "       kept, readable, unless its file was deleted or replaced; or annotations\n"
    "       did not fit the file (all kept in the journal the message names)\n"
    "       (repair: the file cannot be read or written, is no recording bvhost\n"
    "       writes, or a running bvhost holds it)\n"
    "  7    record: the files are complete, but frames were lost before they reached\n"
    "       bvhost (the link went quiet, or a backlog overflowed while bvhost was held\n"
    "       up); the files mark them as gaps at their time, the summary says where\n"
    "  8    mark: no recording is running, or the one chosen did not answer\n"
    "  70   bvhost itself failed (out of memory, say); a recording's files are\n"
    "       kept, under their temporary names if they could not be completed\n"
    "  75   a second SIGINT, SIGTERM or SIGHUP ended bvhost at once while the plug-in\n"
    "       was still stopping: the files are left partial, named on stderr, and\n"
    "       'bvhost repair FILE' completes each\n"
    "  129  record stopped by SIGHUP; the files are complete\n"
    "  130  record stopped by SIGINT; the files are complete\n"
    "  143  record stopped by SIGTERM; the files are complete\n"
    "       (monitor, stopped by any of them, ends with 0); a second signal while\n"
    "       the files are being completed is answered and ignored\n";

}  // namespace bvhost
