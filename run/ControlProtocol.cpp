#include "run/ControlProtocol.h"

#include "text/Ascii.h"

#include <cstdio>

namespace ostrim {
namespace {

constexpr char kCommands[] = "the commands are: status, trigger on, trigger off, lap";

bool IsPrintable(char c)
{
    return c >= 0x20 && c <= 0x7e;
}

std::vector<std::string_view> Words(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

ControlCommand Fail(std::string reason)
{
    return ControlCommand{std::nullopt, std::move(reason)};
}

ControlCommand Verb(ControlVerb verb)
{
    return ControlCommand{verb, {}};
}

std::string Quoted(std::string_view word)
{
    return "\"" + PrintableText(word) + "\"";
}

} // namespace

std::string PrintableText(std::string_view text, std::size_t limit)
{
    std::string out;
    for (char c : text) {
        if (out.size() >= limit)
            return out + "...";
        if (IsPrintable(c)) {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
            out += hex;
        }
    }
    return out;
}

ControlCommand ParseControlCommand(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.size() >= kMaxControlLine)
        return Fail("the command is longer than " + std::to_string(kMaxControlLine - 1) +
                    " characters");
    for (char c : line) {
        if (!IsPrintable(c) && c != '\t')
            return Fail("the command holds a byte that is not text: " + Quoted(line));
    }
    const std::vector<std::string_view> words = Words(line);
    if (words.empty())
        return Fail(std::string("no command given; ") + kCommands);

    const std::string_view verb = words[0];
    auto noArgument = [&](ControlVerb v) {
        if (words.size() > 1)
            return Fail(Quoted(verb) + " takes no argument, not " + Quoted(words[1]));
        return Verb(v);
    };
    if (verb == "status")
        return noArgument(ControlVerb::Status);
    if (verb == "lap")
        return noArgument(ControlVerb::Lap);
    if (verb == "reload-sensors")
        return noArgument(ControlVerb::ReloadSensors);
    if (verb == "trigger") {
        if (words.size() < 2)
            return Fail("\"trigger\" needs on or off");
        if (words.size() > 2)
            return Fail("\"trigger\" takes on or off alone, not more after " + Quoted(words[1]));
        if (words[1] == "on")
            return Verb(ControlVerb::TriggerOn);
        if (words[1] == "off")
            return Verb(ControlVerb::TriggerOff);
        return Fail("\"trigger\" takes on or off, not " + Quoted(words[1]));
    }
    return Fail("unknown command " + Quoted(verb) + "; " + kCommands);
}

std::string ControlOk(std::string_view body)
{
    std::string reply = "ok\n";
    reply += body;
    if (!body.empty() && body.back() != '\n')
        reply += '\n';
    return reply;
}

std::string ControlError(std::string_view reason)
{
    std::string line = "error: ";
    for (char c : reason) // a reason of several lines (a message) is one line here
        line += c == '\n' || c == '\r' ? ' ' : c;
    return line + "\n";
}

std::optional<ControlReply> ParseControlReply(std::string_view reply)
{
    const std::size_t end = reply.find('\n');
    if (end == std::string_view::npos)
        return std::nullopt;
    const std::string_view first = reply.substr(0, end);
    if (first == "ok")
        return ControlReply{true, std::string(reply.substr(end + 1))};
    constexpr std::string_view kError = "error: ";
    if (first.substr(0, kError.size()) == kError)
        return ControlReply{false, std::string(first.substr(kError.size()))};
    return std::nullopt;
}

bool IsValidRunName(std::string_view name)
{
    if (name.empty() || name.size() > 64 || name[0] == '.')
        return false;
    for (char c : name) {
        const bool allowed = IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             c == '.' || c == '_' || c == ':' || c == '@' || c == '-';
        if (!allowed)
            return false;
    }
    return true;
}

std::string ControlSocketPath(std::string_view name, std::string_view runtimeDirectory,
                              std::string_view xdgRuntimeDir)
{
    const std::string file = std::string(name) + ".sock";
    if (!runtimeDirectory.empty()) {
        // systemd separates several RuntimeDirectory= folders with colons.
        return std::string(runtimeDirectory.substr(0, runtimeDirectory.find(':'))) + "/" + file;
    }
    if (!xdgRuntimeDir.empty())
        return std::string(xdgRuntimeDir) + "/ostrim/" + file;
    return "/run/ostrim/" + file;
}

std::vector<std::string> ControlSocketCandidates(std::string_view name,
                                                 std::string_view xdgRuntimeDir)
{
    std::vector<std::string> paths;
    if (!xdgRuntimeDir.empty())
        paths.push_back(ControlSocketPath(name, {}, xdgRuntimeDir));
    paths.push_back(ControlSocketPath(name, {}, {}));
    return paths;
}

} // namespace ostrim
