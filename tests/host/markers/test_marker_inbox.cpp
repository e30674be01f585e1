// The hand-over of markers from any thread to the recording thread.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/annotation.h"
#include "markers/marker_inbox.h"

using namespace bvhost;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

std::vector<std::string> textsOf(const std::vector<Marker>& markers) {
  std::vector<std::string> texts;
  for (const auto& marker : markers) {
    texts.push_back(marker.text);
  }
  return texts;
}

}  // namespace

// What was offered comes out cleaned, in order, with the time it was
// received (not the time it was taken), once.
TEST(MarkerInbox, TakeGivesCleanedMarkersInOrderOnce) {
  MarkerInbox inbox(8);
  const MarkerClock::time_point early = MarkerClock::now() - std::chrono::seconds(3);
  const MarkerReply first = inbox.offer("  stim on\t", early);
  EXPECT_TRUE(first.accepted);
  EXPECT_EQ(first.line, "ok");
  const MarkerReply cut = inbox.offer(std::string(50, 'x'), early + std::chrono::seconds(1));
  EXPECT_EQ(cut.line, "ok cut to 40 bytes");
  const MarkerReply both = inbox.offer("a\tb" + std::string(50, 'c'), early);
  EXPECT_EQ(both.line, "ok 1 control character replaced by a space; cut to 40 bytes");
  const MarkerReply bad = inbox.offer("\xFF", early);
  EXPECT_FALSE(bad.accepted);
  EXPECT_EQ(bad.line, "refused: invalid UTF-8 at byte offset 0 (0xff)");

  std::vector<Marker>& taken = inbox.take();
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[0].text, "stim on");
  EXPECT_EQ(taken[0].received, early);
  EXPECT_EQ(taken[1].text, std::string(40, 'x'));
  EXPECT_EQ(taken[1].received, early + std::chrono::seconds(1));
  EXPECT_THAT(inbox.take(), IsEmpty());

  const MarkerCounts counts = inbox.counts();
  EXPECT_EQ(counts.accepted, 3u);
  EXPECT_EQ(counts.refusedText, 1u);
  EXPECT_EQ(counts.refusedFull, 0u);
}

// A full inbox refuses and counts each refusal; taking makes room again.
TEST(MarkerInbox, AFullInboxRefusesAndCounts) {
  MarkerInbox inbox(3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(inbox.offer("m" + std::to_string(i), MarkerClock::now()).accepted);
  }
  for (int i = 0; i < 2; ++i) {
    const MarkerReply reply = inbox.offer("over", MarkerClock::now());
    EXPECT_FALSE(reply.accepted);
    EXPECT_EQ(reply.line, "refused: 3 markers are waiting for the recording already");
  }
  EXPECT_EQ(inbox.counts().refusedFull, 2u);
  EXPECT_EQ(textsOf(inbox.take()), (std::vector<std::string>{"m0", "m1", "m2"}));
  EXPECT_TRUE(inbox.offer("room again", MarkerClock::now()).accepted);
  EXPECT_EQ(inbox.counts().accepted, 4u);
}

// Markers may take the room the recording's file has for them, counted
// as the file keeps them, and no more: the rest is refused until it grows.
TEST(MarkerInbox, MarkersBeyondTheFilesRoomAreRefusedUntilItGrows) {
  MarkerInbox inbox(100);
  inbox.limitRoom(2 * static_cast<std::int64_t>(noteBytes(3)));
  EXPECT_TRUE(inbox.offer("one", MarkerClock::now()).accepted);
  EXPECT_TRUE(inbox.offer("two", MarkerClock::now()).accepted);
  const MarkerReply over = inbox.offer("six", MarkerClock::now());
  EXPECT_FALSE(over.accepted);
  EXPECT_THAT(over.line, HasSubstr("no room"));
  // Taking them frees no room: they are still to go into the file.
  inbox.take();
  EXPECT_FALSE(inbox.offer("a", MarkerClock::now()).accepted);
  inbox.limitRoom(2 * static_cast<std::int64_t>(noteBytes(3)) +
                  static_cast<std::int64_t>(noteBytes(1)));
  EXPECT_TRUE(inbox.offer("b", MarkerClock::now()).accepted);
  EXPECT_EQ(inbox.counts().refusedNoRoom, 2u);
  EXPECT_EQ(inbox.counts().accepted, 3u);
}

