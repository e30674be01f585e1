#include "repair_command.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "annotation_journal.h"
#include "csv_finish.h"
#include "csv_writer.h"
#include "edf_finish.h"
#include "edf_header.h"
#include "exit_codes.h"
#include "folder_sync.h"
#include "partial_name.h"
#include "sample_writer.h"

namespace bvhost {
namespace {

enum class Kind { Edf, Csv };

Kind detectKind(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw OutputError("cannot open " + path + ": " + std::strerror(errno));
  }
  char bytes[64];
  ssize_t got = 0;
  do {
    got = ::read(fd, bytes, sizeof bytes);
  } while (got < 0 && errno == EINTR);
  const int reason = errno;
  ::close(fd);
  if (got < 0) {
    throw OutputError("cannot read " + path + ": " + std::strerror(reason));
  }
  const std::string_view start(bytes, static_cast<std::size_t>(got));
  if (start.empty()) {
    throw OutputError(path + " is empty: the run ended before anything was written to it");
  }
  if (hasEdfVersion(start)) {
    return Kind::Edf;
  }
  // A run killed early may have written only part of the first line.
  const std::string_view header = kCsvFirstLine;
  if (header.substr(0, std::min(header.size(), start.size())) ==
      start.substr(0, std::min(header.size(), start.size()))) {
    return Kind::Csv;
  }
  throw OutputError(path +
                    " is no recording bvhost writes: it begins neither with an EDF or BDF "
                    "header nor with bvhost's CSV first line");
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

// Only once its annotations are in the file; a second repair then finds
// none to add twice.
void removeJournal(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    throw OutputError("cannot remove " + path + ": " + std::strerror(errno));
  }
}

}  // namespace

int runRepair(const std::string& file, const std::optional<std::string>& out) {
  const Kind kind = detectKind(file);
  const std::string journal = journalPathFor(file);
  std::size_t leftOut = 0;
  if (kind == Kind::Edf) {
    const std::vector<Annotation> annotations = readAnnotationJournal(journal);
    const EdfFinishReport report = finishEdfFile(file, annotations);
    std::printf("%s: %lld data record(s) kept, %llu byte(s) of a partial record cut\n",
                file.c_str(), static_cast<long long>(report.records),
                static_cast<unsigned long long>(report.bytesCut));
    std::printf("%s: %zu annotation(s) written from %s\n", file.c_str(), report.annotationsWritten,
                annotations.empty() ? "no journal" : journal.c_str());
    leftOut = report.annotationsLeftOut;
    if (leftOut == 0) {
      removeJournal(journal);
    }
  } else {
    const std::uint64_t cut = finishCsvFile(file);
    std::printf("%s: %llu byte(s) of a half-written row cut\n", file.c_str(),
                static_cast<unsigned long long>(cut));
  }
  std::string where = file;
  const std::optional<std::string> target = out ? out : intendedPath(file);
  if (target) {
    if (moveIfFree(file, *target)) {
      // Best effort: the move itself has happened, only its durability is
      // at stake.
      syncFolder(folderOf(*target));
      where = *target;
    } else {
      std::printf("%s already exists, so the repaired file keeps its own name\n", target->c_str());
    }
  }
  std::printf("repaired file: %s\n", where.c_str());
  if (leftOut > 0) {
    std::fprintf(stderr,
                 "bvhost: warning: %zu annotation(s) did not fit in the file's annotation signals "
                 "and were left out; all are still in %s\n",
                 leftOut, journal.c_str());
  }
  return kExitOk;
}

}  // namespace bvhost
