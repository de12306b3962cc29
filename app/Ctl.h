#pragma once
// `ostrim ctl NAME COMMAND`: asks a named headless run over its control socket and prints the
// reply. Linux only.

#include "app/CommandLine.h"

namespace ostrim {

// 0 when the run did it, 1 when it answered with an error, 2 when it could not be asked.
int RunCtl(const CommandLine& line);

} // namespace ostrim
