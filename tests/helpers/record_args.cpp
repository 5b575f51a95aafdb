// Test helper: appends its arguments, one per line, to the file named by the
// environment variable RECORD_ARGS_FILE, then exits with code 0.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const char* path = std::getenv("RECORD_ARGS_FILE");
  if (path == nullptr) return 2;
  std::FILE* f = std::fopen(path, "a");
  if (f == nullptr) return 3;
  for (int i = 1; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
  std::fprintf(f, "--\n");
  std::fclose(f);
  return 0;
}
