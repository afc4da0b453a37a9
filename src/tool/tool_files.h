// Whole-file reads for morvane-tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads a regular file of at most max_size bytes; false with the reason.
bool read_whole_file(const std::string& path, uint64_t max_size, std::vector<uint8_t>& out,
                     std::string& error);
