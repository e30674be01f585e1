// The words bvhost says of itself: its usage, which its manual page is made
// from, and its version.
#include <edflib.h>

#include <cstdio>
#include <string>

#include "app/cli.h"
#include "base/exit_codes.h"

namespace bvhost {

std::string usageText() {
  return std::string(
             "bvhost: the reference host for Orvane Kessra device plug-ins\n"
             "\n"
             "Usage:\n"
             "  bvhost info PLUGIN.so\n"
             "      identity, actions, settings, sensors and channels of the plug-in\n"
             "  bvhost record PLUGIN.so --seconds S --out FILE [--out FILE...]\n"
             "        [--format csv|edf|bdf] [--start-trigger on|off] [--stop-trigger on|off]\n"
             "        [--output-triggers on|off] [--summary sensors|channels]\n"
             "        [--live [--listen ADDRESS] [--port N]] [--markers-from-stdin]\n"
             "      streams for S seconds (in whole 13.5 ms frames, rounded up) into CSV,\n"
             "      EDF+ or BDF+ files, then prints a summary: a row per channel for up\n"
             "      to 4 sensors, else a row per sensor and rows for only the channels\n"
             "      that are off, unless --summary says which; each file's extension\n"
             "      (.csv, .edf, .bdf) gives its format, or --format does for a single\n"
             "      --out of another name (one whose extension disagrees is refused);\n"
             "      the triggers default to on; Ctrl-C stops early with complete files;\n"
             "      --live serves a page of every sensor's live traces (see monitor);\n"
             "      markers (a text at the moment it arrives) are typed in the terminal\n"
             "      and ended with Enter, come one per line from a pipe on stdin with\n"
             "      --markers-from-stdin, or from bvhost mark; each is an annotation of\n"
             "      the EDF+ or BDF+ file and a row of its events.tsv (for CSV, which has\n"
             "      no annotations, only the latter: FILE_events.tsv beside it)\n"
             "  bvhost monitor PLUGIN.so [--seconds S] [--listen ADDRESS] [--port N]\n"
             "        [--start-trigger on|off] [--stop-trigger on|off] [--output-triggers on|off]\n"
             "        [--markers-from-stdin]\n"
             "      streams until Ctrl-C (or for S seconds) and writes no file; serves a\n"
             "      read-only page at http://127.0.0.1:8642/ (--port; 0 takes any free\n"
             "      port) with live traces, battery, frame rate and gaps per sensor; it\n"
             "      listens on loopback only unless --listen names another address\n"
             "  bvhost validate PLUGIN.so [--seed N] [--only REGEX]\n"
             "      conformance checks, each in its own process with a time limit;\n"
             "      --only runs the checks whose name matches REGEX (POSIX extended)\n"
             "  bvhost repair FILE [--out FILE]\n"
             "      completes a recording that a run left unfinished (killed, crashed):\n"
             "      cuts a partial last record or row, sets the record count, adds the\n"
             "      annotations kept in FILE.annotations, then moves FILE to the name it\n"
             "      was meant to have (or --out) unless a file of that name exists, and\n"
             "      writes its events.tsv\n"
             "  bvhost mark TEXT [--to NAME]\n"
             "      puts TEXT into the running recording as a marker at the moment it\n"
             "      arrives; with several running, --to NAME says which (record and\n"
             "      monitor print their NAME: the first output's file name, or monitor)\n"
             "  bvhost --version\n"
             "      the versions of bvhost and of EDFlib\n"
             "  bvhost --help\n"
             "      this text\n"
             "  bvhost --man\n"
             "      this help as a manual page in roff, the one 'man bvhost' shows\n"
             "\n") +
         kExitCodeTable;
}

std::string versionText() {
  const int edflib = edflib_version();
  char text[128];
  std::snprintf(text, sizeof text, "bvhost %s\nEDFlib %d.%02d\n", BVHOST_VERSION, edflib / 100,
                edflib % 100);
  return text;
}

}  // namespace bvhost
