#include "csv_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "csv_finish.h"
#include "frame_period.h"
#include "units.h"
#include "write_failure.h"

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
    : path_(path), channels_(channels) {
  // A descriptor of its own, so closing the stream leaves the caller's.
  const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  file_ = own < 0 ? nullptr : ::fdopen(own, "w");
  if (file_ == nullptr) {
    const int error = errno;
    if (own >= 0) {
      ::close(own);
    }
    throw OutputError("cannot write " + path + ": " + std::strerror(error));
  }
  // Rows are small and many; a large buffer keeps the recording loop from
  // making a system call per frame. sync() empties it every second.
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  for (const auto& channel : channels_) {
    prefixes_.push_back(csvField(channel.component) + "," + csvField(channel.channel) + "," +
                        csvField(edfDimension(channel.unit)) + ",");
  }
  std::fprintf(file_, "%s of %s %s, stream start %s; time_s counts from it\n", kCsvFirstLine,
               info.pluginName.c_str(), info.pluginVersion.c_str(), isoTime(info.start).c_str());
  std::fputs(kCsvColumns, file_);
}

CsvWriter::~CsvWriter() {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

void CsvWriter::write(std::size_t channel, std::uint64_t frame, std::uint64_t firstIndex,
                      const float* values, std::uint64_t count) {
  const double rate = channels_[channel].rate;
  // Sample i of a block of frame k lies at k frames plus i / rate: a block
  // that came short leaves no rows, and later rows keep their time.
  const double frameStart = static_cast<double>(frame) * kFramePeriodSeconds;
  const char* prefix = prefixes_[channel].c_str();
  for (std::uint64_t i = 0; i < count; ++i) {
    const double time = frameStart + (rate > 0.0 ? static_cast<double>(i) / rate : 0.0);
    std::fprintf(file_, "%s%llu,%.7f,%.9g\n", prefix,
                 static_cast<unsigned long long>(firstIndex + i), time,
                 static_cast<double>(values[i]));
  }
}

void CsvWriter::fail(int error) {
  throw OutputError("writing " + path_ + " failed: " + writeFailureReason(error, 0));
}

void CsvWriter::sync() {
  if (file_ == nullptr) {
    return;
  }
  if (std::fflush(file_) != 0 || std::ferror(file_) != 0) {
    fail(errno);
  }
  if (::fdatasync(fileno(file_)) != 0) {
    fail(errno);
  }
}

void CsvWriter::close() {
  if (file_ == nullptr) {
    return;
  }
  int error = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_) != 0 || ::fdatasync(fileno(file_)) != 0) {
    error = errno;
  }
  // Kept past the stream's close, to complete the file without its name.
  const int fd = error != 0 ? ::fcntl(fileno(file_), F_DUPFD_CLOEXEC, 0) : -1;
  if (std::fclose(file_) != 0 && error == 0) {
    error = errno;
  }
  file_ = nullptr;
  if (error != 0) {
    // What did reach the file stays readable: no half-written last row.
    try {
      if (fd >= 0) {
        finishCsvFile(fd, path_);
      }
    } catch (const OutputError&) {
    }
    if (fd >= 0) {
      ::close(fd);
    }
    fail(error);
  }
}

}  // namespace bvhost
