#include "files/annotation_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string_view>

#include "base/posix_io.h"
#include "files/file_paths.h"
#include "files/folder_sync.h"
#include "files/output_error.h"

namespace bvhost {
namespace {

// Beyond this an onset is no time within a recording but a damaged line.
constexpr double kLargestSeconds = 1e9;

std::string formatSeconds(double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%.7f", seconds);
  std::string result = text;
  result.erase(result.find_last_not_of('0') + 1);
  if (!result.empty() && result.back() == '.') {
    result.pop_back();
  }
  return result;
}

std::optional<double> parseSeconds(std::string_view text) {
  double value = 0.0;
  if (text.empty() || text.find_first_not_of("-.0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value) ||
      std::fabs(value) > kLargestSeconds) {
    return std::nullopt;
  }
  return value;
}

std::string journalText(const std::string& text) {
  std::string cleaned = text;
  // A tab or line break in the text would split the line.
  for (char& c : cleaned) {
    if (static_cast<unsigned char>(c) < 0x20) {
      c = ' ';
    }
  }
  return cleaned;
}

std::optional<Annotation> parseLine(std::string_view line) {
  const auto firstTab = line.find('\t');
  if (firstTab == std::string_view::npos) {
    return std::nullopt;
  }
  const auto secondTab = line.find('\t', firstTab + 1);
  if (secondTab == std::string_view::npos) {
    return std::nullopt;
  }
  const auto onset = parseSeconds(line.substr(0, firstTab));
  const std::string_view durationText = line.substr(firstTab + 1, secondTab - firstTab - 1);
  const bool open = durationText == "open";
  const auto duration =
      durationText == "-" || open ? std::optional<double>(-1.0) : parseSeconds(durationText);
  if (!onset || !duration || (durationText != "-" && !open && *duration < 0.0)) {
    return std::nullopt;
  }
  return Annotation{*onset, *duration, std::string(line.substr(secondTab + 1)), open};
}

}  // namespace

std::string journalPathFor(const std::string& dataPath) { return dataPath + ".annotations"; }

AnnotationJournal::AnnotationJournal(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    throw OutputError("cannot create " + path + ": " + std::strerror(errno));
  }
}

AnnotationJournal::~AnnotationJournal() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

void AnnotationJournal::append(const Annotation& annotation) {
  pending_ += formatSeconds(annotation.onsetSeconds) + '\t' +
              (annotation.durationSeconds < 0.0 ? "-" : formatSeconds(annotation.durationSeconds)) +
              '\t' + journalText(annotation.text) + '\n';
}

void AnnotationJournal::appendOpen(double onsetSeconds, const std::string& text) {
  pending_ += formatSeconds(onsetSeconds) + "\topen\t" + journalText(text) + '\n';
}

void AnnotationJournal::write() {
  if (fd_ < 0) {
    throw OutputError("cannot write " + path_ + ": it was removed");
  }
  if (pending_.empty()) {
    return;
  }
  std::size_t written = 0;
  if (const int error = writeAll(fd_, pending_.data(), pending_.size(), &written); error != 0) {
    // What did reach the file is not written again by the next sync.
    pending_.erase(0, written);
    throw OutputError("cannot write " + path_ + ": " + std::strerror(error));
  }
  pending_.clear();
}

void AnnotationJournal::sync() {
  write();
  if (::fdatasync(fd_) != 0) {
    throw OutputError("cannot flush " + path_ + ": " + std::strerror(errno));
  }
  if (!folderSynced_) {
    // The journal's own entry in its folder must outlast a power loss too;
    // once is enough.
    syncFolder(folderOf(path_));
    folderSynced_ = true;
  }
}

void AnnotationJournal::remove() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (::unlink(path_.c_str()) != 0 && errno != ENOENT) {
    throw OutputError("cannot remove " + path_ + ": " + std::strerror(errno));
  }
}

std::vector<Annotation> parseAnnotationJournal(std::string_view content) {
  std::vector<Annotation> annotations;
  std::size_t start = 0;
  for (auto end = content.find('\n'); end != std::string_view::npos;
       start = end + 1, end = content.find('\n', start)) {
    if (auto annotation = parseLine(content.substr(start, end - start))) {
      annotations.push_back(std::move(*annotation));
    }
  }
  // A silence is keyed by where it began and whose it is; once its closing
  // line is there, the open line says nothing more, and a repeated open
  // line says nothing new.
  using Key = std::pair<double, std::string>;
  std::set<Key> closed;
  for (const auto& annotation : annotations) {
    if (!annotation.open) {
      closed.emplace(annotation.onsetSeconds, annotation.text);
    }
  }
  std::set<Key> seenOpen;
  std::vector<Annotation> resolved;
  resolved.reserve(annotations.size());
  for (auto& annotation : annotations) {
    if (annotation.open) {
      const Key key(annotation.onsetSeconds, annotation.text);
      if (closed.contains(key) || !seenOpen.insert(key).second) {
        continue;
      }
    }
    resolved.push_back(std::move(annotation));
  }
  return resolved;
}

std::vector<Annotation> readAnnotationJournal(const std::string& path) {
  // Never waits on a FIFO or follows a link someone put in the journal's
  // place: what is read must be the file a run wrote.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      return {};
    }
    throw OutputError("cannot open " + path + ": " + std::strerror(errno));
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    throw OutputError("cannot read " + path + ": it is no regular file");
  }
  std::string content;
  char buffer[1 << 16];
  for (;;) {
    std::size_t got = 0;
    if (const int error = readSome(fd, buffer, sizeof buffer, got); error != 0) {
      ::close(fd);
      throw OutputError("cannot read " + path + ": " + std::strerror(error));
    }
    if (got == 0) {
      break;
    }
    content.append(buffer, got);
  }
  ::close(fd);
  return parseAnnotationJournal(content);
}

std::size_t closeOpenAnnotations(std::vector<Annotation>& annotations, double endSeconds) {
  std::size_t count = 0;
  for (auto& annotation : annotations) {
    if (annotation.open) {
      annotation.durationSeconds = std::max(0.0, endSeconds - annotation.onsetSeconds);
      annotation.open = false;
      ++count;
    }
  }
  return count;
}

}  // namespace bvhost
