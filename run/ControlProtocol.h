#pragma once
// The control command's protocol, shared by the headless run that answers and `ostrim ctl` that
// asks. No sockets here: the bytes in, the texts out, so every path is tested and fuzzed in
// memory.
//
// A request is one line of printable ASCII, at most kMaxControlLine bytes with its line feed:
//   status | trigger on | trigger off | lap
// The reply's first line is "ok" or "error: " and the reason; an ok reply's lines after it are
// what the operator reads. The run closes the connection after the reply: one request each.
//
// A request never toggles: "trigger on" switches triggering on or leaves it on, so a repeated
// or late request cannot turn it the wrong way.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrim {

// Long enough for any command with room to spare; a client that sends more is not one of ours.
inline constexpr std::size_t kMaxControlLine = 256;

enum class ControlVerb { Status, TriggerOn, TriggerOff, Lap, ReloadSensors };

struct ControlCommand {
    std::optional<ControlVerb> verb; // set when the line is a command
    std::string error;               // otherwise why not: one line, printable, bounded
};

// One request line, its line feed (and a carriage return before it) already gone or not.
ControlCommand ParseControlCommand(std::string_view line);

std::string ControlOk(std::string_view body);
// One line, whatever line feeds `reason` holds.
std::string ControlError(std::string_view reason);

struct ControlReply {
    bool ok = false;
    std::string text; // the body of an ok reply, the reason of an error
};
// A reply as ControlOk or ControlError made it; nothing for anything else.
std::optional<ControlReply> ParseControlReply(std::string_view reply);

// A run's name: the service's instance name. Letters, digits and ._:@- up to 64 characters,
// not starting with a dot, so the name is one file name in the socket's folder.
bool IsValidRunName(std::string_view name);

// Where the control socket of the run `name` lives: $RUNTIME_DIRECTORY (systemd's, from the
// unit's RuntimeDirectory=; the first of several), else $XDG_RUNTIME_DIR/ostrim (a user's own
// run), else /run/ostrim. Empty arguments are unset variables.
std::string ControlSocketPath(std::string_view name, std::string_view runtimeDirectory,
                              std::string_view xdgRuntimeDir);
// Where `ostrim ctl` looks, in order: the user's own run first, then the service's.
std::vector<std::string> ControlSocketCandidates(std::string_view name,
                                                 std::string_view xdgRuntimeDir);

// The text of `text` for a message: printable ASCII kept, anything else as \xHH, cut to
// `limit` characters with "..." after.
std::string PrintableText(std::string_view text, std::size_t limit = 40);

} // namespace ostrim
