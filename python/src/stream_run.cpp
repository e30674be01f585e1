#include "stream_run.h"

#include <cstdio>

#include "base/frame_period.h"

namespace kessra_python {
namespace {

double secondsOf(std::uint64_t frames) {
  return static_cast<double>(frames) * bvhost::kFramePeriodSeconds;
}

std::string decimals(double value, int places) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", places, value);
  return text;
}

}  // namespace

StreamRun::StreamRun(std::unique_ptr<bvhost::RecordingSession> session, double seconds,
                     LagBounds bounds)
    : session_(std::move(session)),
      groups_(rateGroups(session_->channels())),
      sink_(session_->channels(), groups_),
      bounds_(bounds) {
  session_->addSink(sink_);
  session_->attachMarkers(markers_);
  thread_ = std::thread([this, seconds] { run(seconds); });
}

StreamRun::~StreamRun() { stop(); }

std::pair<bool, std::string> StreamRun::mark(std::string_view text) {
  bvhost::MarkerReply reply = markers_.offer(text, std::chrono::steady_clock::now());
  return {reply.accepted, std::move(reply.line)};
}

void StreamRun::run(double seconds) noexcept {
  std::exception_ptr failure;
  try {
    bvhost::StreamHooks hooks;
    hooks.afterPass = [this](bvhost::RecordingSession::Clock::time_point) {
      if (sink_.hasNews()) {
        push(sink_.take());
      }
    };
    session_->stream(seconds, hooks);
    session_->stopAndDisconnect();
    failure = session_->finish().failure;
    // Finishing may close a note without completing a frame.
    sink_.finish();
    Chunk last = sink_.take();
    if (last.frames > 0 || !last.notes.empty()) {
      push(std::move(last));
    }
    const std::lock_guard lock(mutex_);
    framesLost_ = session_->frames().stats().lostFrames();
  } catch (...) {
    // Only a chunk that could not be built gets here; the session still
    // leaves the plug-in stopped and disconnected.
    session_->stopAndDisconnect();
    failure = std::current_exception();
  }
  const std::lock_guard lock(mutex_);
  if (!failure && overrun_) {
    failure = std::make_exception_ptr(
        LagOverrun("the script fell " + decimals(bounds_.maxSeconds, 1) +
                   " s behind the device (max_lag), so the stream was stopped after " +
                   decimals(secondsOf(pushedFrames_), 3) +
                   " s of stream time; every frame until then was handed over"));
  }
  failure_ = failure;
  ended_ = true;
  ready_.notify_all();
}

void StreamRun::push(Chunk chunk) {
  bool stopDue = false;
  {
    const std::lock_guard lock(mutex_);
    for (const Note& note : chunk.notes) {
      if (!note.begins) {
        annotations_.push_back(note.annotation);
      }
    }
    pushedFrames_ += chunk.frames;
    const auto now = std::chrono::steady_clock::now();
    queue_.push_back({now, std::move(chunk)});
    const double behind = std::chrono::duration<double>(now - queue_.front().since).count();
    if (!warned_ && bounds_.warnSeconds > 0.0 && behind > bounds_.warnSeconds) {
      warned_ = true;
      warning_ = "the script is " + decimals(behind, 1) +
                 " s behind the device; every frame is kept for it, " +
                 (bounds_.maxSeconds > 0.0
                      ? "but the stream ends once it is " + decimals(bounds_.maxSeconds, 1) +
                            " s behind (max_lag)"
                      : std::string("in memory that grows for as long as it stays behind"));
    }
    if (!overrun_ && bounds_.maxSeconds > 0.0 && behind > bounds_.maxSeconds) {
      overrun_ = true;
      stopDue = true;
    }
  }
  ready_.notify_all();
  if (stopDue) {
    session_->requestStop();
  }
}

StreamRun::Next StreamRun::next(std::chrono::milliseconds timeout, Chunk& chunk) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, timeout, [this] { return !queue_.empty() || ended_; });
  if (!queue_.empty()) {
    chunk = std::move(queue_.front().chunk);
    queue_.pop_front();
    return Next::Chunk;
  }
  return ended_ ? Next::Ended : Next::Waiting;
}

void StreamRun::rethrowFailure() const {
  const std::lock_guard lock(mutex_);
  if (failure_) {
    std::rethrow_exception(failure_);
  }
}

std::optional<std::string> StreamRun::takeLagWarning() {
  const std::lock_guard lock(mutex_);
  std::optional<std::string> warning;
  warning.swap(warning_);
  return warning;
}

void StreamRun::stop() noexcept {
  session_->requestStop();
  const std::lock_guard lock(joinMutex_);
  if (thread_.joinable()) {
    thread_.join();
  }
}

void StreamRun::close() noexcept {
  stop();
  const std::lock_guard lock(mutex_);
  queue_.clear();
}

std::vector<bvhost::Annotation> StreamRun::annotations() const {
  const std::lock_guard lock(mutex_);
  return annotations_;
}

std::uint64_t StreamRun::framesLost() const {
  const std::lock_guard lock(mutex_);
  return framesLost_;
}

}  // namespace kessra_python
