#include "live/view_events.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/frame_period.h"
#include "base/units.h"

namespace bvhost {
namespace {

void appendNumber(std::string& out, double value, int digits) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char text[32];
  const auto end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits);
  out.append(text, end.ptr);
}

void appendEvent(std::string& out, const char* name, const std::string& json) {
  out += "event: ";
  out += name;
  out += "\ndata: ";
  out += json;
  out += "\n\n";
}

// The channels a browser draws with an envelope: those of muscle voltage.
bool isVoltage(std::int32_t unit) {
  const std::string dimension = edfDimension(unit);
  return dimension == "V" || dimension == "mV";
}

void appendChannel(std::string& out, const ChannelInfo& channel) {
  out += "{\"sensor\":" + std::to_string(channel.componentIndex);
  out += ",\"name\":" + jsonString(channel.channel);
  out += ",\"unit\":" + jsonString(edfDimension(channel.unit));
  out += ",\"rate\":";
  appendNumber(out, channel.rate, 7);
  out += ",\"envelope\":";
  out += isVoltage(channel.unit) ? "true" : "false";
  out += '}';
}

void appendSensor(std::string& out, const ViewSensor& sensor) {
  out += "{\"name\":" + jsonString(sensor.name) + ",\"properties\":[";
  for (std::size_t i = 0; i < sensor.properties.size(); ++i) {
    out += i == 0 ? "[" : ",[";
    out += jsonString(sensor.properties[i].first) + "," + jsonString(sensor.properties[i].second);
    out += ']';
  }
  out += "]}";
}

// Four digits are finer than a screen's pixel column resolves.
void appendColumn(std::string& out, const ViewColumn& column, bool envelope) {
  if (column.count == 0) {
    out += envelope ? "null,null,null" : "null,null";
    return;
  }
  appendNumber(out, column.min, 4);
  out += ',';
  appendNumber(out, column.max, 4);
  if (envelope) {
    out += ',';
    appendNumber(out, std::sqrt(column.sumSquares / static_cast<float>(column.count)), 4);
  }
}

}  // namespace

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string infoEvent(const ViewSetup& setup, bool markers) {
  std::string json = "{\"plugin\":" + jsonString(setup.plugin) + ",\"framePeriod\":";
  appendNumber(json, kFramePeriodSeconds, 6);
  json += ",\"outputs\":[";
  for (std::size_t i = 0; i < setup.outputs.size(); ++i) {
    json += (i == 0 ? "" : ",") + jsonString(setup.outputs[i]);
  }
  json += "],\"sensors\":[";
  for (std::size_t i = 0; i < setup.sensors.size(); ++i) {
    json += i == 0 ? "" : ",";
    appendSensor(json, setup.sensors[i]);
  }
  json += "],\"channels\":[";
  for (std::size_t i = 0; i < setup.channels.size(); ++i) {
    json += i == 0 ? "" : ",";
    appendChannel(json, setup.channels[i]);
  }
  json += std::string("],\"markers\":") + (markers ? "true" : "false") + "}";
  std::string out;
  appendEvent(out, "info", json);
  return out;
}

std::vector<bool> envelopeChannels(const std::vector<ChannelInfo>& channels) {
  std::vector<bool> envelope;
  for (const auto& channel : channels) {
    envelope.push_back(isVoltage(channel.unit));
  }
  return envelope;
}

std::string framesEvent(const ViewBatch& batch, const std::vector<bool>& envelope) {
  std::string json = "{\"first\":" + std::to_string(batch.firstFrame) +
                     ",\"count\":" + std::to_string(batch.frames()) + ",\"channels\":[";
  json.reserve(batch.columns.size() * 24 + 64);
  for (std::size_t channel = 0; channel < batch.channels; ++channel) {
    json += channel == 0 ? "[" : ",[";
    for (std::size_t frame = 0; frame < batch.frames(); ++frame) {
      if (frame != 0) {
        json += ',';
      }
      appendColumn(json, batch.at(frame, channel), channel < envelope.size() && envelope[channel]);
    }
    json += ']';
  }
  json += "]}";
  std::string out;
  appendEvent(out, "frames", json);
  return out;
}

std::string statusEvent(const ViewStatus& status, const std::vector<double>& frameRates,
                        std::uint64_t droppedFrames, std::uint64_t droppedMarkers) {
  std::string json = "{\"elapsed\":";
  appendNumber(json, status.elapsedSeconds, 6);
  json += ",\"target\":";
  appendNumber(json, status.targetSeconds, 6);
  json += ",\"frames\":" + std::to_string(status.frames);
  json += std::string(",\"writing\":") + (status.writing ? "true" : "false");
  json += std::string(",\"ended\":") + (status.ended ? "true" : "false");
  json += ",\"viewDroppedFrames\":" + std::to_string(droppedFrames);
  json += ",\"viewDroppedMarkers\":" + std::to_string(droppedMarkers);
  json += ",\"failure\":" + (status.failure.empty() ? "null" : jsonString(status.failure));
  json += ",\"sensors\":[";
  for (std::size_t sensor = 0; sensor < status.silences.size(); ++sensor) {
    json += sensor == 0 ? "{\"frameRate\":" : ",{\"frameRate\":";
    appendNumber(json, sensor < frameRates.size() ? frameRates[sensor] : 0.0, 5);
    json += ",\"silences\":[";
    const auto& silences = status.silences[sensor];
    for (std::size_t i = 0; i < silences.size(); ++i) {
      json += i == 0 ? "[" : ",[";
      appendNumber(json, silences[i].onsetSeconds, 8);
      json += ',';
      appendNumber(json, silences[i].durationSeconds, 8);
      json += ']';
    }
    json += "],\"silenceCount\":";
    json += std::to_string(sensor < status.silenceCounts.size() ? status.silenceCounts[sensor]
                                                                : silences.size());
    json += ",\"silentSince\":";
    const double open =
        sensor < status.openSilenceOnset.size() ? status.openSilenceOnset[sensor] : -1.0;
    appendNumber(json, open >= 0.0 ? open : NAN, 8);
    json += '}';
  }
  json += "]}";
  std::string out;
  appendEvent(out, "status", json);
  return out;
}

// Ten digits keep an onset to well under a millisecond through a day-long
// run, finer than the frames the page draws it among.
std::string markerEvent(const ViewMarker& marker) {
  std::string json = "{\"onset\":";
  appendNumber(json, marker.onsetSeconds, 10);
  json += ",\"text\":" + jsonString(marker.text) + "}";
  std::string out;
  appendEvent(out, "marker", json);
  return out;
}

}  // namespace bvhost
