#include "session/connection.h"

#include <string>

#include "config/configuration_build.h"
#include "device/device_context.h"
#include "inventory/inventory.h"
#include "orvane_interop.h"

namespace kessra {

namespace {

// Builds the inventory from the list the interop just returned. If that
// fails, the metadata goes back to what it was, so the stores still agree.
void rebuildFrom(const char* channelList, const OrvaneMetadataBuf& previousMetadata) {
  try {
    buildInventory(channelList != nullptr ? std::string(channelList) : std::string());
  } catch (...) {
    deviceContext().metadata = previousMetadata;
    throw;
  }
}

}  // namespace

Outcome connect(const Configuration* config) {
  DeviceContext& context = deviceContext();
  if (context.state != BV_STATE_DISCONNECTED) {
    return Outcome::ConnectWhileConnected;
  }
  const OrvaneMetadataBuf previous = context.metadata;
  context.metadata = OrvaneMetadataBuf{};
  try {
    rebuildFrom(orvane_initialize(context.metadata, 2, 0, true), previous);
  } catch (...) {
    // The connect failed as a whole: the device it opened is closed again.
    context.metadata = previous;
    orvane_close();
    throw;
  }
  applyConfiguration(config);
  context.state = BV_STATE_CONNECTED;
  return Outcome::Ok;
}

Outcome scan(const Configuration* config) {
  DeviceContext& context = deviceContext();
  if (context.state == BV_STATE_STREAMING) {
    return Outcome::ScanWhileStreaming;
  }
  const OrvaneMetadataBuf previous = context.metadata;
  context.metadata = OrvaneMetadataBuf{};
  rebuildFrom(orvane_scan(context.metadata), previous);
  applyConfiguration(config);
  return Outcome::Ok;
}

Outcome disconnect() {
  DeviceContext& context = deviceContext();
  if (context.state == BV_STATE_DISCONNECTED) {
    return Outcome::DisconnectWhileDisconnected;
  }
  if (context.state == BV_STATE_STREAMING) {
    context.drainRequested = true;
    orvane_stop();
    context.state = BV_STATE_CONNECTED;
  }
  orvane_close();
  clearInventory();
  context.metadata = OrvaneMetadataBuf{};
  context.state = BV_STATE_DISCONNECTED;
  return Outcome::Ok;
}

}  // namespace kessra
