#include "app/recording_outputs.h"

#include <utility>

#include "files/open_writer.h"

namespace bvhost {

namespace {

std::vector<OutputFile> checked(std::vector<OutputFile> files) {
  checkOutputs(files);
  return files;
}

}  // namespace

RecordingOutputs::RecordingOutputs(std::vector<OutputFile> files)
    : files_(checked(std::move(files))), partials_(claimOutputs(files_)) {}

void RecordingOutputs::open(const std::vector<ChannelInfo>& channels, const RecordingInfo& info) {
  for (std::size_t i = 0; i < files_.size(); ++i) {
    writers_.push_back(openWriter(files_[i].format, partials_[i].descriptor(), partials_[i].path(),
                                  channels, info));
  }
}

void RecordingOutputs::write(std::size_t channel, std::uint64_t frame, std::uint64_t firstIndex,
                             const float* values, std::uint64_t count) {
  for (auto& writer : writers_) {
    writer->write(channel, frame, firstIndex, values, count);
  }
}

void RecordingOutputs::skipFrames(std::uint64_t first, std::uint64_t count) {
  for (auto& writer : writers_) {
    writer->skipFrames(first, count);
  }
}

void RecordingOutputs::annotate(const Annotation& annotation, bool begins) {
  for (auto& writer : writers_) {
    writer->annotate(annotation, begins);
  }
}

void RecordingOutputs::sync() {
  for (const auto& partial : partials_) {
    partial.checkInPlace();
  }
  for (auto& writer : writers_) {
    writer->sync();
  }
}

CompletedOutputs RecordingOutputs::complete() {
  CompletedOutputs done;
  for (std::size_t i = 0; i < writers_.size(); ++i) {
    try {
      writers_[i]->close();
      partials_[i].commit();
      done.wrote.push_back(files_[i].path);
    } catch (...) {
      // Whatever went wrong, what was recorded stays on the disk: a partial
      // file is removed only when nothing was recorded into it.
      partials_[i].keep();
      if (partials_[i].committed()) {
        // In place already: only what followed the move (its folder's sync)
        // failed, which the failure says.
        done.wrote.push_back(files_[i].path);
      } else if (partials_[i].inPlace()) {
        done.kept.push_back(partials_[i].path() + " (" + partials_[i].finalPath() +
                            " left as it was)");
      } else {
        done.lost.push_back(partials_[i].path());
      }
      if (!done.failure) {
        done.failure = std::current_exception();
      }
    }
  }
  return done;
}

std::vector<std::string> RecordingOutputs::notes() const {
  std::vector<std::string> all;
  for (const auto& writer : writers_) {
    for (const auto& note : writer->notes()) {
      all.push_back(note);
    }
  }
  return all;
}

}  // namespace bvhost
