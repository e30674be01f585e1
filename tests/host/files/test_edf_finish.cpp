// Completing EDF+/BDF+ and CSV files in place: the header parser on made-up
// and hostile headers, annotation lists as EDF+ lays them out, the journal
// that keeps annotations through a crash, and files EDFlib wrote, finished
// and read back with EDFlib's own reader.
#include <edflib.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "files/annotation_journal.h"
#include "files/csv_finish.h"
#include "files/edf_annotations.h"
#include "files/edf_finish.h"
#include "files/edf_header.h"
#include "files/output_error.h"

using namespace bvhost;
using ::testing::HasSubstr;
using namespace std::string_literals;

namespace {

std::string temporaryPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("bvhost_finish_" + std::to_string(getpid()) + "_" + name))
      .string();
}

std::string padded(const std::string& text, std::size_t width) {
  std::string field = text;
  field.resize(width, ' ');
  return field;
}

struct SignalSpec {
  std::string label;
  std::string samples;
};

// A header as a writer lays it out: the fixed part, then each field for
// every signal in turn.
std::string makeHeader(const std::string& version, const std::vector<SignalSpec>& signals,
                       const std::string& records = "-1", const std::string& duration = "0.0135",
                       const std::string& reserved = "BDF+C") {
  const std::size_t n = signals.size();
  std::string h = version;
  h += std::string(160, ' ') + "02.01.2403.04.05";
  h += padded(std::to_string(256 * (n + 1)), 8) + padded(reserved, 44);
  h += padded(records, 8) + padded(duration, 8) + padded(std::to_string(n), 4);
  const std::pair<std::size_t, std::size_t> before[] = {{16, 0}, {80, 1}, {8, 1}, {8, 1},
                                                        {8, 1},  {8, 1},  {8, 1}, {80, 1}};
  for (const auto& [width, blank] : before) {
    for (const auto& signal : signals) {
      h += blank != 0 ? std::string(width, ' ') : padded(signal.label, width);
    }
  }
  for (const auto& signal : signals) {
    h += padded(signal.samples, 8);
  }
  h += std::string(32 * n, ' ');
  return h;
}

// As the writer and repair call it: through a descriptor of their own.
EdfFinishReport finishPath(const std::string& path, const std::vector<Annotation>& annotations) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    throw OutputError("cannot open " + path);
  }
  try {
    const EdfFinishReport report = finishEdfFile(fd, path, annotations);
    ::close(fd);
    return report;
  } catch (...) {
    ::close(fd);
    throw;
  }
}

// A closed EDF+ file of `records` records of one 9-sample signal, with
// `annotationSignals` annotation signals as EDFlib lays them out.
void writeEdf(const std::string& path, int records, int annotationSignals = 1) {
  const int handle = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_EDFPLUS, 1);
  ASSERT_GE(handle, 0);
  ASSERT_EQ(edf_set_datarecord_duration(handle, 1350), 0);
  ASSERT_EQ(edf_set_number_of_annotation_signals(handle, annotationSignals), 0);
  edf_set_samplefrequency(handle, 0, 9);
  edf_set_physical_maximum(handle, 0, 100);
  edf_set_physical_minimum(handle, 0, -100);
  edf_set_digital_maximum(handle, 0, 32767);
  edf_set_digital_minimum(handle, 0, -32768);
  std::vector<short> record(9);
  for (int r = 0; r < records; ++r) {
    std::fill(record.begin(), record.end(), static_cast<short>(r));
    ASSERT_EQ(edf_blockwrite_digital_short_samples(handle, record.data()), 0);
  }
  ASSERT_EQ(edfclose_file(handle), 0);
}

struct ReadAnnotation {
  long long onset;     // EDFlib's 100 ns units from the file's start
  long long duration;  // the same; -1 for none
  std::string text;
};

std::vector<ReadAnnotation> edflibAnnotations(const std::string& path) {
  edf_hdr_struct header{};
  std::vector<ReadAnnotation> result;
  EXPECT_EQ(edfopen_file_readonly(path.c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS), 0) << path;
  for (long long a = 0; a < header.annotations_in_file; ++a) {
    edf_annotation_struct annotation{};
    edf_get_annotation(header.handle, static_cast<int>(a), &annotation);
    result.push_back({annotation.onset, annotation.duration_l, annotation.annotation});
  }
  edfclose_file(header.handle);
  return result;
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::string kBdf =
    "\xff"
    "BIOSEMI";

}  // namespace

