// How the signal listener hands its requests to the console input on Linux.
#ifndef SENTREL_PLATFORM_PROCESS_REQUESTS_POSIX_H_
#define SENTREL_PLATFORM_PROCESS_REQUESTS_POSIX_H_

namespace sentrel {

// One byte per request, readable without blocking: kStopByte, kCheckNowByte,
// or kContinuedByte (the job came back from Ctrl-Z, when the shell may have
// reset the terminal). -1 when no listener could be set up.
int RequestDescriptor();
inline constexpr char kStopByte = 's';
inline constexpr char kCheckNowByte = 'u';
inline constexpr char kContinuedByte = 'c';

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_PROCESS_REQUESTS_POSIX_H_
