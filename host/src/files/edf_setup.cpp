#include "files/edf_setup.h"

#include <edflib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "base/frame_period.h"
#include "base/units.h"
#include "files/edf_annotations.h"
#include "files/output_error.h"

namespace bvhost {
namespace {

// EDFlib takes the record duration in units of 10 microseconds.
constexpr int kRecordDurationUnits = static_cast<int>(
    std::chrono::duration_cast<std::chrono::microseconds>(kFramePeriod).count() / 10);

std::string openErrorText(int code) {
  switch (code) {
    case EDFLIB_MALLOC_ERROR:
      return "out of memory";
    case EDFLIB_NO_SUCH_FILE_OR_DIRECTORY:
      return std::string("cannot create the file: ") + std::strerror(errno);
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

int openHandle(int fd, const std::string& path, bool bdf, std::size_t signals) {
  // EDFlib opens by name; the descriptor's own entry in /proc reaches the
  // file the caller created, whatever now stands at its name.
  const std::string throughDescriptor = "/proc/self/fd/" + std::to_string(fd);
  const int handle = edfopen_file_writeonly(throughDescriptor.c_str(),
                                            bdf ? EDFLIB_FILETYPE_BDFPLUS : EDFLIB_FILETYPE_EDFPLUS,
                                            static_cast<int>(signals));
  if (handle < 0) {
    throw OutputError("cannot create " + path + ": " + openErrorText(handle));
  }
  return handle;
}

bool setSignal(int handle, int signal, const ChannelInfo& channel, EdfDigitalRange digital) {
  const PhysicalRange range = physicalRange(channel.unit);
  const std::string transducer = channel.component.substr(0, 80);
  return edf_set_samplefrequency(handle, signal, static_cast<int>(channel.samplesPerFrame)) == 0 &&
         edf_set_physical_maximum(handle, signal, range.maximum) == 0 &&
         edf_set_physical_minimum(handle, signal, range.minimum) == 0 &&
         edf_set_digital_maximum(handle, signal, digital.maximum) == 0 &&
         edf_set_digital_minimum(handle, signal, digital.minimum) == 0 &&
         edf_set_label(handle, signal, edfLabel(channel).c_str()) == 0 &&
         edf_set_physical_dimension(handle, signal, edfDimension(channel.unit).c_str()) == 0 &&
         edf_set_transducer(handle, signal, transducer.c_str()) == 0;
}

bool setStart(int handle, std::chrono::system_clock::time_point time) {
  // The header holds local time to the second; the rest of the second goes
  // into the first record, as EDF+ keeps it, to the 100 us EDFlib advises.
  const auto start = std::chrono::floor<std::chrono::seconds>(time);
  const auto subsecond =
      std::chrono::duration_cast<std::chrono::microseconds>(time - start).count() / 100;
  const std::time_t startSeconds = std::chrono::system_clock::to_time_t(start);
  std::tm local{};
  localtime_r(&startSeconds, &local);
  // EDF dates cover 1985 to 2084; a clock outside that gets the first day.
  if (local.tm_year + 1900 < 1985 || local.tm_year + 1900 > 2084) {
    local = std::tm{};
    local.tm_year = 85;
    local.tm_mday = 1;
  }
  return edf_set_startdatetime(handle, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                               local.tm_hour, local.tm_min, local.tm_sec) == 0 &&
         edf_set_subsecond_starttime(handle, static_cast<int>(subsecond * 1000)) == 0;
}

}  // namespace

std::string edfLabel(const ChannelInfo& channel) { return shortLabel(channel).substr(0, 16); }

EdfRecordingFields edfRecordingFields(const RecordingInfo& info, std::size_t sensors,
                                      std::size_t signals) {
  // EDFlib fills at most 66 of the field's 80 characters (read back, the
  // rest is cut), "Startdate dd-MMM-yyyy X X " takes 26, and one space
  // parts the two subfields.
  constexpr std::size_t kBudget = 66 - 26 - 1;
  std::string equipment = info.pluginName;
  if (!info.pluginVersion.empty()) {
    equipment += (equipment.empty() ? "" : " ") + info.pluginVersion;
  }
  const std::string sensorsAnd = std::to_string(sensors) +
                                 (sensors == 1 ? " sensor, " : " sensors, ") +
                                 std::to_string(signals);
  const std::string counts = sensorsAnd + (signals == 1 ? " channel" : " channels");
  std::string additional;
  for (const std::string& candidate :
       {"bvhost record, " + counts, "bvhost, " + counts, counts, sensorsAnd + " ch"}) {
    additional = candidate;
    if (equipment.size() + additional.size() <= kBudget) {
      break;
    }
  }
  if (equipment.size() + additional.size() > kBudget) {
    equipment.resize(kBudget - std::min(kBudget, additional.size()));
  }
  return {equipment, additional};
}

EdfFileSetup openEdfFile(int fd, const std::string& path, bool bdf,
                         const std::vector<ChannelInfo>& channels,
                         const std::vector<std::size_t>& signalChannels,
                         const RecordingInfo& info) {
  EdfFileSetup setup;
  setup.handle = openHandle(fd, path, bdf, signalChannels.size());
  const EdfDigitalRange digital = edfDigitalRange(bdf);
  const std::size_t sensors = sensorCount(channels, signalChannels);
  // The annotations go into the file when it is completed, packed densely
  // into these signals of every record, sized to what the sensors can need.
  setup.annotationSignals = annotationSignalsFor(sensors);
  const int annotationSignals = static_cast<int>(setup.annotationSignals);
  bool ok = edf_set_datarecord_duration(setup.handle, kRecordDurationUnits) == 0 &&
            edf_set_number_of_annotation_signals(setup.handle, annotationSignals) == 0;
  for (std::size_t s = 0; s < signalChannels.size() && ok; ++s) {
    const ChannelInfo& channel = channels[signalChannels[s]];
    setup.scales.push_back(edfScale(channel, digital));
    ok = setSignal(setup.handle, static_cast<int>(s), channel, digital);
  }
  const EdfRecordingFields fields = edfRecordingFields(info, sensors, signalChannels.size());
  ok = ok && setStart(setup.handle, info.start) &&
       edf_set_equipment(setup.handle, fields.equipment.c_str()) == 0 &&
       edf_set_recording_additional(setup.handle, fields.additional.c_str()) == 0;
  if (!ok) {
    edfclose_file(setup.handle);
    throw OutputError("cannot set up the header of " + path);
  }
  return setup;
}

}  // namespace bvhost
