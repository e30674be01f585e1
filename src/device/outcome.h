// What a core operation tells its caller: done, or which request it refused
// in the device's present state. The core knows nothing of the host's result
// records; src/api turns these into them.
#pragma once

namespace kessra {

// One value per refusal rather than per state, since the host is told a
// different text for the same state depending on what it asked for.
enum class [[nodiscard]] Outcome{
    Ok,
    ConnectWhileConnected,
    DisconnectWhileDisconnected,
    ScanWhileStreaming,
    StartWhileStreaming,
    StartWhileDisconnected,
    StopWhileNotStreaming,
};

}  // namespace kessra
