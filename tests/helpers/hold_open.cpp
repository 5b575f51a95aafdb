// Test helper: opens the file named by its first argument for reading (or,
// with a second argument "write", for appending), prints "ready" on standard
// output, and keeps the file open until it is killed.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const bool write = argc > 2 && std::strcmp(argv[2], "write") == 0;
  int fd = open(argv[1], write ? (O_WRONLY | O_APPEND) : O_RDONLY);
  if (fd < 0) return 3;
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) pause();
}
