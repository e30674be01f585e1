#include "recording/read_pacing.h"

#include <algorithm>

namespace bvhost {

void ReadPacing::noteRead(Clock::time_point before, Clock::time_point after, bool delivered) {
  if (!delivered) {
    if (next_) {
      if (before >= next_->by) {
        // Due by now yet not there: the device is off its rhythm. Poll
        // until a frame pins it again.
        next_.reset();
      } else {
        next_->after = std::max(next_->after, before);
      }
    }
    lastEmptyRead_ = before;
    return;
  }
  if (!lastEmptyRead_) {
    next_.reset();
    return;
  }
  // This frame fell due after the empty read began and before this read
  // ended; within the window expected for it, if that is narrower.
  Window due{*lastEmptyRead_, after};
  if (next_ && next_->after < due.by && due.after < next_->by) {
    due.after = std::max(due.after, next_->after);
    due.by = std::min(due.by, next_->by);
  }
  next_ = Window{due.after + kFramePeriod, due.by + kFramePeriod};
  lastEmptyRead_.reset();
}

ReadPacing::Clock::time_point ReadPacing::nextRead(Clock::time_point now) const {
  if (next_ && next_->by > now) {
    return std::min(next_->by, now + kFramePeriod);
  }
  return now + kPollInterval;
}

}  // namespace bvhost
