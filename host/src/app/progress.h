// The live status line of a recording, drawn on stderr only when stderr is a
// terminal, so logs and pipes get no carriage-return clutter.
//
// While markers are typed into the same terminal, the line is drawn on the
// row above the cursor instead of on the cursor's own row: the terminal
// echoes what is typed where the cursor is, and a line redrawn there would
// wipe the text being typed several times a second. Each entered marker
// stays on the screen, with its reply under it when it has one, and the
// status line moves below them.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace bvhost {

class ProgressLine {
 public:
  ProgressLine();
  // Whether anything is drawn; callers can then skip gathering the figures.
  bool enabled() const { return enabled_; }
  // Markers are typed into this terminal: the line says so, and is drawn
  // above the typing. Before the first update.
  void allowTyping();
  bool typing() const { return enabled_ && typing_; }

  void update(double elapsedSeconds, double targetSeconds, std::uint64_t frames,
              std::uint64_t samples);
  // From any thread: a typed line was entered (the terminal has echoed it
  // and moved the cursor to the next row); `reply`, unless empty, goes
  // under it. Without a line drawn, `reply` is printed as print() does.
  void lineEntered(std::string_view reply);
  // From any thread: `line` on stderr as a line of its own, the status
  // line, if drawn, below it.
  void print(std::string_view line);
  // Clears the line before the summary is printed.
  void finish();

 private:
  void draw(const std::string& text);
  std::string fitted(std::string text) const;

  std::mutex mutex_;
  bool enabled_;
  bool typing_ = false;
  bool drawn_ = false;
  bool finished_ = false;
  std::string last_;
  std::chrono::steady_clock::time_point lastDrawn_;
};

}  // namespace bvhost
