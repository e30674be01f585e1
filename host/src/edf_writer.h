// EDF+ and BDF+ through EDFlib: one signal per channel with samples per
// frame, one frame per data record.
#pragma once

#include <vector>

#include "sample_writer.h"
#include "units.h"

namespace bvhost {

class EdfWriter : public SampleWriter {
 public:
  EdfWriter(const std::string& path, bool bdf, const std::vector<ChannelInfo>& channels,
            const RecordingInfo& info);
  ~EdfWriter() override;

  void write(std::size_t channel, std::uint64_t firstIndex, const float* values,
             std::uint64_t count) override;
  void close() override;
  std::vector<std::string> notes() const override;
  const std::string& path() const override { return path_; }

  std::uint64_t recordsWritten() const { return records_; }

 private:
  struct Signal {
    std::size_t channel;
    int samplesPerRecord;
    PhysicalRange range;
    // Samples waiting for their record; a record is written only when every
    // signal has a full one, so channels that run short never lose samples.
    // Records are handed to EDFlib straight from this buffer, and consumed
    // samples are dropped in one move per write rather than one by one.
    std::vector<double> pending;
    std::size_t consumed = 0;
    std::uint64_t written = 0;
    std::uint64_t clipped = 0;
    std::uint64_t padded = 0;
    bool offSizeAnnotated = false;

    std::size_t available() const { return pending.size() - consumed; }
    bool recordReady() const { return available() >= static_cast<std::size_t>(samplesPerRecord); }
  };

  void writeFullRecords();
  void countWaitingSignals();
  void annotate(double onsetSeconds, const std::string& text);

  std::string path_;
  const std::vector<ChannelInfo>& channels_;
  std::vector<Signal> signals_;
  // Channel index to signal index, or -1 for a channel left out.
  std::vector<int> signalOf_;
  std::vector<std::string> leftOut_;
  // Signals without a full record yet; records can be written when none is
  // left, which saves looking at every signal after every block.
  std::size_t signalsWaiting_ = 0;
  int handle_ = -1;
  std::uint64_t records_ = 0;
};

// The EDF label for a channel: at most 16 characters.
std::string edfLabel(const ChannelInfo& channel);

}  // namespace bvhost
