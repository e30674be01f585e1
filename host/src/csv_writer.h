// One row per sample: component, channel, index, time, value.
#pragma once

#include <cstdio>

#include "sample_writer.h"

namespace bvhost {

// The first line of every CSV file bvhost writes.
inline constexpr const char* kCsvHeaderLine = "component,channel,sample_index,time_s,value\n";

class CsvWriter : public SampleWriter {
 public:
  CsvWriter(const std::string& path, const std::vector<ChannelInfo>& channels);
  ~CsvWriter() override;

  void write(std::size_t channel, std::uint64_t firstIndex, const float* values,
             std::uint64_t count) override;
  void close() override;
  const std::string& path() const override { return path_; }

 private:
  std::string path_;
  const std::vector<ChannelInfo>& channels_;
  // Component and channel already quoted for CSV, with the trailing comma.
  std::vector<std::string> prefixes_;
  std::FILE* file_ = nullptr;
};

// A field quoted only when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text);

}  // namespace bvhost
