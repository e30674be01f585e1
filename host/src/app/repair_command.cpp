#include "app/repair_command.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

#include "base/exit_codes.h"
#include "files/annotation_journal.h"
#include "files/csv_finish.h"
#include "files/csv_writer.h"
#include "files/edf_finish.h"
#include "files/edf_header.h"
#include "files/folder_sync.h"
#include "files/output_error.h"
#include "files/output_format.h"
#include "files/output_target.h"
#include "files/partial_name.h"

namespace bvhost {
namespace {

enum class Kind { Edf, Csv };

// Enough for bvhost's CSV first line with the longest plug-in name and
// version, and the header row after it.
constexpr std::size_t kRecognitionBytes = 4096;

std::string errorText(int code) { return std::strerror(code); }

const char* fileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "no regular file";
}

// The file to repair, open and locked for as long as repair works on it.
class Target {
 public:
  explicit Target(const std::string& path) : path_(path) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0) {
      throw OutputError("cannot open " + path + ": " + errorText(errno));
    }
    // Judged before opening: opening a device or a FIFO can itself do
    // something, or wait.
    if (!S_ISREG(link.st_mode)) {
      throw OutputError("cannot repair " + path + ": it is " + fileKind(link.st_mode) +
                        ", not a regular file" +
                        (S_ISLNK(link.st_mode) ? "; give the file itself" : ""));
    }
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    fd_ = ::open(path.c_str(), O_RDWR | kFlags);
    if (fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
      // Enough to find that nothing needs doing.
      writeError_ = errno;
      fd_ = ::open(path.c_str(), O_RDONLY | kFlags);
    }
    if (fd_ < 0) {
      throw OutputError("cannot open " + path + ": " + errorText(errno));
    }
    struct stat status {};
    if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) {
      ::close(fd_);
      throw OutputError("cannot repair " + path + ": it is no regular file");
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      const int code = errno;
      ::close(fd_);
      if (code == EWOULDBLOCK) {
        const long pid = lockHolder(status);
        throw OutputError("cannot repair " + path + ": a running bvhost" +
                          (pid > 0 ? " (pid " + std::to_string(pid) + ")" : std::string()) +
                          " is writing it; it completes the file itself when its run ends");
      }
      throw OutputError("cannot lock " + path + ": " + errorText(code));
    }
  }
  ~Target() { ::close(fd_); }
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;

  int fd() const { return fd_; }

  void requireWritable() const {
    if (writeError_ != 0) {
      throw OutputError("cannot repair " + path_ + ": it cannot be opened for writing (" +
                        errorText(writeError_) + ")");
    }
  }

  std::string firstBytes() const {
    std::string bytes(kRecognitionBytes, '\0');
    ssize_t got = 0;
    do {
      got = ::pread(fd_, bytes.data(), bytes.size(), 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      throw OutputError("cannot read " + path_ + ": " + errorText(errno));
    }
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
  }

  std::uint64_t size() const {
    struct stat status {};
    if (::fstat(fd_, &status) != 0) {
      throw OutputError("cannot read the size of " + path_ + ": " + errorText(errno));
    }
    return static_cast<std::uint64_t>(status.st_size);
  }

  bool endsWithLineBreak() const {
    const std::uint64_t size = this->size();
    char last = 0;
    return size > 0 && ::pread(fd_, &last, 1, static_cast<off_t>(size - 1)) == 1 && last == '\n';
  }

 private:
  // The pid /proc/locks gives for the flock on this file, or 0.
  static long lockHolder(const struct stat& status) {
    std::ifstream locks("/proc/locks");
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(status.st_dev),
                  minor(status.st_dev), static_cast<unsigned long long>(status.st_ino));
    for (std::string line; std::getline(locks, line);) {
      std::istringstream words(line);
      std::string number, kind, mode, access, where;
      long pid = 0;
      if (words >> number >> kind >> mode >> access >> pid >> where && kind == "FLOCK" &&
          where == device) {
        return pid;
      }
    }
    return 0;
  }

  std::string path_;
  int fd_ = -1;
  int writeError_ = 0;
};

Kind detectKind(const Target& target, const std::string& path) {
  const std::string start = target.firstBytes();
  if (start.empty()) {
    throw OutputError(path + " is empty: the run ended before anything was written to it");
  }
  if (hasEdfVersion(start)) {
    return Kind::Edf;
  }
  // bvhost's whole first line and its header row: a file cut short before
  // them holds no sample, and a file that merely begins with '#' may be
  // anybody's.
  const std::string_view text = start;
  const std::string prefix = std::string(kCsvFirstLine) + " of ";
  const auto lineEnd = text.find('\n');
  if (text.starts_with(prefix) && lineEnd != std::string_view::npos &&
      text.substr(lineEnd + 1).starts_with(kCsvColumns)) {
    return Kind::Csv;
  }
  throw OutputError(path +
                    " is no recording bvhost writes: it begins neither with an EDF or BDF "
                    "header nor with bvhost's CSV first line and header row");
}

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
                      errorText(errno) + "), and repair must " + why);
  }
}

// Returns whether there was anything to complete.
bool repairEdf(const Target& target, const std::string& file) {
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

}  // namespace

int runRepair(const std::string& file, const std::optional<std::string>& out) {
  if (out) {
    // As record checks an output: a missing folder or a directory is
    // refused before the file is touched.
    std::vector<OutputFile> outputs = {{*out, OutputFormat::Bdf, ""}};
    checkOutputs(outputs);
  }
  const Target target(file);
  const Kind kind = detectKind(target, file);
  const std::optional<std::string> moveTo = out ? out : intendedPath(file);
  if (moveTo && !exists(*moveTo)) {
    requireWritableFolder(file, "move it to " + *moveTo);
  }
  bool repaired = false;
  if (kind == Kind::Edf) {
    repaired = repairEdf(target, file);
  } else if (!target.endsWithLineBreak()) {
    target.requireWritable();
    const std::uint64_t cut = finishCsvFile(target.fd(), file);
    std::printf("%s: %llu byte(s) of a half-written row cut\n", file.c_str(),
                static_cast<unsigned long long>(cut));
    repaired = true;
  }
  std::string where = file;
  if (moveTo) {
    if (moveIfFree(file, *moveTo)) {
      // Best effort: the move itself has happened, only its durability is
      // at stake.
      syncFolder(folderOf(*moveTo));
      where = *moveTo;
      if (!repaired) {
        std::printf("%s: moved to %s\n", file.c_str(), where.c_str());
      }
    } else {
      std::printf("%s already exists, so the %s file keeps its own name\n", moveTo->c_str(),
                  repaired ? "repaired" : "complete");
    }
  }
  if (repaired) {
    std::printf("repaired file: %s\n", where.c_str());
  } else {
    std::printf("nothing to do: %s is complete\n", where.c_str());
  }
  return kExitOk;
}

}  // namespace bvhost
