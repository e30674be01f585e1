// A plug-in held open for a Python session: connected from the start, so
// its sensors can be read, and connected afresh for each stream after the
// first, or when the trigger options have changed, since they go to the
// plug-in only on connecting. Each stream takes the connection it starts
// with, and disconnects it when it ends.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/channel_info.h"
#include "base/recording_info.h"
#include "base/sensor_info.h"
#include "chunk_sink.h"
#include "plugin/plugin_configuration.h"
#include "stream_run.h"

namespace kessra_python {

class DeviceSession {
 public:
  // Loads the plug-in and connects; throws LoadError or Refused.
  DeviceSession(const std::string& pluginPath, const bvhost::TriggerOptions& triggers);
  ~DeviceSession();
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  // As the latest connection found them. Copies: another thread may be
  // connecting meanwhile.
  bvhost::RecordingInfo info() const;
  std::vector<bvhost::SensorInfo> sensors() const;
  std::vector<bvhost::ChannelInfo> channels() const;
  std::vector<RateGroup> groups() const;

  // Stops this session's stream still running, connects afresh if due,
  // starts the plug-in (which takes a while for the sensors to settle) and
  // streams on. Throws Refused.
  std::shared_ptr<StreamRun> stream(double seconds, const bvhost::TriggerOptions& triggers,
                                    LagBounds bounds);

  // Stops a stream still running and disconnects; nothing is loaded after.
  void close() noexcept;
  bool closed() const;

 private:
  void connect(const bvhost::TriggerOptions& triggers);

  // Python calls in here without its lock, from any thread.
  mutable std::mutex mutex_;
  std::string path_;
  bvhost::RecordingInfo info_;
  std::vector<bvhost::SensorInfo> sensors_;
  std::vector<bvhost::ChannelInfo> channels_;
  std::vector<RateGroup> groups_;
  // Connected and not yet streamed; null once a stream took it.
  std::unique_ptr<bvhost::RecordingSession> connected_;
  bvhost::TriggerOptions connectedWith_;
  std::weak_ptr<StreamRun> run_;
  bool closed_ = false;
};

}  // namespace kessra_python
