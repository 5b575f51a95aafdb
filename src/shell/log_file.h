#ifndef SENTREL_SHELL_LOG_FILE_H_
#define SENTREL_SHELL_LOG_FILE_H_

#include <string>
#include <string_view>

namespace sentrel {

// The log file of --log: every line the program writes to either stream is
// appended with its local time and level ("INFO" for standard output,
// "WARN" for a warning on standard error, "ERROR" for its other lines). One
// thread of its own writes the file, whole lines only, so no writer ever
// waits on the disk and lines of different threads never mix.

enum class LogLevel { kInfo, kError };

// Whether a line of standard error is a warning: a remark on what the
// program took otherwise than written and went on with (the configuration's
// remarks say "warning:"). Every other line there says that something asked
// for was not done, an error.
bool IsWarningLine(std::string_view line);

// Opens `path` for appending (created with the user's default permissions)
// and starts the writer. False with the reason when it cannot be opened.
bool OpenLogFile(const std::string& path, std::string& error);

// Whether a log is open.
bool LogFileOpen();

// Hands `text` (one or more lines; a line without its end waits for the
// rest) to the writer. Never blocks on the file.
void LogText(LogLevel level, std::string_view text);

// Closes the file and opens its path anew, so that a log moved away (by
// logrotate) is followed by a new one. Asynchronous: the writer does it
// between two lines. Safe from any thread.
void ReopenLogFile();

// Writes what is still queued, waiting at most `wait_ms` for the disk, and
// closes the file.
void CloseLogFile(int wait_ms);

}  // namespace sentrel

#endif  // SENTREL_SHELL_LOG_FILE_H_