// The stop: what was accepted and not taken comes back from close(), and
// every later marker is refused as stopped, and counted so.
TEST(MarkerInbox, CloseGivesWhatWaitedAndRefusesTheRest) {
  MarkerInbox inbox(4);
  inbox.offer("taken", MarkerClock::now());
  inbox.take();
  inbox.offer("left 1", MarkerClock::now());
  inbox.offer("left 2", MarkerClock::now());
  EXPECT_FALSE(inbox.closed());
  EXPECT_EQ(textsOf(inbox.close()), (std::vector<std::string>{"left 1", "left 2"}));
  EXPECT_TRUE(inbox.closed());

  const MarkerReply reply = inbox.offer("late", MarkerClock::now());
  EXPECT_FALSE(reply.accepted);
  EXPECT_EQ(reply.line, "refused: the recording has stopped");
  // Even text that could never be a marker gets the stop as its answer.
  EXPECT_THAT(inbox.offer("\xFF", MarkerClock::now()).line, HasSubstr("stopped"));
  EXPECT_THAT(inbox.take(), IsEmpty());
  EXPECT_THAT(inbox.close(), IsEmpty());
  const MarkerCounts counts = inbox.counts();
  EXPECT_EQ(counts.accepted, 3u);
  EXPECT_EQ(counts.refusedClosed, 2u);
}

// A recording that serves its inbox before its stream starts refuses what
// comes meanwhile, saying so, and keeps none of it for later.
TEST(MarkerInbox, BeforeItIsOpenedEveryMarkerIsRefusedAsEarly) {
  MarkerInbox inbox(4, InboxStart::kWhenOpened);
  EXPECT_FALSE(inbox.opened());
  const MarkerReply early = inbox.offer("too soon", MarkerClock::now());
  EXPECT_FALSE(early.accepted);
  EXPECT_EQ(early.line, "refused: the recording has not started yet");
  inbox.open();
  EXPECT_TRUE(inbox.offer("in time", MarkerClock::now()).accepted);
  EXPECT_EQ(textsOf(inbox.take()), (std::vector<std::string>{"in time"}));
  inbox.close();
  // Once closed, the stop is the answer, not the start.
  EXPECT_THAT(inbox.offer("late", MarkerClock::now()).line, HasSubstr("stopped"));
  const MarkerCounts counts = inbox.counts();
  EXPECT_EQ(counts.refusedEarly, 1u);
  EXPECT_EQ(counts.accepted, 1u);
  EXPECT_EQ(counts.refusedClosed, 1u);
  EXPECT_TRUE(MarkerInbox().opened());
}

// Senders on several threads while the recording thread takes and then
// stops: every marker answered "ok" is taken or given back by close(),
// exactly once and in each sender's order, and every one is counted.
TEST(MarkerInbox, TakingWhileOthersSendLosesNothingAccepted) {
  constexpr int kSenders = 4;
  constexpr int kEach = 5000;
  MarkerInbox inbox(64);
  std::atomic<int> ready{0};
  std::vector<std::vector<std::string>> acceptedBy(kSenders);
  std::vector<std::thread> senders;
  for (int sender = 0; sender < kSenders; ++sender) {
    senders.emplace_back([&, sender] {
      ++ready;
      for (int i = 0; i < kEach; ++i) {
        const std::string text = std::to_string(sender) + ":" + std::to_string(i);
        if (inbox.offer(text, MarkerClock::now()).accepted) {
          acceptedBy[sender].push_back(text);
        }
      }
    });
  }
  while (ready < kSenders) {
    std::this_thread::yield();
  }
  std::vector<std::string> received;
  // Until about half has been sent, then the stop, as a recording would.
  while (inbox.counts().accepted + inbox.counts().refusedFull < kSenders * kEach / 2) {
    for (auto& marker : inbox.take()) {
      received.push_back(std::move(marker.text));
    }
  }
  for (auto& marker : inbox.close()) {
    received.push_back(std::move(marker.text));
  }
  for (auto& sender : senders) {
    sender.join();
  }

  const MarkerCounts counts = inbox.counts();
  EXPECT_EQ(counts.accepted + counts.refusedFull + counts.refusedClosed,
            static_cast<std::uint64_t>(kSenders * kEach));
  EXPECT_EQ(received.size(), counts.accepted);
  std::map<int, std::vector<std::string>> receivedBy;
  for (const auto& text : received) {
    receivedBy[std::stoi(text.substr(0, text.find(':')))].push_back(text);
  }
  for (int sender = 0; sender < kSenders; ++sender) {
    EXPECT_EQ(receivedBy[sender], acceptedBy[sender]) << "sender " << sender;
  }
}
