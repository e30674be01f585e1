#include "plugin/channel_layout.h"

#include <cstring>

#include "plugin/plugin_result.h"

namespace bvhost {

std::vector<ChannelInfo> channelLayout(const Configuration& config) {
  std::vector<ChannelInfo> channels;
  if (config.components == nullptr) {
    return channels;
  }
  for (std::uint64_t c = 0; c < config.componentCount; ++c) {
    const ComponentDescription& component = config.components[c];
    if (component.channels == nullptr) {
      continue;
    }
    for (std::uint64_t k = 0; k < component.channelCount; ++k) {
      const ChannelDescription& description = component.channels[k];
      ChannelInfo info;
      info.componentIndex = static_cast<std::size_t>(c);
      info.component = std::string(view(component.name));
      info.channel = std::string(view(description.name));
      info.unit = description.unit;
      info.rate = static_cast<double>(description.rate);
      info.samplesPerFrame = samplesPerFrame(info.rate);
      channels.push_back(std::move(info));
    }
  }
  return channels;
}

ChannelRouter::ChannelRouter(const std::vector<ChannelInfo>& channels) : channels_(channels) {
  for (const auto& info : channels_) {
    // A name holding a NUL can equal no C string; it is marked so, and every
    // other name kept NUL-terminated, so strcmp can decide in one pass over
    // the plug-in's text.
    const bool comparable = info.component.find('\0') == std::string::npos &&
                            info.channel.find('\0') == std::string::npos;
    names_.push_back({text_.size(), text_.size() + info.component.size() + 1, comparable});
    text_ += info.component;
    text_ += '\0';
    text_ += info.channel;
    text_ += '\0';
  }
}

std::optional<std::size_t> ChannelRouter::route(const char* component, const char* channel) {
  if (channels_.empty() || component == nullptr || channel == nullptr) {
    return std::nullopt;
  }
  auto matches = [&](std::size_t index) {
    const Names& names = names_[index];
    return names.comparable && std::strcmp(text_.data() + names.component, component) == 0 &&
           std::strcmp(text_.data() + names.channel, channel) == 0;
  };
  std::optional<std::size_t> found;
  if (matches(position_)) {
    found = position_;
  } else {
    for (std::size_t index = 0; index < channels_.size(); ++index) {
      if (matches(index)) {
        found = index;
        break;
      }
    }
  }
  if (found) {
    position_ = *found + 1;
    if (position_ == channels_.size()) {
      position_ = 0;
      ++frames_;
    }
  }
  return found;
}

}  // namespace bvhost
