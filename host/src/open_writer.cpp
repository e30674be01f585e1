#include "csv_writer.h"
#include "edf_writer.h"

namespace bvhost {

std::unique_ptr<SampleWriter> openWriter(OutputFormat format, const std::string& path,
                                         const std::vector<ChannelInfo>& channels,
                                         const RecordingInfo& info) {
  switch (format) {
    case OutputFormat::Csv:
      return std::make_unique<CsvWriter>(path, channels);
    case OutputFormat::Edf:
      return std::make_unique<EdfWriter>(path, false, channels, info);
    case OutputFormat::Bdf:
      return std::make_unique<EdfWriter>(path, true, channels, info);
  }
  throw OutputError("unknown output format");
}

}  // namespace bvhost
