#pragma once
// The launcher's log: "launcher.log" in the install folder, truncated at every
// start, one time-stamped line per call, flushed at once; echoed on the parent
// console in headless mode. Safe to call from any thread.
#include <string>

// The formats follow the C standard (%zu, %lld): mingw's GCC must be told so
// (its plain printf checks Microsoft's dialect); clang knows only "printf".
#if defined(__clang__)
#define TW_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#elif defined(__GNUC__)
#define TW_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define TW_PRINTF(fmt, args)
#endif

// Opens (truncating) the log file; a failure disables the file silently.
void open_log(const std::wstring& path);

// Opens the log file to add lines at its end, leaving what is there (another
// launcher's log) as it is.
void open_log_appending(const std::wstring& path);

void log_line(const char* format, ...) TW_PRINTF(1, 2);

// The bytes one line occupies in the file, before text-mode translation:
// "hh:mm:ss.mmm message\n". The message is cut to 2047 bytes.
std::string format_log_line(int hour, int minute, int second, int millisecond,
                            const std::string& message);
