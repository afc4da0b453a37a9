// SPDX-License-Identifier: MIT
// What differs between the systems beyond files: the command line's
// arguments, the standard streams and the processors a run may use. The
// POSIX side is platform_posix.cpp, the Windows side platform_win.cpp; the
// rest of the program calls only these.
#pragma once

#include <string>
#include <vector>

// The command line's arguments as UTF-8. On Windows they are read in UTF-16
// and converted (the ANSI argv loses every character outside the code
// page); elsewhere they are argv's bytes.
std::vector<std::string> utf8_arguments(int argc, char** argv);

// Standard output and error write their bytes as given: on Windows they are
// switched to binary mode, so "\n" stays "\n" and "\r\n" does not become
// "\r\r\n". Nothing to do elsewhere.
void binary_standard_streams();

// The processors this process may run on (its affinity), at least 1.
int usable_processors();

// Whether standard error (2) or output (1) is a terminal, and standard
// error's width in columns (0 when unknown).
bool is_terminal(int fd);
unsigned terminal_columns();

// Writes all of `text` to standard error unbuffered; a terminal that went
// away is not worth a failure, so errors are dropped.
void write_standard_error(const std::string& text);

// Checks printf-style arguments against the format: gnu_printf on MinGW,
// whose plain printf means the system C runtime's (no %zu).
#if defined(__MINGW32__)
#define MORVANE_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define MORVANE_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#endif
