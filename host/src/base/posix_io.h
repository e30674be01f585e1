// System calls as bvhost means them: a call that a signal interrupts
// (EINTR) is made again, and a transfer that moves fewer bytes than asked
// goes on where it stopped, so no caller has to loop. None throws; all but
// pollUntil return 0 or the errno of the failure.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace bvhost {

// All `size` bytes to fd's current position. A write that moves nothing
// counts as EIO. `written`, when given, gets how many bytes reached the file,
// also on failure. Uses write(2) alone, so a signal handler may call it.
int writeAll(int fd, const void* data, std::size_t size, std::size_t* written = nullptr) noexcept;

// All `size` bytes at `offset`; a write that moves nothing counts as EIO.
int writeAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset) noexcept;

// Up to `size` bytes from `offset`, fewer only where the file ends; `got`
// says how many arrived.
int readUpTo(int fd, void* data, std::size_t size, std::uint64_t offset, std::size_t& got) noexcept;

// All `size` bytes from `offset`: the file ending before them is EIO.
int readAllAt(int fd, void* data, std::size_t size, std::uint64_t offset) noexcept;

// One read(2) from fd's current position, for pipes and the like; `got` is
// 0 at the end of the input.
int readSome(int fd, void* data, std::size_t size, std::size_t& got) noexcept;

// poll(2) of one descriptor until it is ready or `deadline` passes, the
// time left recounted after each interruption. Returns poll's answer: 1
// when ready (entry.revents says how), 0 at the deadline, -1 with errno.
int pollUntil(pollfd& entry, std::chrono::steady_clock::time_point deadline) noexcept;

// Waits for the child `pid` to end and gives its status.
int waitForChild(pid_t pid, int& status) noexcept;

// `size` bytes from the kernel's random generator, blocking until it is
// seeded; no weaker source stands in for it.
int fillRandom(void* data, std::size_t size) noexcept;

}  // namespace bvhost
