#include "edf_writer.h"

#include <edflib.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace bvhost {
namespace {

// EDFlib takes the record duration in units of 10 microseconds.
constexpr int kRecordDurationUnits = 1350;
// EDFlib takes annotation onsets in units of 100 microseconds.
constexpr double kAnnotationUnitsPerSecond = 10000.0;
// EDFlib stores one annotation per record per annotation signal; a recording
// has a few notes and about 74 records a second, so one signal suffices.
constexpr int kAnnotationSignals = 1;

std::string openErrorText(int code) {
  switch (code) {
    case EDFLIB_MALLOC_ERROR:
      return "out of memory";
    case EDFLIB_NO_SUCH_FILE_OR_DIRECTORY:
      return "cannot create the file";
    case EDFLIB_MAXFILES_REACHED:
      return "too many files open";
    case EDFLIB_FILE_ALREADY_OPENED:
      return "the file is already open";
    case EDFLIB_NUMBER_OF_SIGNALS_INVALID:
      return "invalid number of signals";
    default:
      return "EDFlib error " + std::to_string(code);
  }
}

}  // namespace

std::string edfLabel(const ChannelInfo& channel) { return shortLabel(channel).substr(0, 16); }

EdfWriter::EdfWriter(const std::string& path, bool bdf, const std::vector<ChannelInfo>& channels,
                     const RecordingInfo& info, std::size_t recordsPerWrite)
    : path_(path),
      channels_(channels),
      signalOf_(channels.size(), -1),
      recordsPerWrite_(std::max<std::size_t>(recordsPerWrite, 1)) {
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    const ChannelInfo& channel = channels_[i];
    if (channel.samplesPerFrame == 0) {
      leftOut_.push_back(edfLabel(channel));
      continue;
    }
    signalOf_[i] = static_cast<int>(signals_.size());
    Signal& signal = signals_.emplace_back();
    signal.channel = i;
    signal.samplesPerRecord = static_cast<int>(channel.samplesPerFrame);
    signal.range = physicalRange(channel.unit);
  }
  signalsWaiting_ = signals_.size();
  std::size_t recordSize = 0;
  for (const auto& signal : signals_) {
    recordSize += static_cast<std::size_t>(signal.samplesPerRecord);
  }
  bdf_ = bdf;
  digitalMax_ = bdf ? 8388607 : 32767;
  digitalMin_ = bdf ? -8388608 : -32768;
  for (auto& signal : signals_) {
    // As EDFlib converts, so the file holds what its own conversion gives.
    signal.step = (signal.range.maximum - signal.range.minimum) / (digitalMax_ - digitalMin_);
    signal.offset = signal.range.maximum / signal.step - digitalMax_;
  }
  if (bdf) {
    record_.resize(recordSize * 3);
  } else {
    shortRecord_.resize(recordSize);
  }
  if (signals_.empty()) {
    throw OutputError("cannot write " + path + ": no channel reports samples per frame, and an " +
                      (bdf ? "BDF+" : "EDF+") + " file needs at least one signal");
  }
  if (signals_.size() > EDFLIB_MAXSIGNALS) {
    throw OutputError("cannot write " + path + ": " + std::to_string(signals_.size()) +
                      " signals, EDFlib takes at most " + std::to_string(EDFLIB_MAXSIGNALS));
  }
  handle_ =
      edfopen_file_writeonly(path.c_str(), bdf ? EDFLIB_FILETYPE_BDFPLUS : EDFLIB_FILETYPE_EDFPLUS,
                             static_cast<int>(signals_.size()));
  if (handle_ < 0) {
    const int code = handle_;
    handle_ = -1;
    throw OutputError("cannot create " + path + ": " + openErrorText(code));
  }
  bool ok = edf_set_datarecord_duration(handle_, kRecordDurationUnits) == 0 &&
            edf_set_number_of_annotation_signals(handle_, kAnnotationSignals) == 0;
  for (std::size_t s = 0; s < signals_.size() && ok; ++s) {
    const int signal = static_cast<int>(s);
    const ChannelInfo& channel = channels_[signals_[s].channel];
    const std::string transducer = channel.component.substr(0, 80);
    ok = edf_set_samplefrequency(handle_, signal, signals_[s].samplesPerRecord) == 0 &&
         edf_set_physical_maximum(handle_, signal, signals_[s].range.maximum) == 0 &&
         edf_set_physical_minimum(handle_, signal, signals_[s].range.minimum) == 0 &&
         edf_set_digital_maximum(handle_, signal, digitalMax_) == 0 &&
         edf_set_digital_minimum(handle_, signal, digitalMin_) == 0 &&
         edf_set_label(handle_, signal, edfLabel(channel).c_str()) == 0 &&
         edf_set_physical_dimension(handle_, signal, edfDimension(channel.unit).c_str()) == 0 &&
         edf_set_transducer(handle_, signal, transducer.c_str()) == 0;
  }
  std::tm local{};
  localtime_r(&info.start, &local);
  // EDF dates cover 1985 to 2084; a clock outside that gets the first day.
  if (local.tm_year + 1900 < 1985 || local.tm_year + 1900 > 2084) {
    local = std::tm{};
    local.tm_year = 85;
    local.tm_mday = 1;
  }
  const std::string equipment = (info.pluginName + " " + info.pluginVersion).substr(0, 40);
  ok = ok &&
       edf_set_startdatetime(handle_, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                             local.tm_hour, local.tm_min, local.tm_sec) == 0 &&
       edf_set_equipment(handle_, equipment.c_str()) == 0 &&
       edf_set_recording_additional(handle_, "recorded by bvhost") == 0;
  if (!ok) {
    edfclose_file(handle_);
    handle_ = -1;
    throw OutputError("cannot set up the header of " + path);
  }
  for (const auto& label : leftOut_) {
    annotate(0.0, "no signal: " + label);
  }
}

