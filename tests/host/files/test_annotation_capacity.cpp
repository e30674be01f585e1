// The EDF+/BDF+ writer's room for annotations: what a recording can need
// fits and reads back, and what does not fit ends the writer's close() with
// an error that names a file holding every annotation.
#include <edflib.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "base/annotation.h"
#include "files/annotation_journal.h"
#include "files/open_writer.h"
#include "files/output_error.h"

using namespace bvhost;
using ::testing::HasSubstr;

namespace {

// Writes `frames` whole frames of `sensors` one-channel sensors through a
// fresh file, with every sensor's silence of one frame journalled as it
// begins and as it ends every second frame, as a sensor losing half its
// frames makes them, then `extra` markers; returns the writer and how many
// annotations it was given.
std::pair<std::unique_ptr<SampleWriter>, std::size_t> record(const std::string& path, bool bdf,
                                                             std::size_t sensors, int frames,
                                                             int extra, bool silences = true) {
  // Outlives the writer, which keeps a reference to it.
  static std::vector<ChannelInfo> channels;
  channels.clear();
  for (std::size_t s = 0; s < sensors; ++s) {
    channels.push_back({s, "Sensor " + std::to_string(s + 1), "ACC X", 4, 148.148, 2});
  }
  std::filesystem::remove(path);
  std::filesystem::remove(journalPathFor(path));
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  auto writer = openWriter(bdf ? OutputFormat::Bdf : OutputFormat::Edf, fd, path, channels,
                           RecordingInfo{"Test", "1", {}});
  ::close(fd);  // the writer keeps its own
  const float values[2] = {0.5F, -0.5F};
  std::size_t annotations = 0;
  for (int frame = 0; frame < frames; ++frame) {
    for (std::size_t s = 0; s < sensors; ++s) {
      writer->write(s, static_cast<std::uint64_t>(frame), frame * 2u, values, 2);
      if (silences && static_cast<std::size_t>(frame) % 2 == s % 2) {
        const Annotation silence{frame * 0.0135, 0.0135, "S" + std::to_string(s + 1) + " no data"};
        writer->annotate(silence, true);
        writer->annotate(silence, false);
        ++annotations;
      }
    }
  }
  for (int i = 0; i < extra; ++i) {
    writer->annotate({0.001 * i, -1.0, "marker number " + std::to_string(i)}, false);
  }
  return {std::move(writer), annotations + static_cast<std::size_t>(extra)};
}

long long annotationsIn(const std::string& path) {
  edf_hdr_struct header{};
  EXPECT_EQ(edfopen_file_readonly(path.c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS), 0);
  const long long count = header.annotations_in_file;
  edfclose_file(header.handle);
  return count;
}

std::string temporaryPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("bvhost_capacity_" + std::to_string(getpid()) + "_" + name))
      .string();
}

}  // namespace

TEST(AnnotationCapacity, SixteenSensorsSilentEverySecondFrameAllReadBack) {
  for (const bool bdf : {true, false}) {
    const std::string path = temporaryPath(bdf ? "sixteen.bdf" : "sixteen.edf");
    auto [writer, made] = record(path, bdf, 16, 370, 0);
    EXPECT_NO_THROW(writer->close());
    writer.reset();
    EXPECT_EQ(made, 16u * 185u);
    EXPECT_EQ(annotationsIn(path), static_cast<long long>(made)) << path;
    EXPECT_FALSE(std::filesystem::exists(journalPathFor(path)));
    std::filesystem::remove(path);
  }
}

// The room a writer promises for notes holds that many bytes of the
// longest markers at the latest onsets, however they pack.
TEST(AnnotationCapacity, TheRoomAWriterPromisesHoldsTheLongestMarkers) {
  for (const std::size_t sensors : {1u, 16u}) {
    const std::string path = temporaryPath("promised.bdf");
    auto [writer, none] = record(path, true, sensors, 150, 0, false);
    ASSERT_TRUE(writer->noteRoomPerFrame());
    const std::size_t room = *writer->noteRoomPerFrame() * 150;
    const std::string longest(kMaxAnnotationText, 'x');
    std::size_t markers = 0;
    for (; (markers + 1) * noteBytes(longest.size()) <= room; ++markers) {
      writer->annotate({99999.9999999 - 1e-7 * static_cast<double>(markers), 0.0, longest}, false);
    }
    EXPECT_GT(markers, 0u);
    EXPECT_NO_THROW(writer->close()) << sensors << " sensors";
    writer.reset();
    EXPECT_EQ(annotationsIn(path), static_cast<long long>(markers)) << sensors << " sensors";
    std::filesystem::remove(path);
  }
}

TEST(AnnotationCapacity, WhatDoesNotFitFailsCloseAndStaysInTheNamedJournal) {
  const std::string path = temporaryPath("overfull.bdf");
  // Far more notes than 20 records of one annotation signal hold.
  auto [writer, made] = record(path, true, 1, 20, 200);
  try {
    writer->close();
    ADD_FAILURE() << "close() kept quiet about annotations left out";
  } catch (const OutputError& error) {
    EXPECT_THAT(error.what(), HasSubstr("do not fit"));
    EXPECT_THAT(error.what(), HasSubstr(journalPathFor(path)));
  }
  writer.reset();
  EXPECT_EQ(readAnnotationJournal(journalPathFor(path)).size(), made);
  EXPECT_GT(annotationsIn(path), 0) << "the file reads, with what fitted";
  std::filesystem::remove(path);
  std::filesystem::remove(journalPathFor(path));
}
