// A progress bar on standard error for the commands that run a network over a whole recording.
//
// Drawn only when standard error is a terminal, once the run has lasted long enough to be worth
// watching (half a second), and at most ten times a second; a run over a stream whose end is not
// known shows the frames done. Lines that other code writes to the
// terminal meanwhile should go through LineClearingBuffer, which wipes the bar first so that the
// line starts clean; the bar is drawn again on its next update.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <streambuf>
#include <string>

namespace velktool {

class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled && isatty(STDERR_FILENO)), start_(Clock::now()) {}
  ~ProgressBar() { finish(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void update(long done, long total) {
    if (!enabled_) return;
    const auto now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(500) ||
        (drawn_ && now - last_ < std::chrono::milliseconds(100) && (total < 0 || done < total)))
      return;
    last_ = now;
    drawn_ = true;
    if (total < 0) {
      // A stream whose end is not known yet: how far it has come.
      std::fprintf(stderr, "\r\033[K%ld frames", done);
      std::fflush(stderr);
      return;
    }
    const int width = 40;
    const int filled = total > 0 ? static_cast<int>(width * done / total) : width;
    std::fprintf(stderr, "\r[%s%s] %3ld%% %ld/%ld frames", std::string(filled, '#').c_str(),
                 std::string(width - filled, ' ').c_str(), total > 0 ? 100 * done / total : 100L, done, total);
    std::fflush(stderr);
  }

  // Wipes the bar from its line (it comes back on the next update).
  void clearLine() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    drawn_ = false;
  }

  void finish() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
  }

  bool enabled() const { return enabled_; }

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_, drawn_ = false;
  Clock::time_point start_, last_;
};

// Forwards characters to `target`, clearing the progress bar before the first character of each
// line.
class LineClearingBuffer : public std::streambuf {
 public:
  LineClearingBuffer(std::streambuf* target, ProgressBar& bar) : target_(target), bar_(bar) {}

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    if (lineStart_) bar_.clearLine();
    lineStart_ = c == '\n';
    return target_->sputc(static_cast<char>(c));
  }
  int sync() override { return target_->pubsync(); }

 private:
  std::streambuf* target_;
  ProgressBar& bar_;
  bool lineStart_ = true;
};

}  // namespace velktool
