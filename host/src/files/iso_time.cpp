#include "files/iso_time.h"

#include <cstdio>
#include <ctime>

namespace bvhost {

std::string isoTime(std::chrono::system_clock::time_point time) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(time - seconds).count();
  const std::time_t whole = std::chrono::system_clock::to_time_t(seconds);
  std::tm local{};
  localtime_r(&whole, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  char zone[8];
  std::strftime(zone, sizeof zone, "%z", &local);
  const std::string offset = std::string(zone).size() == 5 ? std::string(zone).substr(0, 3) + ":" +
                                                                 std::string(zone).substr(3)
                                                           : std::string(zone);
  char text[64];
  std::snprintf(text, sizeof text, "%s.%06lld%s", date, static_cast<long long>(micros),
                offset.c_str());
  return text;
}

}  // namespace bvhost
