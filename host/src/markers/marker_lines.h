// Markers arrive as lines of a byte stream (a pipe, a terminal, a socket),
// split here the same way for each.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace bvhost {

// Longer lines are refused rather than held: a sender that never ends its
// line must not make bvhost hold ever more of it.
inline constexpr std::size_t kMaxMarkerLine = 4096;

class MarkerLines {
 public:
  explicit MarkerLines(std::size_t maxLineBytes = kMaxMarkerLine) : max_(maxLineBytes) {}

  // Calls each(line) for every line the bytes complete, without its "\n"
  // or a "\r" before it. A line that outgrows the limit is given once, as
  // soon as it does, to tooLong(), and its bytes up to the next "\n" are
  // dropped.
  template <class Each, class TooLong>
  void feed(std::string_view bytes, Each&& each, TooLong&& tooLong);

  // At the end of the stream: a last line that never got its "\n" is
  // still a line, since `printf text | ...` sends just that.
  template <class Each>
  void finish(Each&& each);

  std::size_t limit() const { return max_; }
  // Bytes of an unfinished line held now.
  std::size_t held() const { return partial_.size(); }

 private:
  static std::string_view withoutCr(std::string_view line) {
    return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
  }

  std::size_t max_;
  std::string partial_;
  bool dropping_ = false;
};

template <class Each, class TooLong>
void MarkerLines::feed(std::string_view bytes, Each&& each, TooLong&& tooLong) {
  while (!bytes.empty()) {
    const std::size_t newline = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, newline);
    const std::size_t length = partial_.size() + piece.size();
    // A "\r" that ends what is there may be the one before a "\n", and
    // counts for nothing then; if more follows, the next feed counts it.
    const bool endsInCr = length > 0 && (piece.empty() ? partial_.back() : piece.back()) == '\r';
    if (dropping_) {
      // Nothing of it is held.
    } else if (length - (endsInCr ? 1 : 0) > max_) {
      dropping_ = true;
      partial_.clear();
      tooLong();
    } else if (newline != bytes.npos && partial_.empty()) {
      each(withoutCr(piece));
    } else {
      partial_ += piece;
      if (newline != bytes.npos) {
        each(withoutCr(partial_));
        partial_.clear();
      }
    }
    if (newline == bytes.npos) {
      return;
    }
    dropping_ = false;
    bytes.remove_prefix(newline + 1);
  }
}

template <class Each>
void MarkerLines::finish(Each&& each) {
  if (!dropping_ && !partial_.empty()) {
    each(withoutCr(partial_));
  }
  partial_.clear();
  dropping_ = false;
}

}  // namespace bvhost
