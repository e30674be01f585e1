#include "device_session.h"

#include <stdexcept>

namespace kessra_python {
namespace {

bool operator==(const bvhost::TriggerOptions& a, const bvhost::TriggerOptions& b) {
  return a.startInput == b.startInput && a.stopInput == b.stopInput &&
         a.outputTriggers == b.outputTriggers;
}

}  // namespace

DeviceSession::DeviceSession(const std::string& pluginPath, const bvhost::TriggerOptions& triggers)
    : path_(pluginPath) {
  connect(triggers);
}

DeviceSession::~DeviceSession() { close(); }

bvhost::RecordingInfo DeviceSession::info() const {
  const std::lock_guard lock(mutex_);
  return info_;
}

std::vector<bvhost::SensorInfo> DeviceSession::sensors() const {
  const std::lock_guard lock(mutex_);
  return sensors_;
}

std::vector<bvhost::ChannelInfo> DeviceSession::channels() const {
  const std::lock_guard lock(mutex_);
  return channels_;
}

std::vector<RateGroup> DeviceSession::groups() const {
  const std::lock_guard lock(mutex_);
  return groups_;
}

bool DeviceSession::closed() const {
  const std::lock_guard lock(mutex_);
  return closed_;
}

void DeviceSession::connect(const bvhost::TriggerOptions& triggers) {
  // The new session loads the library before the old one lets it go, so it
  // stays loaded, and the old one disconnects before the new one connects:
  // the plug-in holds one connection at a time.
  auto fresh = std::make_unique<bvhost::RecordingSession>(path_);
  connected_.reset();
  fresh->connect(triggers);
  connectedWith_ = triggers;
  info_ = fresh->info();
  sensors_ = fresh->sensors();
  channels_ = fresh->channels();
  groups_ = rateGroups(channels_);
  connected_ = std::move(fresh);
}

std::shared_ptr<StreamRun> DeviceSession::stream(double seconds,
                                                 const bvhost::TriggerOptions& triggers,
                                                 LagBounds bounds) {
  const std::lock_guard lock(mutex_);
  if (closed_) {
    throw std::logic_error("the session is closed");
  }
  if (const auto running = run_.lock()) {
    running->stop();
  }
  if (!connected_ || !(connectedWith_ == triggers)) {
    connect(triggers);
  }
  try {
    connected_->start();
  } catch (...) {
    connected_.reset();  // disconnected already
    throw;
  }
  info_ = connected_->info();
  auto run = std::make_shared<StreamRun>(std::move(connected_), seconds, bounds);
  run_ = run;
  return run;
}

void DeviceSession::close() noexcept {
  const std::lock_guard lock(mutex_);
  if (const auto running = run_.lock()) {
    running->stop();
  }
  connected_.reset();
  closed_ = true;
}

}  // namespace kessra_python
