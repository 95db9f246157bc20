#include "base/log.h"

#include <cstdio>

std::string format_log_line(int hour, int minute, int second, int millisecond,
                            const std::string& message)
{
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d ", hour, minute,
                  second, millisecond);
    std::string line = stamp;
    line.append(message, 0, 2047);
    line += '\n';
    return line;
}
