#include "files/open_writer.h"

#include "files/csv_writer.h"
#include "files/edf_writer.h"
#include "files/output_error.h"

namespace bvhost {

std::unique_ptr<SampleWriter> openWriter(OutputFormat format, int fd, const std::string& path,
                                         const std::vector<ChannelInfo>& channels,
                                         const RecordingInfo& info) {
  switch (format) {
    case OutputFormat::Csv:
      return std::make_unique<CsvWriter>(fd, path, channels, info);
    case OutputFormat::Edf:
      return std::make_unique<EdfWriter>(fd, path, false, channels, info);
    case OutputFormat::Bdf:
      return std::make_unique<EdfWriter>(fd, path, true, channels, info);
  }
  throw OutputError("unknown output format");
}

}  // namespace bvhost
