// Test helper: opens every file named on the command line for reading and
// keeps them open until its standard input ends: another program that has
// files in use.
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  std::vector<std::FILE*> held;
  for (int i = 1; i < argc; ++i) {
    std::FILE* f = std::fopen(argv[i], "rb");
    if (f == nullptr) return 2;
    held.push_back(f);
  }
  while (std::getchar() != EOF) {
  }
  for (std::FILE* f : held) std::fclose(f);
  return 0;
}
