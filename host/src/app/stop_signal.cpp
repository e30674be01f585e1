#include "app/stop_signal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <memory>
#include <vector>

#include "base/exit_codes.h"
#include "base/posix_io.h"
#include "files/annotation_journal.h"

namespace bvhost {
namespace {

// What a handler may read of the files: published whole, never changed after.
struct PartialList {
  std::vector<std::string> files;
  std::vector<std::string> journals;
};

// Atomics rather than volatile flags: the plug-in's own threads may take the
// signal, and the recording thread must still see it.
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<const PartialList*>::is_always_lock_free);

std::atomic<int> stopSignal{0};
std::atomic<bool> finishing{false};
std::atomic<const PartialList*> partialList{nullptr};
// Every list published stays until the handlers are gone, since a handler in
// another thread may still be reading the one before the latest.
std::vector<std::unique_ptr<PartialList>> publishedLists;
// The live progress line may be on the screen: a message first clears it.
bool onTerminal = false;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kStopSignalCount = std::size(kStopSignals);
struct sigaction previous[kStopSignalCount];
struct sigaction previousFileSize;

// Everything below runs in the handler: write(2), stat(2), unlink(2) and
// _exit(2) only, and no allocation. What cannot be written is dropped.
void say(const char* text, std::size_t length) { writeAll(STDERR_FILENO, text, length); }

void say(const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0') {
    ++length;
  }
  say(text, length);
}

void say(const std::string& text) { say(text.data(), text.size()); }

void startLine() {
  if (onTerminal) {
    say("\r\033[K");
  }
}

const char* nameOf(int number) {
  switch (number) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal";
  }
}

bool exists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

[[noreturn]] void endAtOnce(int number) {
  startLine();
  say("bvhost: a second ");
  say(nameOf(number));
  say(" ended bvhost at once, before the plug-in had finished.\n");
  bool named = false;
  bool removed = false;
  if (const PartialList* list = partialList.load(); list != nullptr) {
    for (std::size_t i = 0; i < list->files.size(); ++i) {
      const std::string& file = list->files[i];
      const std::string& journal = list->journals[i];
      struct stat status {};
      if (::stat(file.c_str(), &status) != 0) {
        continue;  // removed already, by a run that failed before streaming
      }
      if (status.st_size == 0) {
        // Nothing of the recording reached it, and repair could make
        // nothing of it.
        ::unlink(file.c_str());
        ::unlink(journal.c_str());
        removed = true;
        continue;
      }
      if (!named) {
        say("The recording is left unfinished in\n");
        named = true;
      }
      say("  ");
      say(file);
      if (exists(journal)) {
        say(" (its annotations in ");
        say(journal);
        say(")");
      }
      say("\n");
    }
  }
  if (named) {
    say("'bvhost repair FILE' completes each and gives it the name it was meant to have.\n");
  } else {
    say(removed ? "No file is left: nothing had reached the disk yet.\n" : "No file is left.\n");
  }
  ::_exit(kExitLeftPartial);
}

void onSignal(int number) {
  const int savedErrno = errno;
  if (finishing.load()) {
    // The plug-in is done; what is left is completing the files, which a
    // second Ctrl-C must not cut short into partial ones.
    startLine();
    const PartialList* list = partialList.load();
    say(list != nullptr && !list->files.empty()
            ? "bvhost: the plug-in has stopped; the files are being completed, a moment\n"
            : "bvhost: the plug-in has stopped; ending in a moment\n");
    errno = savedErrno;
    return;
  }
  int none = 0;
  if (!stopSignal.compare_exchange_strong(none, number)) {
    endAtOnce(number);
  }
  if (onTerminal) {
    // A plug-in that takes its time to stop would otherwise leave a person
    // looking at nothing, not knowing what a second Ctrl-C does.
    const PartialList* list = partialList.load();
    startLine();
    say("bvhost: stopping (");
    say(nameOf(number));
    say(list != nullptr && !list->files.empty()
            ? "); a second signal ends bvhost at once and leaves the files partial\n"
            : "); a second signal ends bvhost at once\n");
  }
  errno = savedErrno;
}

}  // namespace

StopSignals::StopSignals() {
  stopSignal = 0;
  finishing = false;
  partialList = nullptr;
  onTerminal = ::isatty(STDERR_FILENO) == 1;
  struct sigaction action {};
  action.sa_handler = &onSignal;
  sigemptyset(&action.sa_mask);
  // One handler at a time in a thread: a second signal waits for the first's.
  for (const int number : kStopSignals) {
    sigaddset(&action.sa_mask, number);
  }
  // No SA_RESTART: the idle sleep should end at once when a stop is asked.
  action.sa_flags = 0;
  for (std::size_t i = 0; i < kStopSignalCount; ++i) {
    // Closing the terminal a recording runs in ends it as cleanly as Ctrl-C,
    // unless whoever started bvhost chose otherwise: nohup ignores SIGHUP,
    // and a script's `cmd &` ignores SIGINT.
    sigaction(kStopSignals[i], nullptr, &previous[i]);
    if (previous[i].sa_handler != SIG_IGN) {
      sigaction(kStopSignals[i], &action, nullptr);
    }
  }
  // A file that reaches the size limit must fail its write, which the
  // recording reports and survives, rather than end the process mid-record.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &previousFileSize);
}

StopSignals::~StopSignals() {
  // After a stop the process only reports and exits; a signal now, however
  // slow that exit, must not turn the first signal's code into a death by
  // the second.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (std::size_t i = 0; i < kStopSignalCount; ++i) {
    const bool stopped = stopSignal != 0 && previous[i].sa_handler != SIG_IGN;
    sigaction(kStopSignals[i], stopped ? &ignore : &previous[i], nullptr);
  }
  sigaction(SIGXFSZ, &previousFileSize, nullptr);
  partialList = nullptr;
  publishedLists.clear();
}

void StopSignals::addPartialFile(const std::string& path) {
  auto list = std::make_unique<PartialList>();
  if (const PartialList* current = partialList.load(); current != nullptr) {
    *list = *current;
  }
  list->files.push_back(path);
  list->journals.push_back(journalPathFor(path));
  partialList = list.get();
  publishedLists.push_back(std::move(list));
}

void StopSignals::beginFinishing() { finishing = true; }

int StopSignals::received() { return stopSignal; }

}  // namespace bvhost
