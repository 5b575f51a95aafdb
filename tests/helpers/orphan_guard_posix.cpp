// Runs a program that must end with the test that started it: the program
// gets SIGKILL when its parent goes, even if the test dies without cleaning
// up. Used for the X server of the desktop tests.
//
//   orphan_guard PROGRAM ARGS...
#include <sys/prctl.h>
#include <signal.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() == 1) return 3;  // the parent is already gone
  execvp(argv[1], argv + 1);
  return 127;
}
