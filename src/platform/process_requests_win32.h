// How the console's control handler hands a stop to the console input on
// Windows.
#ifndef SENTREL_PLATFORM_PROCESS_REQUESTS_WIN32_H_
#define SENTREL_PLATFORM_PROCESS_REQUESTS_WIN32_H_

#include <windows.h>

namespace sentrel {

// Set (and left set) once a stop was asked for.
HANDLE StopEvent();

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_PROCESS_REQUESTS_WIN32_H_
