#include "live/marker_rules.h"

#include <algorithm>
#include <cstdint>

namespace bvhost {
namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool isDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Methods whose requests carry no body unless they give its length.
bool bodiless(std::string_view method) {
  return method == "GET" || method == "HEAD" || method == "OPTIONS";
}

Refusal refused(int status, std::string why) {
  return Refusal{status, "refused: " + std::move(why)};
}

const char* const kFromThePage =
    "a marker is taken only from the live page bvhost served, not from another site";

// The JSON the page sends, read by hand: one object, one member.
class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  void skipSpace() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }
  bool take(char c) {
    skipSpace();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool atEnd() {
    skipSpace();
    return at_ == text_.size();
  }

  std::optional<std::string> string() {
    if (!take('"')) {
      return std::nullopt;
    }
    std::string out;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') {
        return out;
      }
      if (static_cast<unsigned char>(c) < 0x20) {
        return std::nullopt;  // JSON has these only escaped
      }
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ == text_.size()) {
        return std::nullopt;
      }
      const char escaped = text_[at_++];
      switch (escaped) {
        case '"':
        case '\\':
        case '/':
          out += escaped;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u':
          if (!codePoint(out)) {
            return std::nullopt;
          }
          break;
        default:
          return std::nullopt;
      }
    }
    return std::nullopt;
  }

 private:
  std::optional<std::uint32_t> hex4() {
    if (text_.size() - at_ < 4) {
      return std::nullopt;
    }
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<std::uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        return std::nullopt;
      }
    }
    return value;
  }

  // After "\u": one code point, a surrogate pair counting as one. A lone
  // surrogate has no UTF-8 form, so it makes the body unreadable rather
  // than a text with a hole.
  bool codePoint(std::string& out) {
    auto unit = hex4();
    if (!unit) {
      return false;
    }
    std::uint32_t point = *unit;
    if (point >= 0xDC00 && point <= 0xDFFF) {
      return false;
    }
    if (point >= 0xD800 && point <= 0xDBFF) {
      if (text_.substr(at_, 2) != "\\u") {
        return false;
      }
      at_ += 2;
      const auto low = hex4();
      if (!low || *low < 0xDC00 || *low > 0xDFFF) {
        return false;
      }
      point = 0x10000 + ((point - 0xD800) << 10) + (*low - 0xDC00);
    }
    if (point < 0x80) {
      out += static_cast<char>(point);
    } else if (point < 0x800) {
      out += static_cast<char>(0xC0 | (point >> 6));
      out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      out += static_cast<char>(0xE0 | (point >> 12));
      out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (point >> 18));
      out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (point & 0x3F));
    }
    return true;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

std::optional<Refusal> bodyRefusal(std::string_view method, const BodyHeaders& headers) {
  if (headers.transferEncoding) {
    return refused(411, "bvhost's live view reads a body only of the Content-Length given");
  }
  if (!headers.contentLength) {
    if (bodiless(method)) {
      return std::nullopt;
    }
    return refused(411, "bvhost's live view reads a body only of the Content-Length given");
  }
  const std::string_view length = *headers.contentLength;
  if (!isDigits(length)) {
    return refused(400, "the Content-Length is not a number");
  }
  const std::size_t digits = length.size() - std::min(length.find_first_not_of('0'), length.size());
  if (digits > 5 || std::stoul(std::string(length)) > kMaxRequestBody) {
    return refused(413, "a request to bvhost's live view has a body of at most " +
                            std::to_string(kMaxRequestBody) + " bytes");
  }
  return std::nullopt;
}

bool mayHaveBody(std::string_view method, const BodyHeaders& headers) {
  if (headers.transferEncoding) {
    return true;
  }
  if (!headers.contentLength) {
    return !bodiless(method);
  }
  return !isDigits(*headers.contentLength) ||
         headers.contentLength->find_first_not_of('0') != std::string::npos;
}

std::optional<Refusal> markerRefusal(std::string_view markerToken, const MarkerHeaders& headers) {
  // Browsers send an Origin with every POST, the page's own included; only
  // another program leaves it out, and that one can send the right one.
  if (!headers.origin || !sameIgnoringCase(*headers.origin, "http://" + headers.host)) {
    return refused(403, kFromThePage);
  }
  if (headers.fetchSite && *headers.fetchSite != "same-origin") {
    return refused(403, kFromThePage);
  }
  if (markerToken.empty() || !headers.token || !sameToken(markerToken, *headers.token)) {
    return refused(403, "this page's marker token is not this run's; reload the page");
  }
  const std::string_view type =
      headers.contentType
          ? trimmed(
                std::string_view(*headers.contentType).substr(0, headers.contentType->find(';')))
          : std::string_view();
  if (!sameIgnoringCase(type, "application/json")) {
    return refused(415, "a marker is posted as application/json");
  }
  return std::nullopt;
}

std::optional<std::string> markerTextFromJson(std::string_view body) {
  JsonReader reader(body);
  if (!reader.take('{')) {
    return std::nullopt;
  }
  reader.skipSpace();
  const auto key = reader.string();
  if (!key || *key != "text" || !reader.take(':')) {
    return std::nullopt;
  }
  reader.skipSpace();
  auto text = reader.string();
  if (!text || !reader.take('}') || !reader.atEnd()) {
    return std::nullopt;
  }
  return text;
}

bool MarkerRate::take(Clock::time_point now) {
  if (last_) {
    const double seconds = std::chrono::duration<double>(now - *last_).count();
    allowance_ = std::min(kBurst, allowance_ + std::max(seconds, 0.0) * kPerSecond);
  }
  last_ = now;
  if (allowance_ < 1.0) {
    return false;
  }
  allowance_ -= 1.0;
  return true;
}

}  // namespace bvhost
