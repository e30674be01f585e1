#include "csv_writer.h"

#include <cerrno>
#include <cstring>

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

CsvWriter::CsvWriter(const std::string& path, const std::vector<ChannelInfo>& channels)
    : path_(path), channels_(channels) {
  file_ = std::fopen(path.c_str(), "w");
  if (file_ == nullptr) {
    throw OutputError("cannot create " + path + ": " + std::strerror(errno));
  }
  // Rows are small and many; a large buffer keeps the recording loop from
  // making a system call per frame.
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  for (const auto& channel : channels_) {
    prefixes_.push_back(csvField(channel.component) + "," + csvField(channel.channel) + ",");
  }
  std::fputs(kCsvHeaderLine, file_);
}

CsvWriter::~CsvWriter() {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

void CsvWriter::write(std::size_t channel, std::uint64_t firstIndex, const float* values,
                      std::uint64_t count) {
  const double rate = channels_[channel].rate;
  const char* prefix = prefixes_[channel].c_str();
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t index = firstIndex + i;
    const double time = rate > 0.0 ? static_cast<double>(index) / rate : 0.0;
    std::fprintf(file_, "%s%llu,%.7f,%.9g\n", prefix, static_cast<unsigned long long>(index), time,
                 static_cast<double>(values[i]));
  }
}

void CsvWriter::close() {
  if (file_ == nullptr) {
    return;
  }
  const bool writeFailed = std::ferror(file_) != 0;
  const bool closeFailed = std::fclose(file_) != 0;
  file_ = nullptr;
  if (writeFailed || closeFailed) {
    throw OutputError("writing " + path_ + " failed: " + std::strerror(errno));
  }
}

}  // namespace bvhost