TEST(EdfHeader, ReadsTheLayoutOfARecord) {
  const std::string bytes =
      makeHeader(kBdf, {{"EMG", "26"}, {"ACC X", "2"}, {"BDF Annotations", "40"}});
  const EdfHeader header = parseEdfHeader(bytes + "trailing record bytes");
  EXPECT_TRUE(header.bdf);
  EXPECT_TRUE(header.plus);
  EXPECT_EQ(header.headerBytes, 1024u);
  EXPECT_EQ(header.records, -1);
  EXPECT_DOUBLE_EQ(header.recordDurationSeconds, 0.0135);
  EXPECT_EQ(header.bytesPerSample, 3u);
  EXPECT_EQ(header.bytesPerRecord, (26u + 2u + 40u) * 3u);
  EXPECT_EQ(header.signals[1].label, "ACC X");
  EXPECT_EQ(header.signals[1].offsetInRecord, 78u);
  EXPECT_EQ(header.signals[2].offsetInRecord, 84u);
  EXPECT_EQ(header.annotationSignals(), std::vector<std::size_t>{2});

  const EdfHeader edf = parseEdfHeader(
      makeHeader("0       ", {{"EDF Annotations", "57"}, {"EMG", "9"}}, "12", "1", "EDF+D"));
  EXPECT_FALSE(edf.bdf);
  EXPECT_TRUE(edf.plus);
  EXPECT_EQ(edf.records, 12);
  EXPECT_EQ(edf.bytesPerRecord, 132u);
  EXPECT_EQ(edf.signals[1].offsetInRecord, 114u);
  EXPECT_EQ(edf.annotationSignals(), std::vector<std::size_t>{0});
  EXPECT_EQ(edfRecordsField(740), "740     ");
}

TEST(EdfHeader, RejectsMalformedAndCutShortHeaders) {
  const std::string good = makeHeader(kBdf, {{"EMG", "26"}, {"BDF Annotations", "40"}});
  // Every prefix is cut short; none may be read past its end.
  for (std::size_t size = 0; size < good.size(); ++size) {
    EXPECT_THROW(parseEdfHeader(good.substr(0, size)), EdfHeaderError) << size;
  }
  auto with = [&](std::size_t offset, const std::string& text) {
    std::string bytes = good;
    bytes.replace(offset, text.size(), text);
    return bytes;
  };
  const std::size_t samplesField = 256 + 2 * 216;
  const std::vector<std::string> bad = {
      with(0, "1"),                                                 // version
      with(184, "1024    "),                                        // header size disagrees
      with(236, "-2      "),                                        // records
      with(236, "12x     "),                                        // records
      with(244, "1e-2    "),                                        // exponent
      with(244, "inf     "),                                        // duration
      with(244, "-1      "),                                        // duration
      with(252, "0   "),                                            // no signals
      with(252, "9999"),                                            // absurd count
      with(256, "\x01"),                                            // control byte in a label
      with(samplesField, "0       "),                               // no samples
      with(samplesField, "-26     "),                               // negative samples
      with(samplesField + 8, "99999999"),                           // a record too large
      makeHeader(kBdf, std::vector<SignalSpec>(4097, {"X", "1"})),  // too many signals
  };
  for (std::size_t i = 0; i < bad.size(); ++i) {
    EXPECT_THROW(parseEdfHeader(bad[i]), EdfHeaderError) << "case " << i;
  }
  EXPECT_THROW(edfRecordsField(100000000), EdfHeaderError);
}

