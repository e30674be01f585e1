"""The single faults scripts/mutation-test.py plants in the plug-in, one at a
time. Each is a realistic slip: (what it breaks, file, [(old, new), ...]).
Every old text must occur exactly once in its file, so a fault that no longer
applies after a change to the plug-in fails loudly instead of passing."""

MUTATIONS = [
    ("sample values altered for every sensor after the first",
     "src/streaming/streaming.cpp",
     [("  std::size_t samplePosition = 0;\n  for (SensorComponent& component : inventory()) {\n",
       "  for (SensorComponent& component : inventory()) {\n    std::size_t samplePosition = 0;\n")]),
    ("a channel with a count of 0 given no callback",
     "src/streaming/streaming.cpp",
     [("  const std::int64_t n = sampleCount > 0 ? sampleCount : 0;\n",
       "  if (sampleCount == 0) {\n    return 0;\n  }\n"
       "  const std::int64_t n = sampleCount > 0 ? sampleCount : 0;\n")]),
    ("firstIndex not restarting at a second start",
     "src/streaming/streaming.cpp",
     [("  for (SensorComponent& component : inventory()) {\n"
       "    for (SensorChannel& channel : component.channels) {\n"
       "      channel.samplesDelivered = 0;\n    }\n  }\n", "")]),
    ("a start that does not wait its second (the wait taken in microseconds)",
     "src/streaming/streaming.cpp",
     [("std::chrono::steady_clock::now() + kStartSettleTime;",
       "std::chrono::steady_clock::now() + std::chrono::microseconds(kStartSettleTime.count());")]),
    ("rates 0.1 % off (74 frames a second)",
     "src/config/configuration_build.h",
     [("kFramesPerSecond = 74.07407407407408;", "kFramesPerSecond = 74.0;")]),
    ("component names in the configuration differ from those of the callbacks",
     "src/config/configuration_build.cpp",
     [("  description.name = copyText(component.name);\n",
       "  description.name =\n"
       "      copyText(std::string_view(component.name).substr(std::string_view(\"Orvane \").size()));\n")]),
    ("samples per frame rounded half to even",
     "src/inventory/inventory.cpp",
     [("std::round(samplesPerSecond * FRAME_PERIOD_S)",
       "std::nearbyint(samplesPerSecond * FRAME_PERIOD_S)")]),
    ("the text after the last separator taken as a channel",
     "src/inventory/inventory.cpp",
     [("  ListedChannels listed = readChannelList(channelList);\n",
       "  if (!channelList.empty() && channelList.back() != kSeparator) {\n"
       "    channelList += kSeparator;\n  }\n"
       "  ListedChannels listed = readChannelList(channelList);\n")]),
    ("unit texts matched regardless of case",
     "src/inventory/unit_codes.cpp",
     [("#include <utility>\n", "#include <strings.h>\n\n#include <utility>\n"),
      ("    if (text == unitText) {\n",
       "    if (text.size() == unitText.size() &&\n"
       "        strncasecmp(text.data(), unitText.data(), text.size()) == 0) {\n")]),
    ("a component for every sensor start in the list, more than the metadata counts",
     "src/inventory/inventory.cpp",
     [("sensor < metadata.sensorCount; ++sensor",
       "sensor < static_cast<std::int32_t>(listed.componentNames.size()); ++sensor")]),
    ("a two-setting record applied",
     "src/config/configuration_build.cpp",
     [("config->settingCount != kSettingCount", "config->settingCount < 2")]),
    ("a null callback that crashes",
     "src/api/entry_points.cpp",
     [("  if (callback == nullptr) {\n    return failure(BV_MESSAGE_INVALID_ARGUMENT);\n  }\n", "")]),
    ("a stray close on a refused disconnect",
     "src/session/connection.cpp",
     [("  if (context.state == BV_STATE_DISCONNECTED) {\n"
       "    return Outcome::DisconnectWhileDisconnected;\n",
       "  if (context.state == BV_STATE_DISCONNECTED) {\n    orvane_close();\n"
       "    return Outcome::DisconnectWhileDisconnected;\n")]),
    ("a second bv_connect accepted",
     "src/session/connection.cpp",
     [("  if (context.state != BV_STATE_DISCONNECTED) {\n"
       "    return Outcome::ConnectWhileConnected;\n  }\n", "")]),
    ("a stop that requests no drain",
     "src/streaming/streaming.cpp",
     [("  context.drainRequested = true;\n  orvane_stop();\n  context.state = BV_STATE_CONNECTED;\n"
       "  return Outcome::Ok;\n}\n\nvoid readSamples",
       "  orvane_stop();\n  context.state = BV_STATE_CONNECTED;\n  return Outcome::Ok;\n}\n\n"
       "void readSamples")]),
    ("firstIndex never advanced",
     "src/streaming/streaming.cpp",
     [("  channel.samplesDelivered += static_cast<std::uint64_t>(n);\n", "")]),
    ("the drain flag never cleared, so every read after a stop drains",
     "src/streaming/streaming.cpp",
     [("      context.drainRequested = false;\n", "")]),
    ("a trigger value compared as a prefix of \"true\"",
     "src/config/configuration_build.cpp",
     [("std::strcmp(text, kTrue.data()) == 0",
       "std::strncmp(text, kTrue.data(), std::strlen(text)) == 0")]),
    ("the battery property without its percent sign",
     "src/config/configuration_build.cpp",
     [("component.battery + \"%\"", "component.battery")]),
    ("Scan accepted while streaming",
     "src/session/connection.cpp",
     [("  if (context.state == BV_STATE_STREAMING) {\n"
       "    return Outcome::ScanWhileStreaming;\n  }\n", "")]),
]
