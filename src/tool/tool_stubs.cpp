// Placeholder definitions; each is replaced by its subcommand's own file.
#include "tool/tool_commands.h"

int tool_info(const std::string&, bool) { return 1; }
int tool_verify(const std::string&, const std::string&) { return 1; }
int tool_export(const std::string&, const std::string&) { return 1; }
int tool_create(const std::string&, const std::string&) { return 1; }
