// What bvhost knows of one sensor of a recording once the plug-in has
// described it: its name and its properties as texts, copied out of the
// plug-in's tree so they outlive it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace bvhost {

struct SensorInfo {
  std::string name;
  // Name and value text of each property, in the plug-in's order.
  std::vector<std::pair<std::string, std::string>> properties;
};

}  // namespace bvhost
