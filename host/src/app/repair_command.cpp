#include "app/repair_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/exit_codes.h"
#include "base/posix_io.h"
#include "files/annotation_journal.h"
#include "files/csv_finish.h"
#include "files/edf_finish.h"
#include "files/edf_read_annotations.h"
#include "files/events_tsv.h"
#include "files/file_paths.h"
#include "files/folder_sync.h"
#include "files/output_error.h"
#include "files/output_format.h"
#include "files/output_paths.h"
#include "files/partial_name.h"
#include "files/repair_file.h"

namespace bvhost {
namespace {

bool exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

// Moves without ever replacing a file: link() fails on an existing name
// where rename() would overwrite it.
bool moveIfFree(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno == EEXIST) {
    return false;
  }
  if (errno != EINVAL && errno != ENOSYS) {
    throw OutputError("cannot move " + from + " to " + to + ": " + std::strerror(errno));
  }
  if (::link(from.c_str(), to.c_str()) != 0) {
    if (errno == EEXIST) {
      return false;
    }
    throw OutputError("cannot move " + from + " to " + to + ": " + std::strerror(errno));
  }
  if (::unlink(from.c_str()) != 0) {
    throw OutputError("moved " + from + " to " + to +
                      " but cannot remove the old name: " + std::strerror(errno));
  }
  return true;
}

// Only once the file holds all its annotations, flushed: until then a
// second repair rebuilds them from here.
void removeJournal(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    throw OutputError("cannot remove " + path + ": " + std::strerror(errno));
  }
}

// Refused before anything changes, so a repair that cannot finish its work
// does not leave half of it done.
void requireWritableFolder(const std::string& path, const std::string& why) {
  const std::string folder = folderOf(path);
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    throw OutputError("cannot repair " + path + ": its folder " + folder + " is not writable (" +
                      std::strerror(errno) + "), and repair must " + why);
  }
}

// A killed run loses the samples it had not yet written, while a marker
// set in that time is kept: said, as a reader may omit it silently.
void reportAfterData(const std::string& file, std::size_t count, double endSeconds,
                     const char* keptIn) {
  if (count > 0) {
    std::printf(
        "%s: %zu annotation(s) set after its data ends at %.6f s, in time whose "
        "samples the run did not keep; they are kept in %s, though readers such as MNE-Python "
        "leave out what lies outside the data\n",
        file.c_str(), count, endSeconds, keptIn);
  }
}

// Returns whether there was anything to complete.
bool repairEdf(const RepairFile& target, const std::string& file) {
  const std::string journal = journalPathFor(file);
  const bool hasJournal = exists(journal);
  const EdfFileState state = inspectEdfFile(target.fd(), file);
  if (state.complete && !hasJournal) {
    return false;
  }
  target.requireWritable();
  if (hasJournal) {
    requireWritableFolder(file, "remove " + journal + " once its annotations are in the file");
  }
  // Without a journal nothing says which annotations belong in the file, so
  // what it holds stays.
  const std::vector<Annotation> annotations = readAnnotationJournal(journal);
  const EdfFinishReport report =
      finishEdfFile(target.fd(), file, annotations,
                    hasJournal ? AnnotationAreas::kRebuild : AnnotationAreas::kKeep);
  std::printf("%s: %lld data record(s) kept, %llu byte(s) of a partial record cut\n", file.c_str(),
              static_cast<long long>(report.records),
              static_cast<unsigned long long>(report.bytesCut));
  std::printf("%s: %zu annotation(s) written from %s\n", file.c_str(), report.annotationsWritten,
              hasJournal ? journal.c_str() : "no journal");
  if (report.openAnnotationsClosed > 0) {
    std::printf("%s: %zu of them still open when the run ended, marked up to the file's end\n",
                file.c_str(), report.openAnnotationsClosed);
  }
  reportAfterData(file, report.annotationsAfterData,
                  static_cast<double>(report.records) * state.header.recordDurationSeconds,
                  "its annotations and in its events.tsv");
  if (report.annotationsLeftOut > 0) {
    // The journal stays beside the file under the name it belongs to; the
    // file is complete and readable without them, but not what was asked.
    throw OutputError(file + ": " + std::to_string(report.annotationsLeftOut) + " of " +
                      std::to_string(annotations.size()) + " annotation(s) do not fit into its " +
                      std::to_string(report.annotationSignals) +
                      " annotation signal(s) and are not in it; the file is complete "
                      "without them and keeps its name, and all are kept in " +
                      journal);
  }
  removeJournal(journal);
  return true;
}

