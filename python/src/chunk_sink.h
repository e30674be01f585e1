// What a stream hands Python: the recording's frames as plain arrays, one
// per rate, in the order they happened. The files' own record assembler
// places every block, so a chunk holds exactly what a BDF+ of the same run
// holds, frame for frame: a sensor's dropout and frames lost upstream are
// zeros in place (the notes say where), and the notes carry the files' texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/annotation.h"
#include "base/channel_info.h"
#include "base/frame_sink.h"

namespace bvhost {
class RecordAssembler;
}

namespace kessra_python {

// Channels of one samples-per-frame count, so of one rate, in inventory
// order: one 2-D array of a chunk, one MNE Raw of a recording.
struct RateGroup {
  std::uint64_t samplesPerFrame = 0;
  double rate = 0.0;                  // samplesPerFrame over the frame period
  std::vector<std::size_t> channels;  // indices into the session's channels
};

// Channels with no whole number of samples per frame cannot be placed in
// time and belong to no group, as the files leave them out.
std::vector<RateGroup> rateGroups(const std::vector<bvhost::ChannelInfo>& channels);

struct Note {
  bvhost::Annotation annotation;
  // A silence still going on: the same onset and text come again, with the
  // duration, once it ends.
  bool begins = false;
};

struct Chunk {
  std::uint64_t firstFrame = 0;
  std::uint64_t frames = 0;
  // Per group, its channels' rows one after the other, each
  // frames * samplesPerFrame values long.
  std::vector<std::vector<float>> data;
  std::vector<Note> notes;
};

// Runs on the recording thread, like every sink.
class ChunkSink : public bvhost::FrameSink {
 public:
  ChunkSink(const std::vector<bvhost::ChannelInfo>& channels, std::vector<RateGroup> groups);
  ~ChunkSink() override;

  void write(std::size_t channel, std::uint64_t frame, std::uint64_t firstIndex,
             const float* values, std::uint64_t count) override;
  void skipFrames(std::uint64_t first, std::uint64_t count) override;
  void annotate(const bvhost::Annotation& annotation, bool begins) override;

  // The end of the recording: frames still waiting for a late channel are
  // taken as they stand.
  void finish();
  // The frames complete since the last take, and the notes made meanwhile.
  Chunk take();
  // Whether take() has frames or notes to give; the assembler's own notes
  // come only with frames, but for those finish() closes.
  bool hasNews() const;

 private:
  std::vector<RateGroup> groups_;
  std::vector<int> signalOf_;  // per channel; -1 for one in no group
  // Per signal of the assembler: its group and row there.
  std::vector<std::size_t> groupOf_;
  std::vector<std::size_t> rowOf_;
  std::unique_ptr<bvhost::RecordAssembler> assembler_;
  std::uint64_t taken_ = 0;  // frames handed out
  std::vector<Note> notes_;
};

}  // namespace kessra_python
