// The companion's own name, for its texts and its version resource alike:
// macros only, since the resource compiler reads this header too.
#ifndef VELMORANE_CONSOLE_NAME_H
#define VELMORANE_CONSOLE_NAME_H

#define CONSOLE_NAME "VelmoraneConsole"
#define CONSOLE_EXECUTABLE_NAME L"" CONSOLE_NAME ".exe"

#endif