TEST(EdfAnnotations, FormatsTalsAsEdfPlusWritesThem) {
  EXPECT_EQ(*formatTal({0.5, 0.25, "second one"}, 0.1234),
            "+0.6234\x15"
            "0.25\x14second one\x14" +
                std::string(1, '\0'));
  EXPECT_EQ(*formatTal({2.0, -1.0, "x"}, 0.0), "+2\x14x\x14" + std::string(1, '\0'));
  EXPECT_EQ(*formatTal({-0.5, 0.0, "before"}, 0.0),
            "-0.5\x15"
            "0\x14"
            "before\x14" +
                std::string(1, '\0'));
  EXPECT_EQ(*formatEdfSeconds(1.23456789), "1.2345679");
  EXPECT_EQ(*formatEdfSeconds(1e-7), "0.0000001");
  EXPECT_EQ(*formatEdfSeconds(123456789.5), "123456789.5");
  EXPECT_EQ(*formatEdfSeconds(3.10000000001), "3.1");
  EXPECT_FALSE(formatEdfSeconds(std::nan("")));
  EXPECT_FALSE(formatTal({1e300, -1.0, "far"}, 0.0));

  // Control bytes would end the TAL; a cut never splits a UTF-8 sequence.
  const std::string tal = *formatTal({0.0, -1.0,
                                      "a\tb\x14"
                                      "c"},
                                     0.0);
  EXPECT_EQ(tal,
            "+0\x14"
            "a b c\x14" +
                std::string(1, '\0'));
  const std::string umlauts = std::string(39, 'x') + "\xc3\xa4\xc3\xa4";
  EXPECT_EQ(*formatTal({0.0, -1.0, umlauts}, 0.0),
            "+0\x14" + std::string(39, 'x') + "\x14" + std::string(1, '\0'));

  EXPECT_DOUBLE_EQ(*timekeepingOnset(std::string("+0.1234000\x14\x14\0\0", 14)), 0.1234);
  EXPECT_DOUBLE_EQ(*timekeepingOnset(std::string("+27\x14\x14\0", 6)), 27.0);
  EXPECT_FALSE(timekeepingOnset(std::string("+0.1\x14x\x14\0", 7)));
  EXPECT_FALSE(timekeepingOnset(std::string(12, '\0')));
}

TEST(EdfAnnotations, PacksDenselyAfterWhatTheRecordHolds) {
  const std::string keeper = "+1.5\x14\x14\0"s;
  std::string area = keeper + std::string(33, '\0');
  const std::vector<std::string> tals = {"skipped",
                                         "+1\x14"
                                         "a\x14\0"s,
                                         "+2\x14"
                                         "bb\x14\0"s,
                                         "+3\x14"
                                         "cccccccccccccccc\x14\0"s,
                                         "+4\x14\x14\0"s};
  // The third does not fit the 20 bytes left; the fourth would, but order
  // by onset is kept.
  EXPECT_EQ(packTals(area, tals, 1), 2u);
  EXPECT_EQ(area, keeper + tals[1] + tals[2] + std::string(20, '\0'));
  EXPECT_EQ(packTals(area, tals, 3), 0u);
  EXPECT_EQ(packTals(area, tals, 4), 1u);
  EXPECT_EQ(area, keeper + tals[1] + tals[2] + tals[4] + std::string(15, '\0'));

  std::string empty(13, '\0');
  EXPECT_EQ(packTals(empty, tals, 1), 2u);
  EXPECT_EQ(empty, tals[1] + tals[2]);
  std::string full(8, 'z');
  EXPECT_EQ(packTals(full, tals, 4), 0u);
  EXPECT_EQ(full, std::string(8, 'z'));
}

TEST(AnnotationJournal, KeepsWhatWasSyncedAndPassesOverDamage) {
  const std::string path = temporaryPath("journal.annotations");
  std::filesystem::remove(path);
  EXPECT_EQ(journalPathFor("dir/a.partial-Ab12Cd.bdf"), "dir/a.partial-Ab12Cd.bdf.annotations");
  EXPECT_TRUE(readAnnotationJournal(path).empty());
  {
    AnnotationJournal journal(path);
    journal.append({0.0, -1.0, "start"});
    journal.append({1.25, 0.5, "tab\there"});
    journal.sync();
    journal.append({9.0, -1.0, "never synced"});
    try {
      AnnotationJournal second(path);
      ADD_FAILURE() << "an existing journal was opened again";
    } catch (const OutputError& error) {
      EXPECT_THAT(error.what(), HasSubstr(path));
      EXPECT_THAT(error.what(), HasSubstr("File exists"));
    }
  }
  std::ofstream(path, std::ios::app) << "garbage\nx\t-\tbad onset\n1\t-2\tnegative\n"
                                     << "inf\t-\tinfinite\n2.5\t-\tafter damage\n3\t-\thalf";
  const auto annotations = readAnnotationJournal(path);
  ASSERT_EQ(annotations.size(), 3u);
  EXPECT_EQ(annotations[0].text, "start");
  EXPECT_LT(annotations[0].durationSeconds, 0.0);
  EXPECT_DOUBLE_EQ(annotations[1].onsetSeconds, 1.25);
  EXPECT_DOUBLE_EQ(annotations[1].durationSeconds, 0.5);
  EXPECT_EQ(annotations[1].text, "tab here");
  EXPECT_EQ(annotations[2].text, "after damage");
  std::filesystem::remove(path);
}

