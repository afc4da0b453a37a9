// SPDX-License-Identifier: MIT
// The three commands of morvane over pack files. Each prints its lines on
// standard output and returns the process exit status: 0 when it did all of
// its work, 1 when it reported any failure.
#pragma once

int compress_pack(const char* in_path, const char* out_path);
int decompress_pack(const char* in_path, const char* out_path);
int list_pack(const char* in_path, const char* out_path);
