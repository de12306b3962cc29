#pragma once
// The raw line settings on their own, so they can be checked flag by flag without a device
// (a pseudo-terminal always keeps 8 bits and no parity, whatever it is asked).

#include "platform/posix/SerialDevice.h"

#include <termios.h>

namespace ostrim {

// Changes `tio` to a raw line with the settings; every flag not named stays as it was. False
// when the speed or byte size is not supported (then `tio` may be half changed).
bool MakeRaw(const SerialSettings& settings, termios* tio);

} // namespace ostrim