// The time_s of the CSV file's last row, the one before its last line
// break: the second field from the end, as no field after it is quoted.
double lastRowSeconds(const RepairFile& target) {
  const std::uint64_t size = target.size();
  const std::uint64_t from = size > 4096 ? size - 4096 : 0;
  std::string tail(static_cast<std::size_t>(size - from), '\0');
  std::size_t got = 0;
  if (readUpTo(target.fd(), tail.data(), tail.size(), from, got) != 0) {
    return 0.0;
  }
  tail.resize(got);
  while (!tail.empty() && tail.back() == '\n') {
    tail.pop_back();
  }
  const std::string row = tail.substr(tail.rfind('\n') + 1);
  const auto valueComma = row.rfind(',');
  const auto timeComma = valueComma == std::string::npos || valueComma == 0
                             ? std::string::npos
                             : row.rfind(',', valueComma - 1);
  double seconds = 0.0;
  if (timeComma != std::string::npos) {
    std::from_chars(row.data() + timeComma + 1, row.data() + valueComma, seconds);
  }
  return seconds;
}

// A CSV file's notes, which only its journal holds: an open one lasts to
// the last row.
std::vector<Annotation> csvEvents(const RepairFile& target, const std::string& file,
                                  const std::string& journal) {
  std::vector<Annotation> events = readAnnotationJournal(journal);
  const double lastRow = lastRowSeconds(target);
  closeOpenAnnotations(events, lastRow);
  const auto after = std::count_if(events.begin(), events.end(), [lastRow](const Annotation& a) {
    return a.onsetSeconds > lastRow;
  });
  reportAfterData(file, static_cast<std::size_t>(after), lastRow, "its events.tsv");
  return events;
}

// Completes the file where it lies; true when anything had to be done.
bool completeInPlace(const RepairFile& target, RecordingKind kind, const std::string& file,
                     const std::string& journal, bool csvJournal) {
  if (kind == RecordingKind::Edf) {
    return repairEdf(target, file);
  }
  if (csvJournal) {
    target.requireWritable();
    requireWritableFolder(file, "remove " + journal + " once its notes are in an events.tsv");
  }
  if (target.endsWithLineBreak()) {
    return false;
  }
  target.requireWritable();
  const std::uint64_t cut = finishCsvFile(target.fd(), file);
  std::printf("%s: %llu byte(s) of a half-written row cut\n", file.c_str(),
              static_cast<unsigned long long>(cut));
  return true;
}

// From what the EDF+ file holds now, journal and all; a CSV file's journal
// holds what nothing else does, and goes once they are written.
void writeEvents(const RepairFile& target, RecordingKind kind, const std::string& file,
                 const std::string& journal, const std::string& destination) {
  const std::vector<Annotation> events =
      kind == RecordingKind::Edf ? readEdfAnnotations(file) : csvEvents(target, file, journal);
  const std::string eventsPath = eventsTsvPathFor(destination);
  writeEventsTsv(eventsPath, events);
  std::printf("%s: %zu event(s) written to %s\n", file.c_str(), events.size(), eventsPath.c_str());
}

// Moves the file to `moveTo` unless a file is there; returns where it is.
std::string moveIntoPlace(const std::string& file, const std::optional<std::string>& moveTo,
                          bool repaired) {
  if (!moveTo) {
    return file;
  }
  if (!moveIfFree(file, *moveTo)) {
    std::printf("%s already exists, so the %s file keeps its own name\n", moveTo->c_str(),
                repaired ? "repaired" : "complete");
    return file;
  }
  // Best effort: the move itself has happened, only its durability is at
  // stake.
  syncFolder(folderOf(*moveTo));
  if (!repaired) {
    std::printf("%s: moved to %s\n", file.c_str(), moveTo->c_str());
  }
  return *moveTo;
}

}  // namespace

int runRepair(const std::string& file, const std::optional<std::string>& out) {
  if (out) {
    // As record checks an output: a missing folder or a directory is
    // refused before the file is touched.
    std::vector<OutputFile> outputs = {{*out, OutputFormat::Bdf, ""}};
    checkOutputs(outputs);
  }
  const RepairFile target(file);
  const RecordingKind kind = target.kind();
  const std::optional<std::string> moveTo = out ? out : intendedPath(file);
  if (moveTo && !exists(*moveTo)) {
    requireWritableFolder(file, "move it to " + *moveTo);
  }
  // The events.tsv goes beside the name the file ends up with.
  const std::string destination = moveTo && !exists(*moveTo) ? *moveTo : file;
  const std::string journal = journalPathFor(file);
  const bool csvJournal = kind == RecordingKind::Csv && exists(journal);
  bool repaired = completeInPlace(target, kind, file, journal, csvJournal);
  if (repaired || csvJournal) {
    writeEvents(target, kind, file, journal, destination);
    if (csvJournal) {
      removeJournal(journal);
      repaired = true;
    }
  }
  const std::string where = moveIntoPlace(file, moveTo, repaired);
  if (repaired) {
    std::printf("repaired file: %s\n", where.c_str());
  } else {
    std::printf("nothing to do: %s is complete\n", where.c_str());
  }
  return kExitOk;
}

}  // namespace bvhost
