// How the threads that take markers are told to stop.
#pragma once

namespace bvhost {

// A pipe whose reading end a thread polls beside its work, so another
// thread can wake it to stop; both ends close-on-exec and non-blocking.
class WakePipe {
 public:
  // Throws std::system_error when the system has no descriptors left.
  WakePipe();
  ~WakePipe();
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;

  // Safe from any thread, any number of times.
  void wake() noexcept;
  int readEnd() const { return fds_[0]; }

 private:
  int fds_[2] = {-1, -1};
};

}  // namespace bvhost
