// SPDX-License-Identifier: MIT
// UTF-8 paths for the wide Windows calls: every path and name in this
// program is UTF-8, and only the wide ("W") calls take every character.
#pragma once

#include <string>

std::wstring wide_from_utf8(const std::string& s);
std::string utf8_from_wide(const wchar_t* s);
// The errno value closest to a Windows error code, for the messages.
int errno_from_windows(unsigned long error);
