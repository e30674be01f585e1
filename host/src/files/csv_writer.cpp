#include "files/csv_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>

#include "base/frame_period.h"
#include "base/posix_io.h"
#include "base/units.h"
#include "files/annotation_journal.h"
#include "files/csv_finish.h"
#include "files/csv_format.h"
#include "files/iso_time.h"
#include "files/output_error.h"
#include "files/write_failure.h"

namespace bvhost {

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    return text;
  }
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') {
      quoted += '"';
    }
    quoted += c;
  }
  return quoted + "\"";
}

CsvWriter::CsvWriter(int fd, const std::string& path, const std::vector<ChannelInfo>& channels,
                     const RecordingInfo& info)
    : path_(path), channels_(channels), buffer_(kBufferSize) {
  // A descriptor of its own, so closing it leaves the caller's.
  fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (fd_ < 0) {
    throw OutputError("cannot write " + path + ": " + std::strerror(errno));
  }
  for (const auto& channel : channels_) {
    prefixes_.push_back(csvField(channel.component) + "," + csvField(channel.channel) + "," +
                        csvField(edfDimension(channel.unit)) + ",");
  }
  const std::string start = std::string(kCsvFirstLine) + " of " + info.pluginName + " " +
                            info.pluginVersion + ", stream start " + isoTime(info.start) +
                            "; time_s counts from it\n" + kCsvColumns;
  append(start.data(), start.size());
  try {
    journal_ = std::make_unique<AnnotationJournal>(journalPathFor(path_));
  } catch (...) {
    ::close(fd_);
    throw;
  }
}

CsvWriter::~CsvWriter() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
  // Never completed: the run ended before recording, and its partial file
  // goes too.
  if (journal_ && !closed_) {
    try {
      journal_->remove();
    } catch (const OutputError&) {
    }
  }
}

void CsvWriter::annotate(const Annotation& annotation, bool begins) {
  if (begins) {
    journal_->appendOpen(annotation.onsetSeconds, annotation.text);
  } else {
    journal_->append(annotation);
  }
  journal_->write();
}

namespace {

// "00" to "99", so that digits are written two at a time.
constexpr auto kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

void writePair(char* out, std::uint64_t pair) {
  std::memcpy(out, kDigitPairs.data() + 2 * pair, 2);
}

}  // namespace

char* formatSeconds(char* out, double seconds) {
  // In units of 100 ns the time is a whole number but for the product's
  // rounding, which below 2^44 is under 1/512 and so far smaller than the
  // distance to a halfway point, unless the time lies right on one: those,
  // and larger or negative times, take the exact (and slower) way.
  const double steps = seconds * 1e7;
  if (!(steps >= 0.0 && steps < 0x1p44)) {
    return std::to_chars(out, out + 32, seconds, std::chars_format::fixed, 7).ptr;
  }
  const auto whole = static_cast<std::uint64_t>(steps);
  const double fraction = steps - static_cast<double>(whole);
  if (std::fabs(fraction - 0.5) < 1.0 / 64) {
    return std::to_chars(out, out + 32, seconds, std::chars_format::fixed, 7).ptr;
  }
  const std::uint64_t rounded = whole + (fraction > 0.5 ? 1 : 0);
  out = std::to_chars(out, out + 20, rounded / 10000000).ptr;
  const std::uint64_t decimals = rounded % 10000000;
  out[0] = '.';
  out[1] = static_cast<char>('0' + decimals / 1000000);
  writePair(out + 2, decimals / 10000 % 100);
  writePair(out + 4, decimals / 100 % 100);
  writePair(out + 6, decimals % 100);
  return out + 8;
}

void CsvWriter::append(const char* text, std::size_t size) {
  if (used_ + size > buffer_.size()) {
    flush();
    if (size > buffer_.size()) {
      buffer_.resize(size);
    }
  }
  std::memcpy(buffer_.data() + used_, text, size);
  used_ += size;
}

void CsvWriter::write(std::size_t channel, std::uint64_t frame, std::uint64_t firstIndex,
                      const float* values, std::uint64_t count) {
  if (failure_ != 0) {
    return;
  }
  const double rate = channels_[channel].rate;
  // Sample i of a block of frame k lies at k frames plus i / rate: a block
  // that came short leaves no rows, and later rows keep their time.
  const double frameStart = static_cast<double>(frame) * kFramePeriodSeconds;
  const std::string& prefix = prefixes_[channel];
  // The longest row: the prefix, then an index of 20 digits, a time of up
  // to 32 characters and a float of at most 15 ("-1.17549435e-38"), with
  // their commas and the line break.
  const std::size_t longest = prefix.size() + 20 + 32 + 15 + 3;
  if (longest > buffer_.size()) {
    buffer_.resize(longest);
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    if (used_ + longest > buffer_.size()) {
      flush();
    }
    char* out = buffer_.data() + used_;
    std::memcpy(out, prefix.data(), prefix.size());
    out += prefix.size();
    out = std::to_chars(out, out + 20, firstIndex + i).ptr;
    *out++ = ',';
    const double time = frameStart + (rate > 0.0 ? static_cast<double>(i) / rate : 0.0);
    out = formatSeconds(out, time);
    *out++ = ',';
    // The shortest text that reads back as the same float.
    out = std::to_chars(out, out + 15, values[i]).ptr;
    *out++ = '\n';
    used_ = static_cast<std::size_t>(out - buffer_.data());
  }
}

void CsvWriter::flush() {
  if (failure_ == 0) {
    failure_ = writeAll(fd_, buffer_.data(), used_);
  }
  used_ = 0;
  if (failure_ != 0) {
    fail(failure_);
  }
}

void CsvWriter::fail(int error) {
  throw OutputError("writing " + path_ + " failed: " + writeFailureReason(error, 0));
}

void CsvWriter::sync() {
  if (fd_ < 0) {
    return;
  }
  journal_->sync();
  flush();
  if (::fdatasync(fd_) != 0) {
    failure_ = errno;
    fail(failure_);
  }
}

void CsvWriter::close() {
  if (fd_ < 0) {
    return;
  }
  closed_ = true;
  std::exception_ptr journalFailure;
  try {
    journal_->sync();
  } catch (const OutputError&) {
    journalFailure = std::current_exception();
  }
  int error = failure_;
  if (error == 0) {
    try {
      flush();
    } catch (const OutputError&) {
      error = failure_;
    }
  }
  if (error == 0 && ::fdatasync(fd_) != 0) {
    error = errno;
  }
  if (error != 0) {
    // What did reach the file stays readable: no half-written last row.
    try {
      finishCsvFile(fd_, path_);
    } catch (const OutputError&) {
    }
  }
  if (::close(fd_) != 0 && error == 0) {
    error = errno;
  }
  fd_ = -1;
  if (error != 0) {
    fail(error);
  }
  if (journalFailure) {
    std::rethrow_exception(journalFailure);
  }
}

}  // namespace bvhost
