// Test helper: appends its arguments, one per line, to the file named by the
// environment variable RECORD_ARGS_FILE, then exits with code 0 (4 when the
// record could not be written whole). With RECORD_ARGS_WAIT_FOR set it then
// runs on until the file that names exists (a program still at work), for
// at most a minute.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  const char* path = std::getenv("RECORD_ARGS_FILE");
  if (path == nullptr) return 2;
  // One write per start: programs started side by side append to one file,
  // and lines written piece by piece could interleave.
  std::string record;
  for (int i = 1; i < argc; ++i) record.append(argv[i]).append("\n");
  record.append("--\n");
  std::FILE* f = std::fopen(path, "a");
  if (f == nullptr) return 3;
  std::setvbuf(f, nullptr, _IONBF, 0);
  const bool written = std::fwrite(record.data(), 1, record.size(), f) == record.size();
  const bool closed = std::fclose(f) == 0;
  if (const char* wait_for = std::getenv("RECORD_ARGS_WAIT_FOR")) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < deadline) {
      if (std::FILE* go = std::fopen(wait_for, "rb")) {
        std::fclose(go);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return closed && written ? 0 : 4;
}