EdfWriter::~EdfWriter() {
  if (handle_ >= 0) {
    edfclose_file(handle_);
  }
}

void EdfWriter::annotate(double onsetSeconds, const std::string& text) {
  const auto onset = static_cast<long long>(std::llround(onsetSeconds * kAnnotationUnitsPerSecond));
  edfwrite_annotation_utf8(handle_, onset, -1, text.c_str());
}

void EdfWriter::write(std::size_t channel, std::uint64_t, const float* values,
                      std::uint64_t count) {
  const int index = signalOf_[channel];
  if (index < 0 || handle_ < 0) {
    return;
  }
  Signal& signal = signals_[static_cast<std::size_t>(index)];
  if (count != static_cast<std::uint64_t>(signal.samplesPerRecord) && !signal.offSizeAnnotated) {
    signal.offSizeAnnotated = true;
    const double onset = static_cast<double>(signal.written + signal.available()) /
                         signal.samplesPerRecord * kFramePeriodSeconds;
    annotate(onset, edfLabel(channels_[channel]) + ": frame of " + std::to_string(count));
  }
  if (count > 0 && signal.openGapZeros > 0) {
    // The silence since the last filling goes before the samples that end
    // it, so they keep their place within the bound.
    padTo(signal, leadRecords() - std::min(leadRecords(), kMaxLagRecords));
    closeGap(signal);
  }
  const bool wasReady = batchReady(signal);
  float* out = signal.append(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    const float value = values[i];
    const auto physical = static_cast<double>(value);
    if (std::isnan(value)) {
      ++signal.clipped;
      out[i] = 0.0f;
    } else if (physical > signal.range.maximum || physical < signal.range.minimum) {
      ++signal.clipped;
      out[i] = static_cast<float>(std::clamp(physical, signal.range.minimum, signal.range.maximum));
    } else {
      out[i] = value;
    }
  }
  if (!wasReady && batchReady(signal) && --signalsWaiting_ == 0) {
    writeFullRecords();
  }
  // Every signal has had the same number of records written, so what one
  // holds is how far it is ahead. A signal is filled only once it lags a
  // whole batch beyond the bound: records then go out in batches, the scan
  // of all signals stays rare, and a signal back at the bound after its
  // silence is never filled again.
  if (signal.records() > kMaxLagRecords + 2 * recordsPerWrite_) {
    const std::size_t lead = signal.records();
    for (auto& other : signals_) {
      if (other.records() + kMaxLagRecords + recordsPerWrite_ < lead) {
        padTo(other, lead - kMaxLagRecords);
      }
    }
    countWaitingSignals();
    if (signalsWaiting_ == 0) {
      writeFullRecords();
    }
  }
}

