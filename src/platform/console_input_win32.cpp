#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/console_input.h"
#include "platform/process_requests.h"
#include "platform/process_requests_win32.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

class WindowsConsoleInput final : public ConsoleInput {
 public:
  WindowsConsoleInput() : input_(GetStdHandle(STD_INPUT_HANDLE)) {
    DWORD mode = 0;
    console_ = input_ != nullptr && input_ != INVALID_HANDLE_VALUE &&
               GetConsoleMode(input_, &mode) != 0;
    if (console_) {
      // Key presses one by one, without echo; Ctrl-C still comes to the
      // handler.
      saved_mode_ = mode;
      SetConsoleMode(input_, ENABLE_PROCESSED_INPUT);
    } else {
      StartByteReader();
    }
  }
  ~WindowsConsoleInput() override {
    if (console_) SetConsoleMode(input_, saved_mode_);
  }

  int WaitKey() override {
    for (;;) {
      HANDLE handles[2] = {StopEvent(), nullptr};
      DWORD count = 1;
      if (console_) {
        handles[count++] = input_;
      } else if (bytes_ != nullptr) {
        handles[count++] = bytes_->ready;
      }
      const DWORD r = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
      if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) {
        StopTaken();
        return kStop;
      }
      if (console_) {
        const int key = ReadConsoleKey();
        if (key >= 0) return key;
        continue;
      }
      const int key = TakeByte();
      if (key >= 0) return key;
    }
  }

 private:
  // The bytes of an input that is no console (a pipe, a file), read on a
  // thread of their own: such handles cannot be waited on.
  struct ByteQueue {
    std::mutex mu;
    std::deque<unsigned char> bytes;
    bool ended = false;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  };

  void StartByteReader() {
    // Never freed: the reader may still block in its read while the
    // process ends.
    auto* queue = new ByteQueue;
    HANDLE input = input_;
    try {
      std::thread([queue, input] {
        unsigned char buf[256];
        for (;;) {
          DWORD got = 0;
          if (input == nullptr || input == INVALID_HANDLE_VALUE ||
              !ReadFile(input, buf, sizeof buf, &got, nullptr) || got == 0) {
            break;
          }
          std::lock_guard<std::mutex> lock(queue->mu);
          queue->bytes.insert(queue->bytes.end(), buf, buf + got);
          SetEvent(queue->ready);
        }
        // At its end the program goes on monitoring until it is stopped.
        std::lock_guard<std::mutex> lock(queue->mu);
        queue->ended = true;
      }).detach();
      bytes_ = queue;
    } catch (const std::system_error&) {
      // No keys then; the stop events still end the program.
    }
  }

  int TakeByte() {
    std::lock_guard<std::mutex> lock(bytes_->mu);
    if (bytes_->bytes.empty()) {
      ResetEvent(bytes_->ready);
      return -1;
    }
    const int c = bytes_->bytes.front();
    bytes_->bytes.pop_front();
    if (bytes_->bytes.empty()) ResetEvent(bytes_->ready);
    return c;
  }

  // The next key press of the console's input, or -1 when what arrived was
  // something else (a key let go, the mouse, a resize).
  int ReadConsoleKey() {
    INPUT_RECORD record;
    DWORD got = 0;
    if (!ReadConsoleInputW(input_, &record, 1, &got) || got == 0) return -1;
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return -1;
    const wchar_t c = record.Event.KeyEvent.uChar.UnicodeChar;
    if (c == 0 || c > 0xFF) return -1;
    return static_cast<int>(c);
  }

  HANDLE input_;
  bool console_ = false;
  DWORD saved_mode_ = 0;
  ByteQueue* bytes_ = nullptr;
};

}  // namespace

std::unique_ptr<ConsoleInput> OpenConsoleInput() {
  return std::make_unique<WindowsConsoleInput>();
}

std::string StopWaysText() { return "or Ctrl-C or Ctrl-Break, or close its console window"; }

std::string ReloadWaysText() { return "when it is saved"; }

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < n; ++i) args.push_back(Narrow(wide[i]));
  LocalFree(wide);
  return args;
}

void ExitProcessNow(int code) {
  // Nothing is flushed: the program's lines are written unbuffered (see
  // std_streams.h), and a flush could wait for ever on a pipe nobody reads.
  // Other threads are ended without running static destructors. (The
  // process's exit code is what a parent sees, Wine's Linux side included.)
  ExitProcess(static_cast<UINT>(code));
}

}  // namespace sentrel
