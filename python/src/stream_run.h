// One stream, run by the recording core on a thread of its own, so that
// what is recorded never depends on how quickly a script takes it: every
// pass of the core's read loop hands what it completed to a queue, and the
// script takes chunks from there at its own pace. The queue is bounded
// only by how far behind the script may fall (LagBounds), never by
// dropping: a script past that bound ends the stream, and is told so once
// it has taken every chunk recorded until then.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/annotation.h"
#include "chunk_sink.h"
#include "markers/marker_inbox.h"
#include "recording/recording_session.h"

namespace kessra_python {

// How far behind a script is: how long the oldest chunk it has not taken
// has waited. A script that keeps up takes each chunk at once, however many
// frames it holds (the first holds those of the plug-in's start); while it
// does not, the device's frames pile up behind that chunk at their pace.
struct LagBounds {
  // Past this many seconds, the script is warned, once a stream; 0 or
  // less: never.
  double warnSeconds = 1.0;
  // Past this many, the stream ends; 0 or less: no bound but memory.
  double maxSeconds = 60.0;
};

// How a stream ended when the script fell further behind than it may.
class LagOverrun : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class StreamRun {
 public:
  // Takes a session already started and streams `seconds` (0: until
  // stopped); the session stops and disconnects on the run's thread.
  StreamRun(std::unique_ptr<bvhost::RecordingSession> session, double seconds, LagBounds bounds);
  // Stops the stream and waits for its thread: the plug-in is left
  // disconnected.
  ~StreamRun();
  StreamRun(const StreamRun&) = delete;
  StreamRun& operator=(const StreamRun&) = delete;

  const std::vector<bvhost::ChannelInfo>& channels() const { return session_->channels(); }
  const std::vector<RateGroup>& groups() const { return groups_; }
  // When the plug-in was told to start: the start of the first frame.
  std::chrono::system_clock::time_point start() const { return session_->info().start; }

  enum class Next { Chunk, Waiting, Ended };
  // Waits up to `timeout` for the next chunk. Ended once every chunk has
  // been taken and the thread is done.
  Next next(std::chrono::milliseconds timeout, Chunk& chunk);
  // Once ended: rethrows what ended the stream early (a refused read, a
  // script too far behind), if anything did.
  void rethrowFailure() const;
  // A warning the script is due about falling behind, given once.
  std::optional<std::string> takeLagWarning();

  // Ends the stream before its next read and waits until the plug-in is
  // stopped and disconnected; what was recorded stays to be taken.
  void stop() noexcept;
  // stop(), and what was not yet taken is dropped.
  void close() noexcept;

  // An event marker at this moment, on the stream's time base, as bvhost
  // record takes one: (accepted, the reply: "ok ..." or "refused: ...").
  // Refused before the device streams and after the stream has ended.
  std::pair<bool, std::string> mark(std::string_view text);

  // Once ended: every note of the time line with its duration known, in
  // the order the files hold them.
  std::vector<bvhost::Annotation> annotations() const;
  std::uint64_t framesLost() const;

 private:
  void run(double seconds) noexcept;
  void push(Chunk chunk);

  // Before the session: the session takes markers from it to its last call.
  bvhost::MarkerInbox markers_;
  std::unique_ptr<bvhost::RecordingSession> session_;
  std::vector<RateGroup> groups_;
  ChunkSink sink_;
  const LagBounds bounds_;

  mutable std::mutex mutex_;
  std::condition_variable ready_;
  struct Waiting {
    std::chrono::steady_clock::time_point since;
    Chunk chunk;
  };
  std::deque<Waiting> queue_;
  std::uint64_t pushedFrames_ = 0;
  bool warned_ = false;
  std::optional<std::string> warning_;
  bool overrun_ = false;
  bool ended_ = false;
  std::exception_ptr failure_;
  std::vector<bvhost::Annotation> annotations_;
  std::uint64_t framesLost_ = 0;

  std::mutex joinMutex_;
  std::thread thread_;
};

}  // namespace kessra_python