std::size_t EdfWriter::leadRecords() const {
  std::size_t lead = 0;
  for (const auto& signal : signals_) {
    lead = std::max(lead, signal.records());
  }
  return lead;
}

void EdfWriter::padTo(Signal& signal, std::size_t records) {
  const std::size_t want = records * static_cast<std::size_t>(signal.samplesPerRecord);
  if (signal.available() >= want) {
    return;
  }
  const std::size_t zeros = want - signal.available();
  if (signal.openGapZeros == 0) {
    signal.openGapOnset = signal.endSeconds();
  }
  signal.openGapZeros += zeros;
  signal.gapZeros += zeros;
  std::fill_n(signal.append(zeros), zeros, 0.0f);
}

void EdfWriter::closeGap(Signal& signal) {
  annotate(signal.openGapOnset, edfLabel(channels_[signal.channel]) + ": " +
                                    std::to_string(signal.openGapZeros) +
                                    " zero sample(s), no data");
  signal.openGapZeros = 0;
}

double EdfWriter::Signal::endSeconds() const {
  return static_cast<double>(written + available()) / samplesPerRecord * kFramePeriodSeconds;
}

std::size_t EdfWriter::largestBuffer() const {
  std::size_t largest = 0;
  for (const auto& signal : signals_) {
    largest = std::max(largest, signal.buffer.size());
  }
  return largest;
}

void EdfWriter::countWaitingSignals() {
  signalsWaiting_ = static_cast<std::size_t>(
      std::count_if(signals_.begin(), signals_.end(),
                    [this](const Signal& signal) { return !batchReady(signal); }));
}

int EdfWriter::writeRecord() {
  return bdf_ ? edf_blockwrite_digital_3byte_samples(handle_, record_.data())
              : edf_blockwrite_digital_short_samples(handle_, shortRecord_.data());
}

float* EdfWriter::Signal::append(std::size_t count) {
  if (end + count > buffer.size()) {
    // Moving the waiting samples to the front pays off only when they are no
    // more than those already consumed, so each sample is moved at most
    // about once; otherwise the buffer grows.
    if (begin > 0 && available() <= begin) {
      std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(begin),
                buffer.begin() + static_cast<std::ptrdiff_t>(end), buffer.begin());
      end -= begin;
      begin = 0;
    }
    if (end + count > buffer.size()) {
      buffer.resize(std::max(2 * buffer.size(), end + count));
    }
  }
  float* at = buffer.data() + end;
  end += count;
  return at;
}

