// Who the live view lets in, decided from what a request says alone, so the
// rule can be read and tested apart from the server.
//
// On loopback the guard is the Host a request names: a web page elsewhere
// that has its own name resolve to 127.0.0.1 (DNS rebinding) reaches the
// server under that name, so only the names of this machine itself are
// served. Off loopback anyone on the network can connect under any name, and
// a list of names would keep no one out; the guard there is the run's token,
// which only whoever reads bvhost's output has.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bvhost {

struct LiveAccess {
  bool loopback = true;
  // Off loopback, what the page's address carries as ?token=.
  std::string token;
};

struct Refusal {
  int status = 403;
  std::string text;
};

namespace live_access_detail {

inline bool isDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A decimal number from 0 to `largest` as a browser writes it: no sign, no
// leading zero (which some readers take as octal).
inline bool isNumber(std::string_view text, unsigned largest, bool zero) {
  if (!isDigits(text) || text.size() > 5 || (text.size() > 1 && text.front() == '0')) {
    return false;
  }
  unsigned value = 0;
  for (const char digit : text) {
    value = value * 10 + static_cast<unsigned>(digit - '0');
  }
  return value <= largest && (zero || value != 0);
}

inline bool isLoopbackIpv4(std::string_view text) {
  int octets = 0;
  bool first = true;
  while (true) {
    const std::size_t dot = text.find('.');
    const std::string_view octet = text.substr(0, dot);
    if (!isNumber(octet, 255, true) || (first && octet != "127")) {
      return false;
    }
    first = false;
    ++octets;
    if (dot == std::string_view::npos) {
      return octets == 4;
    }
    text.remove_prefix(dot + 1);
  }
}

inline bool equalsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != lower[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace live_access_detail

// A Host header that names this machine by a loopback literal or by
// "localhost" (in any case, as names are), each with an optional port from 1
// to 65535: "127.0.0.1", "127.1.2.3:8642", "[::1]:8642", "LocalHost".
// Anything else is refused, "127.evil.example", "localhost.evil" and the
// short form "127.1" included.
inline bool isLoopbackHost(std::string_view host) {
  using namespace live_access_detail;
  std::string_view name = host;
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos) {
      return false;
    }
    name = host.substr(0, close + 1);
  } else {
    name = host.substr(0, host.find(':'));
  }
  const std::string_view rest = host.substr(name.size());
  if (!rest.empty() && (rest.front() != ':' || !isNumber(rest.substr(1), 65535, false))) {
    return false;
  }
  return name == "[::1]" || equalsIgnoringCase(name, "localhost") || isLoopbackIpv4(name);
}

// Compares every byte whatever the first difference, so how long a refusal
// takes tells nothing of how much of a guess was right.
inline bool sameToken(std::string_view expected, std::string_view given) {
  unsigned char difference = expected.size() == given.size() ? 0 : 1;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    difference |= static_cast<unsigned char>(expected[i]) ^
                  static_cast<unsigned char>(i < given.size() ? given[i] : 0);
  }
  return difference == 0;
}

// Nothing when the request may be served; otherwise the answer to give.
// `host` and `token` are absent when the request has no such header or
// parameter.
inline std::optional<Refusal> refusal(const LiveAccess& access,
                                      const std::optional<std::string>& host,
                                      const std::optional<std::string>& token) {
  if (!host || host->empty()) {
    return Refusal{400, "bvhost's live view needs the request to name its Host"};
  }
  if (access.loopback) {
    if (!isLoopbackHost(*host)) {
      return Refusal{403, "bvhost's live view answers only to 127.0.0.1, [::1] or localhost"};
    }
    return std::nullopt;
  }
  if (access.token.empty() || !token || !sameToken(access.token, *token)) {
    return Refusal{403, "bvhost's live view needs the address it printed, ?token=... included"};
  }
  return std::nullopt;
}

}  // namespace bvhost
