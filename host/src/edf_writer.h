// EDF+ and BDF+ through EDFlib: one signal per channel with samples per
// frame, one frame per data record.
#pragma once

#include <vector>

#include "sample_writer.h"
#include "units.h"

namespace bvhost {

class EdfWriter : public SampleWriter {
 public:
  // About a quarter of a second of records per write.
  static constexpr std::size_t kRecordsPerWrite = 20;
  // A signal may fall this many records (one second) behind the most
  // advanced one before its gap is filled with zeros; a sensor that stays
  // silent would otherwise hold back every record and the other signals'
  // samples would pile up in memory.
  static constexpr std::size_t kMaxLagRecords = 74;

  EdfWriter(const std::string& path, bool bdf, const std::vector<ChannelInfo>& channels,
            const RecordingInfo& info, std::size_t recordsPerWrite = kRecordsPerWrite);
  ~EdfWriter() override;

  void write(std::size_t channel, std::uint64_t firstIndex, const float* values,
             std::uint64_t count) override;
  void close() override;
  std::vector<std::string> notes() const override;
  const std::string& path() const override { return path_; }

  std::uint64_t recordsWritten() const { return records_; }
  // Samples the largest signal buffer can hold.
  std::size_t largestBuffer() const;

 private:
  struct Signal {
    std::size_t channel;
    int samplesPerRecord;
    PhysicalRange range;
    double step = 1.0;    // physical units per digital step
    double offset = 0.0;  // digital value of physical zero, negated
    // Samples waiting for their record; a record is written only when every
    // signal has a full one, so channels that run short never lose samples.
    // [begin, end) of the buffer is waiting; the buffer keeps its size, so a
    // steady stream allocates nothing and consumed samples are not moved one
    // by one. Kept as the plug-in's floats (clipped ones at the range's
    // edge) for half the memory of doubles.
    std::vector<float> buffer;
    std::size_t begin = 0;
    std::size_t end = 0;
    std::uint64_t written = 0;
    std::uint64_t clipped = 0;
    std::uint64_t padded = 0;
    // Zeros put in while the signal lagged: in all, and in the gap still
    // open (annotated once it closes, with where it began).
    std::uint64_t gapZeros = 0;
    std::uint64_t openGapZeros = 0;
    double openGapOnset = 0.0;
    bool offSizeAnnotated = false;

    std::size_t available() const { return end - begin; }
    std::size_t records() const { return available() / static_cast<std::size_t>(samplesPerRecord); }
    float* append(std::size_t count);
    double endSeconds() const;
  };

  void writeFullRecords();
  int writeRecord();
  void countWaitingSignals();
  std::size_t leadRecords() const;
  void padTo(Signal& signal, std::size_t records);
  void closeGap(Signal& signal);
  bool batchReady(const Signal& signal) const { return signal.records() >= recordsPerWrite_; }
  void annotate(double onsetSeconds, const std::string& text);

  std::string path_;
  const std::vector<ChannelInfo>& channels_;
  std::vector<Signal> signals_;
  // Channel index to signal index, or -1 for a channel left out.
  std::vector<int> signalOf_;
  std::vector<std::string> leftOut_;
  // One record of every signal in the file's digital form, handed to EDFlib
  // in one call: three bytes a sample in BDF+, a short in EDF+.
  std::vector<unsigned char> record_;
  std::vector<short> shortRecord_;
  bool bdf_ = true;
  int digitalMax_ = 0;
  int digitalMin_ = 0;
  // EDFlib writes each record through to the file, and a write after a
  // pause costs far more than one straight after another, so records are
  // handed over in batches. Signals without a full batch yet: records are
  // written when none is left, which saves looking at every signal after
  // every block.
  std::size_t recordsPerWrite_;
  std::size_t signalsWaiting_ = 0;
  int handle_ = -1;
  std::uint64_t records_ = 0;
};

// The EDF label for a channel: at most 16 characters.
std::string edfLabel(const ChannelInfo& channel);

}  // namespace bvhost