TEST(FinishEdf, PacksManyAnnotationsIntoAClosedFile) {
  const std::string path = temporaryPath("closed.edf");
  writeEdf(path, 100);

  // Two for each record's worth of room, so most records carry several.
  std::vector<Annotation> annotations;
  for (int i = 199; i >= 0; --i) {
    annotations.push_back({i * 0.00675, i % 3 == 0 ? 0.001 : -1.0, "n" + std::to_string(i)});
  }
  const EdfFinishReport report = finishPath(path, annotations);
  EXPECT_EQ(report.records, 100);
  EXPECT_EQ(report.bytesCut, 0u);
  EXPECT_EQ(report.annotationsWritten, 200u);
  EXPECT_EQ(report.annotationsLeftOut, 0u);

  edf_hdr_struct header{};
  ASSERT_EQ(edfopen_file_readonly(path.c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS), 0);
  EXPECT_EQ(header.datarecords_in_file, 100);
  ASSERT_EQ(header.annotations_in_file, 200);
  for (int i = 0; i < 200; ++i) {
    edf_annotation_struct annotation{};
    edf_get_annotation(header.handle, i, &annotation);
    EXPECT_EQ(std::string(annotation.annotation), "n" + std::to_string(i));
    EXPECT_NEAR(static_cast<double>(annotation.onset), i * 67500.0, 1.0);
  }
  std::vector<int> samples(900);
  ASSERT_EQ(edfread_digital_samples(header.handle, 0, 900, samples.data()), 900);
  EXPECT_EQ(samples[899], 99);
  edfclose_file(header.handle);

  // A file of no records has nowhere to put them.
  const std::string zero = temporaryPath("zero.edf");
  writeEdf(zero, 0);
  const EdfFinishReport none = finishPath(zero, annotations);
  EXPECT_EQ(none.records, 0);
  EXPECT_EQ(none.annotationsLeftOut, 200u);

  // The records end at 1.35 s; what lies at or after that is written but
  // counted, as a reader may leave it out.
  const EdfFinishReport late =
      finishPath(path, {{1.3, -1.0, "in"}, {1.35, -1.0, "at the end"}, {1.5, -1.0, "after"}});
  EXPECT_EQ(late.annotationsWritten, 3u);
  EXPECT_EQ(late.annotationsAfterData, 2u);
  std::filesystem::remove(path);
  std::filesystem::remove(zero);
}

TEST(FinishEdf, RefusesFilesThatAreNoEdf) {
  const std::string path = temporaryPath("notes.bdf");
  std::ofstream(path) << std::string(300, 'x');
  try {
    finishPath(path, {});
    ADD_FAILURE() << "a text file was finished";
  } catch (const OutputError& error) {
    EXPECT_THAT(error.what(), HasSubstr(path));
    EXPECT_THAT(error.what(), HasSubstr("no EDF or BDF file"));
  }
  std::filesystem::remove(path);
  EXPECT_THROW(finishPath(path, {}), OutputError);
}

TEST(AnnotationJournal, AnOpenSilenceIsClosedByItsLaterLineOrLastsToTheEnd) {
  // Closed after its open line, closed before it (order is not relied on),
  // opened twice and never closed, and an ordinary note at the same onset
  // with another text, which closes nothing.
  const std::vector<Annotation> read = parseAnnotationJournal(
      "1.35\topen\tS2 no data\n"
      "2\topen\tS1 no data\n"
      "2\t-\tpressed\n"
      "1.35\t0.999\tS2 no data\n"
      "3\t0.5\tS3 no data\n"
      "3\topen\tS3 no data\n"
      "2\topen\tS1 no data\n"
      "4\topen\tS4 no da");
  ASSERT_EQ(read.size(), 4u);
  EXPECT_EQ(read[0].text, "S1 no data");
  EXPECT_TRUE(read[0].open);
  EXPECT_DOUBLE_EQ(read[0].onsetSeconds, 2.0);
  EXPECT_EQ(read[1].text, "pressed");
  EXPECT_FALSE(read[1].open);
  EXPECT_EQ(read[2].text, "S2 no data");
  EXPECT_FALSE(read[2].open);
  EXPECT_DOUBLE_EQ(read[2].durationSeconds, 0.999);
  EXPECT_EQ(read[3].text, "S3 no data");
  EXPECT_DOUBLE_EQ(read[3].durationSeconds, 0.5);

  std::vector<Annotation> closed = read;
  closed.push_back({7.0, -1.0, "after the end", true});
  EXPECT_EQ(closeOpenAnnotations(closed, 5.4), 2u);
  EXPECT_DOUBLE_EQ(closed[0].durationSeconds, 3.4);
  EXPECT_FALSE(closed[0].open);
  EXPECT_DOUBLE_EQ(closed[4].durationSeconds, 0.0);
  EXPECT_DOUBLE_EQ(closed[2].durationSeconds, 0.999);
  EXPECT_EQ(closeOpenAnnotations(closed, 5.4), 0u);

  // As the writer journals them, text cleaned as for any line.
  const std::string path = temporaryPath("open.annotations");
  std::filesystem::remove(path);
  {
    AnnotationJournal journal(path);
    journal.appendOpen(0.0135, "S1\tno data");
    journal.append({0.027, 0.0405, "S2 no data"});
    journal.sync();
  }
  EXPECT_EQ(fileBytes(path), "0.0135\topen\tS1 no data\n0.027\t0.0405\tS2 no data\n");
  std::filesystem::remove(path);
}

