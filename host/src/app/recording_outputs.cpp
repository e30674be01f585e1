#include "app/recording_outputs.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

#include "files/annotation_journal.h"
#include "files/edf_annotations.h"
#include "files/events_tsv.h"
#include "files/open_writer.h"
#include "files/output_error.h"

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
  // A beginning is told again with its end, at the latest when the run ends.
  if (!begins) {
    timeline_.push_back(annotation);
  }
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

std::optional<std::size_t> RecordingOutputs::noteRoomPerFrame() const {
  std::optional<std::size_t> least;
  if (writers_.empty() && std::any_of(files_.begin(), files_.end(), [](const OutputFile& file) {
        return file.format != OutputFormat::Csv;
      })) {
    // Before the files open, the least any EDF+/BDF+ file has.
    least = noteRoomPerRecord(1);
  }
  for (const auto& writer : writers_) {
    if (const auto room = writer->noteRoomPerFrame(); room && (!least || *room < *least)) {
      least = room;
    }
  }
  return least;
}

std::size_t RecordingOutputs::ownNoteBytes() const {
  std::size_t most = 0;
  for (const auto& writer : writers_) {
    most = std::max(most, writer->ownNoteBytes());
  }
  return most;
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
  writeEvents(done);
  return done;
}

// Beside every file put in place of its target. A CSV file's journal holds
// what no other file of it does, so it goes only once the events.tsv is on
// the disk; a file kept under its partial name keeps its journal for
// `bvhost repair`.
void RecordingOutputs::writeEvents(CompletedOutputs& done) {
  std::map<std::string, bool> written;
  const auto fail = [&done] {
    if (!done.failure) {
      done.failure = std::current_exception();
    }
  };
  for (std::size_t i = 0; i < writers_.size(); ++i) {
    // Beside a target left as it was, it would pass for that file's.
    if (!partials_[i].committed()) {
      continue;
    }
    const std::string path = eventsTsvPathFor(files_[i].finalPath);
    if (!written.contains(path)) {
      try {
        writeEventsTsv(path, timeline_);
        done.events.push_back(eventsTsvPathFor(files_[i].path));
        written[path] = true;
      } catch (...) {
        written[path] = false;
        fail();
      }
    }
    if (files_[i].format == OutputFormat::Csv && partials_[i].committed() && written[path]) {
      const std::string journal = journalPathFor(partials_[i].path());
      if (::unlink(journal.c_str()) != 0 && errno != ENOENT) {
        try {
          throw OutputError("cannot remove " + journal + ": " + std::strerror(errno));
        } catch (...) {
          fail();
        }
      }
    }
  }
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
