#ifndef SENTREL_PLATFORM_STD_STREAMS_H_
#define SENTREL_PLATFORM_STD_STREAMS_H_

#include <string_view>

namespace sentrel {

// The program's standard output and error, written without a buffer of the
// C library's: nothing is left to flush on the way out, and no lock of the
// C library is held by a thread that waits for a reader.
enum class StdStream { kOutput, kError };

// Writes all of `text`, waiting as long as the reader takes to take it.
// False when the stream refuses it (its reader is gone, say).
bool WriteStdStream(StdStream stream, std::string_view text);

// Writes `text` unless the stream does not take it within `ms`: false then,
// and what was not written is dropped. A Windows pipe cannot be asked
// whether it has room, so there this waits like WriteStdStream.
bool WriteStdStreamWithin(StdStream stream, std::string_view text, int ms);

// Whether the stream is a terminal (a console on Windows).
bool StdStreamIsTerminal(StdStream stream);

// Whether the stream is the system journal's: on Linux, JOURNAL_STREAM
// names its device and inode (systemd sets it for a service's output).
bool StdStreamIsJournal(StdStream stream);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_STD_STREAMS_H_