TEST(FinishEdf, RebuildsTheAnnotationsSoAnotherRunWritesTheSameBytes) {
  const std::string path = temporaryPath("again.edf");
  writeEdf(path, 100, 2);
  const std::string asClosed = fileBytes(path);
  std::vector<Annotation> many;
  for (int i = 0; i < 300; ++i) {
    many.push_back({i * 0.0045, i % 2 == 0 ? 0.0135 : -1.0, "S" + std::to_string(i % 16 + 1)});
  }
  many.push_back({1.0, -1.0, "S9 no data", true});
  EXPECT_EQ(finishPath(path, many).annotationsWritten, 301u);
  const std::string once = fileBytes(path);
  const EdfFinishReport again = finishPath(path, many);
  EXPECT_EQ(again.annotationsWritten, 301u);
  EXPECT_EQ(again.annotationsLeftOut, 0u);
  EXPECT_EQ(again.openAnnotationsClosed, 1u);
  EXPECT_TRUE(fileBytes(path) == once) << "the bytes differ";

  // Another list replaces what the first put there, in every record.
  finishPath(path, {{0.5, 0.25, "only"}});
  const auto only = edflibAnnotations(path);
  ASSERT_EQ(only.size(), 1u);
  EXPECT_EQ(only[0].text, "only");
  finishPath(path, {});
  EXPECT_TRUE(fileBytes(path) == asClosed) << "the bytes differ";
  finishPath(path, many);
  EXPECT_TRUE(fileBytes(path) == once) << "the bytes differ";

  const auto read = edflibAnnotations(path);
  ASSERT_EQ(read.size(), 301u);
  // The open one lasts to the end of the last record, 1.35 s.
  const auto open = std::find_if(read.begin(), read.end(),
                                 [](const ReadAnnotation& a) { return a.text == "S9 no data"; });
  ASSERT_NE(open, read.end());
  EXPECT_EQ(open->onset, 10000000);
  EXPECT_EQ(open->duration, 3500000);
  std::filesystem::remove(path);
}

TEST(FinishEdf, SizedSignalsHoldASilenceEverySecondFrameOfEverySensor) {
  // The longest onsets a day-long recording gives, every sensor's silence
  // beginning every second record and lasting one.
  for (const std::size_t sensors : {1u, 4u, 5u, 16u}) {
    const std::string path = temporaryPath("sized.edf");
    std::filesystem::remove(path);
    const int records = 74;
    writeEdf(path, records, static_cast<int>(annotationSignalsFor(sensors)));
    std::vector<Annotation> silences;
    for (std::size_t s = 1; s <= sensors; ++s) {
      for (int k = static_cast<int>(s % 2); k < records; k += 2) {
        silences.push_back(
            {86399.0 + k * 0.0135 + 0.0001, 0.0135, "S" + std::to_string(s) + " no data"});
      }
    }
    const EdfFinishReport report = finishPath(path, silences);
    EXPECT_EQ(report.annotationsLeftOut, 0u) << sensors << " sensors";
    EXPECT_EQ(edflibAnnotations(path).size(), silences.size()) << sensors << " sensors";
    std::filesystem::remove(path);
  }
}

TEST(FinishCsv, CutsTheHalfWrittenRow) {
  const std::string path = temporaryPath("rows.csv");
  std::ofstream(path) << "component,channel\nS1,EMG\nS1,E";
  EXPECT_EQ(finishCsvFile(path), 4u);
  std::ifstream in(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "component,channel\nS1,EMG\n");
  EXPECT_EQ(finishCsvFile(path), 0u);
  std::ofstream(path) << "no line break";
  EXPECT_EQ(finishCsvFile(path), 13u);
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  std::filesystem::remove(path);
}
