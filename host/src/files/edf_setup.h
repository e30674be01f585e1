// The header of an EDF+ or BDF+ file as bvhost sets it up through EDFlib
// before the first record: one signal per channel with samples per frame,
// one frame per data record, annotation signals sized to the sensors, and
// the start and the recording's description.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/channel_info.h"
#include "base/recording_info.h"
#include "files/edf_encoding.h"

namespace bvhost {

// The EDF label for a channel: at most 16 characters.
std::string edfLabel(const ChannelInfo& channel);

// The header's equipment (the plug-in and its version) and recording
// additional ("bvhost record, 4 sensors, 28 channels") subfields, which a
// viewer shows as what was recorded with what. Both share what the 80
// characters of the recording field leave after the start date and the
// empty admin code and technician, so the description shortens first and
// the plug-in name is cut only when even the shortest does not fit.
struct EdfRecordingFields {
  std::string equipment;
  std::string additional;
};
EdfRecordingFields edfRecordingFields(const RecordingInfo& info, std::size_t sensors,
                                      std::size_t signals);

// An EDF+ or BDF+ file open in EDFlib with its header set up.
struct EdfFileSetup {
  int handle = -1;               // EDFlib's, for its writes and edfclose_file
  std::vector<EdfScale> scales;  // per signal
  std::size_t annotationSignals = 0;
};

// Opens the file behind `fd` in EDFlib with a signal for each channel at the
// indices `signalChannels`, in that order, and sets up its header. Throws
// OutputError naming `path`, with nothing left open in EDFlib.
EdfFileSetup openEdfFile(int fd, const std::string& path, bool bdf,
                         const std::vector<ChannelInfo>& channels,
                         const std::vector<std::size_t>& signalChannels, const RecordingInfo& info);

}  // namespace bvhost
