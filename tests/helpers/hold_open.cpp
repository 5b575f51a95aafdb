// Test helper: opens the file named by its first argument for reading (or,
// with a second argument "write", for appending), prints "ready" on standard
// output, and keeps the file open until it is killed.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const bool write = argc > 2 && std::strcmp(argv[2], "write") == 0;
  std::FILE* f = std::fopen(argv[1], write ? "ab" : "rb");
  if (f == nullptr) return 3;
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
