#include "shell/log_file.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/paths.h"
#include "shell/message_sink.h"
#include "shell/text_util.h"

namespace sentrel {
namespace {

// A disk that stops answering must not make the program's memory grow
// without bound: past this many waiting lines, lines are counted instead.
constexpr size_t kMaxQueuedLines = 100000;
// How long the writer waits for standard error to take its one line.
constexpr int kSayMs = 1000;

class LogWriter {
 public:
  bool Open(const std::string& path, std::string& error) {
    std::FILE* file = OpenLogStream(path);
    if (file == nullptr) {
      error = "cannot open the log \"" + path + "\": " + std::strerror(errno);
      return false;
    }
    std::lock_guard<std::mutex> lock(mu_);
    if (running_) {
      std::fclose(file);
      error = "a log is open already";
      return false;
    }
    path_ = path;
    file_ = file;
    open_ = running_ = true;
    reopen_ = closing_ = failing_ = false;
    // Never joined: a writer stuck on a dead disk must not hold the exit.
    std::thread([this] { Run(); }).detach();
    return true;
  }

  bool open() {
    std::lock_guard<std::mutex> lock(mu_);
    return open_;
  }

  void Add(LogLevel level, std::string_view text) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!open_) return;
    const int i = level == LogLevel::kError ? 1 : 0;
    std::string& partial = partial_[i];
    for (char c : text) {
      if (c == '\r' || c == '\a') continue;
      if (c != '\n') {
        partial += c;
        continue;
      }
      QueueLine(i);
    }
    wake_.notify_all();
  }

  void Reopen() {
    std::lock_guard<std::mutex> lock(mu_);
    reopen_ = true;
    wake_.notify_all();
  }

  void Close(int wait_ms) {
    std::unique_lock<std::mutex> lock(mu_);
    if (!open_) return;
    for (int i = 0; i < 2; ++i) {
      if (!partial_[i].empty()) QueueLine(i);
    }
    closing_ = true;
    wake_.notify_all();
    drained_.wait_for(lock, std::chrono::milliseconds(wait_ms), [this] { return !running_; });
    open_ = false;
  }

 private:
  // The line gathered from standard output (0) or error (1), with its level.
  void QueueLine(int i) {
    // An empty line says nothing in a log read line by line.
    if (partial_[i].empty()) return;
    const char* level = i == 0 ? " INFO  " : IsWarningLine(partial_[i]) ? " WARN  " : " ERROR ";
    Queue(LocalTimestamp() + level + partial_[i] + "\n");
    partial_[i].clear();
  }

  void Queue(std::string line) {
    if (lines_.size() >= kMaxQueuedLines) {
      ++dropped_;
      return;
    }
    if (dropped_ > 0) {
      lines_.push_back(LocalTimestamp() + " ERROR " + std::to_string(dropped_) +
                       " lines were not logged: the log file did not take them in time\n");
      dropped_ = 0;
    }
    lines_.push_back(std::move(line));
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mu_);
    const std::string log_path = path_;
    for (;;) {
      wake_.wait(lock, [this] { return !lines_.empty() || reopen_ || closing_; });
      if (reopen_) {
        reopen_ = false;
        const std::string path = path_;
        std::FILE* old = file_;
        lock.unlock();
        if (old != nullptr) std::fclose(old);
        std::FILE* file = OpenLogStream(path);
        lock.lock();
        // Lines keep waiting while the folder cannot take a new file.
        file_ = file;
      }
      std::deque<std::string> batch;
      if (file_ != nullptr) batch.swap(lines_);
      std::FILE* file = file_;
      lock.unlock();
      for (const std::string& line : batch) std::fwrite(line.data(), 1, line.size(), file);
      if (file != nullptr && !batch.empty()) {
        const bool written = std::fflush(file) == 0 && !std::ferror(file);
        const int error = errno;
        std::clearerr(file);
        SayWhetherWritten(log_path, written, error);
      }
      lock.lock();
      if (closing_ && (lines_.empty() || file_ == nullptr)) {
        if (file_ != nullptr) std::fclose(file_);
        file_ = nullptr;
        lines_.clear();
        running_ = false;
        drained_.notify_all();
        return;
      }
      if (file_ == nullptr && !closing_) {
        // The path could not be opened again: try once more in a second.
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        lock.lock();
        reopen_ = true;
      }
    }
  }

  // A log that stops taking lines (a full disk) would otherwise go silent:
  // standard error says so once, and once more when it takes them again.
  // Called without the lock, since the line goes to the log too.
  void SayWhetherWritten(const std::string& path, bool written, int error) {
    if (written == !failing_) return;
    failing_ = !written;
    const std::string text =
        written ? "sentrel: the log \"" + path + "\" is written again\n"
                : "sentrel: the log \"" + path + "\" cannot be written (" + std::strerror(error) +
                      "); its lines are lost until it can\n";
    ErrorSink().WriteWithin(text, kSayMs);
  }

  std::mutex mu_;
  std::condition_variable wake_, drained_;
  std::string path_;
  std::FILE* file_ = nullptr;
  // `running_`: the writer thread has not ended yet.
  bool open_ = false, reopen_ = false, closing_ = false, running_ = false;
  std::deque<std::string> lines_;
  std::string partial_[2];
  size_t dropped_ = 0;
  // Only the writer thread reads and sets it.
  bool failing_ = false;
};

// Never destroyed: threads may log while the process ends.
LogWriter& Writer() {
  static LogWriter* writer = new LogWriter;
  return *writer;
}

}  // namespace

bool IsWarningLine(std::string_view line) {
  return line.find("warning: ") != std::string_view::npos;
}

bool OpenLogFile(const std::string& path, std::string& error) { return Writer().Open(path, error); }
bool LogFileOpen() { return Writer().open(); }
void LogText(LogLevel level, std::string_view text) { Writer().Add(level, text); }
void ReopenLogFile() { Writer().Reopen(); }
void CloseLogFile(int wait_ms) { Writer().Close(wait_ms); }

}  // namespace sentrel
