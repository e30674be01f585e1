#include "settings.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>
#include <system_error>
#include <vector>

namespace orvane_sim {
namespace {

template <typename Number>
std::optional<Number> parseWhole(std::string_view text) {
  Number value{};
  const char* end = text.data() + text.size();
  auto [rest, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || rest != end || text.empty()) {
    return std::nullopt;
  }
  return value;
}

// The variables are read again on every open; a host that leaves a typo in
// place should hear about it once, not on every connect.
// `verdict` says what became of the value, e.g. "ignoring" or "clamping".
void noticeOnce(const char* variable, std::string_view value, std::string_view fallback,
                const char* verdict = "ignoring") {
  static std::map<std::string, std::string> reported;
  auto& last = reported[variable];
  if (last == value) {
    return;
  }
  last = std::string(value);
  std::fprintf(stderr, "Orvane Kessra simulator: %s %s=\"%.*s\", using %.*s\n", verdict, variable,
               static_cast<int>(value.size()), value.data(), static_cast<int>(fallback.size()),
               fallback.data());
}

// Unset and empty both mean "not given": shells make the two hard to tell apart.
std::optional<std::string_view> variable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    return std::nullopt;
  }
  return std::string_view(value);
}

// A whole number out of range is still clearly a count, so it is clamped to
// the nearest the station can pair rather than replaced by the default;
// only text that is not a number falls back.
void readSensorCount(std::string_view text, Settings& settings) {
  long long count = 0;
  const char* end = text.data() + text.size();
  auto [rest, error] = std::from_chars(text.data(), end, count);
  if (rest != end || (error != std::errc() && error != std::errc::result_out_of_range)) {
    noticeOnce("ORVANE_SIM_SENSORS", text,
               std::to_string(kDefaultSensors) + " sensors (expected a whole number 1 to 16)");
    return;
  }
  const bool negative = text.front() == '-';
  if (error == std::errc() && count >= 1 && count <= kMaxSensors) {
    settings.sensors = static_cast<int>(count);
    return;
  }
  settings.sensors = negative || (error == std::errc() && count < 1) ? 1 : kMaxSensors;
  noticeOnce("ORVANE_SIM_SENSORS", text,
             std::to_string(settings.sensors) + (settings.sensors == 1 ? " sensor" : " sensors") +
                 ", the nearest of 1 to 16",
             "clamping");
}

void readSignalOptions(SignalOptions& options) {
  if (auto text = variable("ORVANE_SIM_PATTERN")) {
    if (*text == "sustained" || *text == "bursts") {
      options.sustained = *text == "sustained";
    } else {
      noticeOnce("ORVANE_SIM_PATTERN", *text, "bursts (expected bursts or sustained)");
    }
  }
  if (auto text = variable("ORVANE_SIM_MAINS")) {
    if (*text == "50" || *text == "60" || *text == "off") {
      options.mainsHz = *text == "off" ? 0 : *parseWhole<int>(*text);
    } else {
      noticeOnce("ORVANE_SIM_MAINS", *text, "off (expected 50, 60 or off)");
    }
  }
  if (auto text = variable("ORVANE_SIM_MOTION")) {
    if (*text == "on" || *text == "off") {
      options.motion = *text == "on";
    } else {
      noticeOnce("ORVANE_SIM_MOTION", *text, "off (expected on or off)");
    }
  }
}

std::vector<std::string_view> colonFields(std::string_view text) {
  std::vector<std::string_view> fields;
  for (std::size_t from = 0;;) {
    const std::size_t colon = text.find(':', from);
    fields.push_back(text.substr(from, colon - from));
    if (colon == std::string_view::npos) {
      return fields;
    }
    from = colon + 1;
  }
}

std::optional<Dropout> parseDropout(std::string_view text, int sensors) {
  const auto fields = colonFields(text);
  if (fields.size() != 3) {
    return std::nullopt;
  }
  const auto sensor = parseWhole<int>(fields[0]);
  const auto first = parseWhole<std::uint64_t>(fields[1]);
  const auto count = parseWhole<std::uint64_t>(fields[2]);
  if (!sensor || !first || !count || *sensor < 1 || *sensor > sensors || *count == 0) {
    return std::nullopt;
  }
  return Dropout{*sensor, *first, *count};
}

std::optional<Outage> parseOutage(std::string_view text) {
  const auto fields = colonFields(text);
  if (fields.size() != 2) {
    return std::nullopt;
  }
  const auto first = parseWhole<std::uint64_t>(fields[0]);
  const auto count = parseWhole<std::uint64_t>(fields[1]);
  if (!first || !count || *count == 0) {
    return std::nullopt;
  }
  return Outage{*first, *count};
}

