// morvane-tool: subcommands over packs (info, verify, export, create).
#include "tool/tool_commands.h"

int main() { return 0; }
