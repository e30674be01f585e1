// Markers from a descriptor, one per line: a pipe stands in for the
// terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "markers/line_reader.h"

using namespace bvhost;
using ::testing::ElementsAre;

namespace {

class Pipe {
 public:
  Pipe() { EXPECT_EQ(::pipe(fds_), 0); }
  ~Pipe() {
    closeWriter();
    ::close(fds_[0]);
  }
  int reader() const { return fds_[0]; }
  void write(const std::string& text) {
    ASSERT_EQ(::write(fds_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void closeWriter() {
    if (fds_[1] >= 0) {
      ::close(fds_[1]);
      fds_[1] = -1;
    }
  }

 private:
  int fds_[2] = {-1, -1};
};

// Waits, with a generous bound, for what another thread does.
template <class Condition>
bool eventually(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace

// Each line is a marker, stamped when it arrived; every line gets its reply;
// a last line without "\n" counts once the writer is gone, and the reader
// then ends by itself.
TEST(MarkerLineReader, TakesEachLineUntilTheEnd) {
  Pipe pipe;
  MarkerInbox inbox;
  std::mutex mutex;
  std::vector<std::string> replies;
  MarkerLineReader reader(pipe.reader(), inbox, [&](const MarkerReply& reply) {
    const std::lock_guard lock(mutex);
    replies.push_back(reply.line);
  });

  const MarkerClock::time_point before = MarkerClock::now();
  pipe.write("stim on\r\n\nlift\t");
  pipe.write("left\n" + std::string(5000, 'x') + "\ntrial 12");
  ASSERT_TRUE(eventually([&] { return inbox.counts().accepted == 2; }));
  const MarkerClock::time_point between = MarkerClock::now();
  EXPECT_FALSE(reader.ended());
  pipe.closeWriter();
  ASSERT_TRUE(eventually([&] { return reader.ended(); }));

  const std::vector<Marker>& taken = inbox.take();
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[0].text, "stim on");
  EXPECT_EQ(taken[1].text, "lift left");
  EXPECT_EQ(taken[2].text, "trial 12");
  EXPECT_GE(taken[0].received, before);
  EXPECT_LE(taken[1].received, between);
  EXPECT_GE(taken[2].received, between);
  const std::lock_guard lock(mutex);
  EXPECT_THAT(replies, ElementsAre("ok", "refused: empty marker",
                                   "ok 1 control character replaced by a space",
                                   "refused: longer than 4096 bytes", "ok"));
}

// Told to stop while the descriptor is open and silent, the reader ends at
// once: it never holds up the end of bvhost. A line it had half read is
// not offered.
TEST(MarkerLineReader, StopsWhileNothingArrives) {
  Pipe pipe;
  MarkerInbox inbox;
  MarkerLineReader reader(pipe.reader(), inbox);
  pipe.write("half a li");
  reader.stop();
  EXPECT_FALSE(reader.ended());
  reader.stop();
  EXPECT_EQ(inbox.counts().accepted, 0u);
  // Still the caller's: the descriptor was not closed.
  pipe.write("ne\n");
  char rest[16];
  EXPECT_GT(::read(pipe.reader(), rest, sizeof rest), 0);
}