void EdfWriter::writeFullRecords() {
  std::size_t records = std::numeric_limits<std::size_t>::max();
  for (const auto& signal : signals_) {
    records = std::min(records, signal.records());
  }
  // Converted here rather than by EDFlib, whose conversion costs several
  // times as much per sample and writes the file a signal at a time.
  for (std::size_t r = 0; r < records; ++r) {
    unsigned char* bytes = record_.data();
    short* shorts = shortRecord_.data();
    for (auto& signal : signals_) {
      const float* samples = signal.buffer.data() + signal.begin;
      for (int i = 0; i < signal.samplesPerRecord; ++i) {
        // Truncated toward zero, as EDFlib does.
        const auto digital = std::clamp(
            static_cast<int>(static_cast<double>(samples[i]) / signal.step - signal.offset),
            digitalMin_, digitalMax_);
        if (bdf_) {
          // Three bytes, least significant first, two's complement.
          const auto bits = static_cast<std::uint32_t>(digital);
          *bytes++ = static_cast<unsigned char>(bits);
          *bytes++ = static_cast<unsigned char>(bits >> 8);
          *bytes++ = static_cast<unsigned char>(bits >> 16);
        } else {
          *shorts++ = static_cast<short>(digital);
        }
      }
      const auto n = static_cast<std::size_t>(signal.samplesPerRecord);
      signal.begin += n;
      signal.written += n;
    }
    if (writeRecord() != 0) {
      throw OutputError("writing " + path_ + " failed");
    }
    ++records_;
  }
  // Usually every buffer is empty now, or a signal that ran ahead keeps a
  // few samples, moved to the front so the buffer never grows. A longer
  // backlog is moved only once as much has been consumed, so moving costs
  // no more than the samples written.
  for (auto& signal : signals_) {
    if (signal.begin > 0 && signal.available() <= signal.begin) {
      std::copy(signal.buffer.begin() + static_cast<std::ptrdiff_t>(signal.begin),
                signal.buffer.begin() + static_cast<std::ptrdiff_t>(signal.end),
                signal.buffer.begin());
      signal.end -= signal.begin;
      signal.begin = 0;
    }
  }
  countWaitingSignals();
}

void EdfWriter::close() {
  if (handle_ < 0) {
    return;
  }
  for (auto& signal : signals_) {
    if (signal.openGapZeros > 0) {
      closeGap(signal);
    }
  }
  std::size_t recordsLeft = 0;
  for (const auto& signal : signals_) {
    const auto n = static_cast<std::size_t>(signal.samplesPerRecord);
    recordsLeft = std::max(recordsLeft, (signal.available() + n - 1) / n);
  }
  std::uint64_t paddedSignals = 0;
  for (auto& signal : signals_) {
    const std::size_t target = recordsLeft * static_cast<std::size_t>(signal.samplesPerRecord);
    if (signal.available() < target) {
      signal.padded = target - signal.available();
      ++paddedSignals;
      std::fill_n(signal.append(signal.padded), signal.padded, 0.0f);
    }
  }
  if (paddedSignals > 0) {
    // The padding starts where the last real samples end; for a channel that
    // ran short it starts earlier, so the earliest is the honest onset.
    double onset = static_cast<double>(records_ + recordsLeft) * kFramePeriodSeconds;
    for (const auto& signal : signals_) {
      if (signal.padded > 0) {
        const double end =
            static_cast<double>(signal.written + signal.available() - signal.padded) /
            signal.samplesPerRecord * kFramePeriodSeconds;
        onset = std::min(onset, end);
      }
    }
    annotate(onset, "padding: zeros in " + std::to_string(paddedSignals) + " signal(s)");
  }
  writeFullRecords();
  const int result = edfclose_file(handle_);
  handle_ = -1;
  if (result != 0) {
    throw OutputError("closing " + path_ + " failed");
  }
}

std::vector<std::string> EdfWriter::notes() const {
  std::vector<std::string> notes;
  for (const auto& label : leftOut_) {
    notes.push_back(path_ + ": left out " + label + ": it reports no samples per frame");
  }
  for (const auto& signal : signals_) {
    const std::string label = edfLabel(channels_[signal.channel]);
    if (signal.clipped > 0) {
      notes.push_back(path_ + ": " + std::to_string(signal.clipped) + " sample(s) of " + label +
                      " outside [" + std::to_string(signal.range.minimum) + ", " +
                      std::to_string(signal.range.maximum) + "] were clipped");
    }
    if (signal.gapZeros > 0) {
      notes.push_back(path_ + ": " + label + " padded with " + std::to_string(signal.gapZeros) +
                      " zero sample(s) where it delivered nothing for over " +
                      std::to_string(kMaxLagRecords) + " records");
    }
    if (signal.padded > 0) {
      notes.push_back(path_ + ": last record of " + label + " padded with " +
                      std::to_string(signal.padded) + " zero sample(s)");
    }
  }
  return notes;
}

}  // namespace bvhost