// Plain decimal only, an explicit sign allowed: "1e2", "inf" and hex floats
// are not how anyone writes a crystal's error, so they are taken for typos.
std::optional<double> parsePpm(std::string_view text) {
  if (text.starts_with('+')) {
    text.remove_prefix(1);
    if (text.starts_with('-')) {
      return std::nullopt;
    }
  }
  double ppm = 0;
  const char* end = text.data() + text.size();
  auto [rest, error] = std::from_chars(text.data(), end, ppm, std::chars_format::fixed);
  if (text.empty() || error != std::errc() || rest != end || !std::isfinite(ppm) ||
      std::abs(ppm) > kMaxClockPpm) {
    return std::nullopt;
  }
  return ppm == 0 ? 0.0 : ppm;  // no "-0" in the settings query
}

void readSchedule(Schedule& schedule) {
  if (auto text = variable("ORVANE_SIM_OUTAGE")) {
    schedule.outage = parseOutage(*text);
    if (!schedule.outage) {
      noticeOnce("ORVANE_SIM_OUTAGE", *text,
                 "no outage (expected first-frame:frame-count, count at least 1)");
    }
  }
  if (auto text = variable("ORVANE_SIM_BACKLOG")) {
    const auto frames = parseWhole<std::uint64_t>(*text);
    if (frames && *frames >= 1 && *frames <= kBacklogLimit) {
      schedule.backlog = *frames;
    } else {
      noticeOnce("ORVANE_SIM_BACKLOG", *text,
                 std::to_string(kBacklogLimit) + " frames (expected a whole number 1 to " +
                     std::to_string(kBacklogLimit) + ")");
    }
  }
  if (auto text = variable("ORVANE_SIM_CLOCK_PPM")) {
    if (const auto ppm = parsePpm(*text)) {
      schedule.clockPpm = *ppm;
    } else {
      noticeOnce("ORVANE_SIM_CLOCK_PPM", *text,
                 "0 ppm (expected a decimal number from -10000 to 10000)");
    }
  }
}

// The shortest text that reads back as the same number: "2.5", "-100", "0".
std::string decimal(double value) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : std::to_string(value);
}

}  // namespace

Settings readSettings() {
  Settings settings;
  if (auto text = variable("ORVANE_SIM_SENSORS")) {
    readSensorCount(*text, settings);
  }
  if (auto text = variable("ORVANE_SIM_SEED")) {
    if (const auto seed = parseWhole<std::uint64_t>(*text)) {
      settings.seed = *seed;
    } else {
      noticeOnce("ORVANE_SIM_SEED", *text, "seed 1 (expected a decimal number)");
    }
  }
  if (auto text = variable("ORVANE_SIM_DROPOUT")) {
    settings.dropout = parseDropout(*text, settings.sensors);
    if (!settings.dropout) {
      noticeOnce("ORVANE_SIM_DROPOUT", *text,
                 "no dropout (expected sensor:first-frame:frame-count, sensor 1 to the "
                 "sensor count, count at least 1)");
    }
  }
  readSignalOptions(settings.signals);
  readSchedule(settings.schedule);
  if (auto text = variable("ORVANE_SIM_START_LOG")) {
    settings.startLog = std::string(*text);
  }
  return settings;
}

std::string describe(const Settings& settings) {
  std::string text =
      "sensors=" + std::to_string(settings.sensors) + " seed=" + std::to_string(settings.seed);
  if (settings.dropout) {
    text += " dropout=" + std::to_string(settings.dropout->sensor) + ":" +
            std::to_string(settings.dropout->firstFrame) + ":" +
            std::to_string(settings.dropout->frameCount);
  } else {
    text += " dropout=none";
  }
  text += settings.signals.sustained ? " pattern=sustained" : " pattern=bursts";
  text += settings.signals.mainsHz == 0 ? std::string(" mains=off")
                                        : " mains=" + std::to_string(settings.signals.mainsHz);
  text += settings.signals.motion ? " motion=on" : " motion=off";
  const Schedule& schedule = settings.schedule;
  text += schedule.outage ? " outage=" + std::to_string(schedule.outage->firstFrame) + ":" +
                                std::to_string(schedule.outage->frameCount)
                          : std::string(" outage=none");
  text += " backlog=" + std::to_string(schedule.backlog);
  text += " clock_ppm=" + decimal(schedule.clockPpm);
  return text;
}

}  // namespace orvane_sim
