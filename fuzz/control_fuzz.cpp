// The control command's parser on any line a client may send: every line is a command or one
// printable, bounded line of error that reads back from its reply, and a command's own words
// parse to the same command.

#include "fuzz/fuzz_check.h"
#include "run/ControlProtocol.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ostrim::fuzz {

const char* CanonicalText(ControlVerb verb)
{
    switch (verb) {
    case ControlVerb::Status: return "status";
    case ControlVerb::TriggerOn: return "trigger on";
    case ControlVerb::TriggerOff: return "trigger off";
    case ControlVerb::Lap: return "lap";
    case ControlVerb::ReloadSensors: return "reload-sensors";
    }
    return "";
}

void CheckControlLine(std::string_view line)
{
    const ControlCommand command = ParseControlCommand(line);
    if (command.verb) {
        Check(command.error.empty(), "a command with an error", line);
        Check(ParseControlCommand(CanonicalText(*command.verb)).verb == command.verb,
              "a command's own words parse to another", line);
        return;
    }
    Check(!command.error.empty(), "neither a command nor an error", line);
    // The client's bytes are echoed escaped and cut: a reason stays one short printable line.
    Check(command.error.size() < 400, "an unbounded error", command.error);
    for (char c : command.error)
        Check(c >= 0x20 && c <= 0x7e, "an error with a byte that is not printable", command.error);
    const std::optional<ControlReply> reply = ParseControlReply(ControlError(command.error));
    Check(reply && !reply->ok && reply->text == command.error, "an error that does not read back",
          command.error);
}

} // namespace ostrim::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ostrim::fuzz::CheckControlLine(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
