// How the signal listener hands its requests to the console input on Linux.
#ifndef SENTREL_PLATFORM_PROCESS_REQUESTS_POSIX_H_
#define SENTREL_PLATFORM_PROCESS_REQUESTS_POSIX_H_

#include <signal.h>

namespace sentrel {

// One byte per request, readable without blocking: kStopByte, kCheckNowByte,
// or kContinuedByte (the job came back from Ctrl-Z, when the shell may have
// reset the terminal). -1 when no listener could be set up.
int RequestDescriptor();
inline constexpr char kStopByte = 's';
inline constexpr char kCheckNowByte = 'u';
inline constexpr char kReloadByte = 'r';
inline constexpr char kContinuedByte = 'c';

// The signals a program we start gets with their default actions: all but
// those that were ignored when this process started (nohup's SIGHUP, say),
// which a child inherits ignored as it would from a shell.
void SignalsToResetInChildren(sigset_t& set);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_PROCESS_REQUESTS_POSIX_H_
