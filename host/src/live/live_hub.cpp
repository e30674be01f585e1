#include "live/live_hub.h"

#include <algorithm>

#include "base/quiet_thread.h"

namespace bvhost {
namespace {

using Clock = std::chrono::steady_clock;

// Often enough that traces scroll smoothly, rarely enough that a page gets
// a few large events rather than many small ones.
constexpr auto kPumpInterval = std::chrono::milliseconds(100);

std::vector<std::size_t> sensorOfEachChannel(const std::vector<ChannelInfo>& channels) {
  std::vector<std::size_t> sensors;
  sensors.reserve(channels.size());
  for (const auto& channel : channels) {
    sensors.push_back(channel.componentIndex);
  }
  return sensors;
}

}  // namespace

LiveHub::LiveHub(ViewExchange& exchange, const ViewSetup& setup, bool markers)
    : exchange_(exchange),
      info_(infoEvent(setup, markers)),
      sensorOfChannel_(sensorOfEachChannel(setup.channels)),
      envelope_(envelopeChannels(setup.channels)),
      framesWithData_(setup.sensors.size()) {
  thread_ = threadWithoutStopSignals([this] { run(); });
}

LiveHub::~LiveHub() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    finished_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void LiveHub::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    pump();
    lock.lock();
    changed_.wait_for(lock, kPumpInterval, [this] { return stopping_; });
  }
}

void LiveHub::pump() {
  std::lock_guard pumping(pumpMutex_);
  auto taken = exchange_.take();
  // One event for what arrived since the last pump, unless frames were
  // dropped in between.
  std::vector<ViewBatch> merged;
  for (auto& batch : taken.batches) {
    if (merged.empty() || !extend(merged.back(), batch)) {
      merged.push_back(std::move(batch));
    }
  }
  for (const auto& batch : merged) {
    countFrames(batch);
    append(framesEvent(batch, envelope_), batch.frames());
  }
  for (const auto& marker : taken.markers) {
    append(markerEvent(marker), 0, true);
  }
  if (taken.status) {
    append(statusEvent(*taken.status, frameRates(), exchange_.droppedFrames(),
                       exchange_.droppedMarkers()),
           0);
  }
}

void LiveHub::finish(ViewStatus last) {
  pump();
  last.ended = true;
  std::lock_guard pumping(pumpMutex_);
  append(statusEvent(last, std::vector<double>(framesWithData_.size(), 0.0),
                     exchange_.droppedFrames(), exchange_.droppedMarkers()),
         0);
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  changed_.notify_all();
}

void LiveHub::append(std::string text, std::size_t frames, bool marker) {
  {
    std::lock_guard lock(mutex_);
    auto shared = std::make_shared<const std::string>(std::move(text));
    if (marker) {
      recentMarkers_.emplace_back(firstSeq_ + history_.size(), shared);
      if (recentMarkers_.size() > kHistoryMarkers) {
        recentMarkers_.pop_front();
      }
    }
    history_.push_back(Entry{std::move(shared), frames});
    historyFrames_ += frames;
    // Old frames go once enough newer ones are kept; old statuses go as
    // soon as they reach the front, since a later one says more, and so do
    // markers, which recentMarkers_ keeps on.
    while (history_.size() > 1 && (history_.front().frames == 0 ||
                                   historyFrames_ - history_.front().frames >= kHistoryFrames)) {
      historyFrames_ -= history_.front().frames;
      history_.pop_front();
      ++firstSeq_;
    }
  }
  changed_.notify_all();
}

LiveHub::Events LiveHub::after(std::uint64_t cursor, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, wait, [&] {
    return finished_ || firstSeq_ + history_.size() > std::max(cursor, firstSeq_);
  });
  Events events;
  // A page that missed events still gets the markers among them.
  for (const auto& [seq, text] : recentMarkers_) {
    if (seq >= cursor && seq < firstSeq_) {
      events.texts.push_back(text);
    }
  }
  cursor = std::max(cursor, firstSeq_);
  for (std::uint64_t seq = cursor; seq < firstSeq_ + history_.size(); ++seq) {
    events.texts.push_back(history_[seq - firstSeq_].text);
  }
  events.next = firstSeq_ + history_.size();
  events.finished = finished_;
  return events;
}

void LiveHub::countFrames(const ViewBatch& batch) {
  std::vector<bool> hasData(framesWithData_.size());
  for (std::size_t frame = 0; frame < batch.frames(); ++frame) {
    std::fill(hasData.begin(), hasData.end(), false);
    for (std::size_t channel = 0; channel < batch.channels; ++channel) {
      const std::size_t sensor = sensorOfChannel_[channel];
      if (batch.at(frame, channel).count > 0 && sensor < hasData.size()) {
        hasData[sensor] = true;
      }
    }
    for (std::size_t sensor = 0; sensor < hasData.size(); ++sensor) {
      framesWithData_[sensor] += hasData[sensor] ? 1 : 0;
    }
  }
}

std::vector<double> LiveHub::frameRates() {
  const auto now = Clock::now();
  rateHistory_.emplace_back(now, framesWithData_);
  while (rateHistory_.size() > 2 && now - rateHistory_[1].first >= std::chrono::seconds(1)) {
    rateHistory_.pop_front();
  }
  std::vector<double> rates(framesWithData_.size(), 0.0);
  const auto& [then, before] = rateHistory_.front();
  const double seconds = std::chrono::duration<double>(now - then).count();
  if (seconds > 0.0) {
    for (std::size_t sensor = 0; sensor < rates.size(); ++sensor) {
      rates[sensor] = static_cast<double>(framesWithData_[sensor] - before[sensor]) / seconds;
    }
  }
  return rates;
}

}  // namespace bvhost
