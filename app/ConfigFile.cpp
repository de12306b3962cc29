#include "app/ConfigFile.h"

#include "app/CommandLine.h"
#include "platform/FileRead.h"
#include "run/ControlProtocol.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>

namespace ostrim {
namespace {

struct Variable {
    const char* name;
    const char* option;
};

// Every headless option that describes the run. --name is the service's instance name, not the
// file's to choose.
constexpr Variable kVariables[] = {
    {"GPS_PORT", "--gps-port"},
    {"BASE_PORT", "--base-port"},
    {"SENSOR_FILE", "--sensor-file"},
    {"FOLDER", "--folder"},
    {"MODE", "--mode"},
    {"RULE", "--rule"},
    {"VEHICLE_TYPE", "--vehicle-type"},
    {"TRIGGER", "--trigger"},
    {"RECEIVER_DELAY", "--receiver-delay"},
};

// Far more than any real file; a larger one is not a configuration.
constexpr std::size_t kMaxFileSize = 64 * 1024;

std::string Names()
{
    std::string names;
    for (const Variable& v : kVariables)
        names += (names.empty() ? "" : ", ") + std::string(v.name);
    return names;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The value as written: unquoted, "double quoted" with \" and \\, or 'single quoted'.
std::optional<std::string> Unquote(std::string_view text, std::string* error)
{
    if (text.empty() || (text.front() != '"' && text.front() != '\''))
        return std::string(text);
    const char quote = text.front();
    std::string value;
    std::size_t i = 1;
    for (; i < text.size() && text[i] != quote; ++i) {
        if (quote == '"' && text[i] == '\\' && i + 1 < text.size() &&
            (text[i + 1] == '"' || text[i + 1] == '\\'))
            ++i;
        value += text[i];
    }
    if (i >= text.size()) {
        *error = std::string("the quote ") + quote + " is not closed";
        return std::nullopt;
    }
    if (i + 1 != text.size()) {
        *error = "text after the closing quote";
        return std::nullopt;
    }
    return value;
}

} // namespace

bool ConfigOptions(std::string_view text, std::vector<std::string>* options, std::string* error)
{
    options->clear();
    std::map<std::string, int, std::less<>> seen;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::string at = "line " + std::to_string(number) + ": ";

        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        for (char c : line) {
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
                *error = at + "a control character in \"" + PrintableText(line) + "\"";
                return false;
            }
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            *error = at + "\"" + PrintableText(line) + "\" is not VARIABLE=value";
            return false;
        }
        const std::string_view name = Trim(line.substr(0, equals));
        const Variable* variable = nullptr;
        for (const Variable& v : kVariables) {
            if (name == v.name)
                variable = &v;
        }
        if (variable == nullptr) {
            *error = at + "unknown variable \"" + PrintableText(name) + "\"; the variables are " +
                     Names();
            return false;
        }
        if (auto [it, added] = seen.emplace(std::string(name), number); !added) {
            *error = at + std::string(name) + " is set on line " + std::to_string(it->second) +
                     " already";
            return false;
        }
        std::string why;
        std::optional<std::string> value = Unquote(Trim(line.substr(equals + 1)), &why);
        if (!value) {
            *error = at + std::string(name) + ": " + why;
            return false;
        }
        if (value->empty())
            continue; // the option's default
        // Checked alone, as the command line checks it, so the error names this line.
        std::string refused;
        if (!ParseCommandLine({variable->option, *value}, refused)) {
            *error = at + std::string(name) + "=" + PrintableText(*value) + ": " + refused;
            return false;
        }
        options->push_back(variable->option);
        options->push_back(std::move(*value));
    }
    return true;
}

int ReadSmallTextFile(const std::string& path, std::string* text)
{
    text->clear();
    int fd = -1;
    if (int err = OpenRegularFile(path, &fd))
        return err;
    char buffer[4096];
    int result = 0;
    for (;;) {
        long n = ReadFileBytes(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result = errno;
            break;
        }
        if (n == 0)
            break;
        text->append(buffer, static_cast<std::size_t>(n));
        if (text->size() > kMaxFileSize) {
            result = EFBIG;
            break;
        }
    }
    CloseFile(fd);
    return result;
}

bool ExpandConfigFiles(std::vector<std::string>& args, std::string& error, const ReadTextFile& read)
{
    // A ctl request's words are its own, whatever they look like.
    if (!args.empty() && args[0] == "ctl")
        return true;
    std::vector<std::string> expanded;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--config") {
            expanded.push_back(args[i]);
            continue;
        }
        if (i + 1 >= args.size()) {
            error = "--config needs a file";
            return false;
        }
        const std::string& path = args[++i];
        std::string text;
        if (int err = read(path, &text)) {
            error = "cannot read the configuration " + path + ": " +
                    (err == EFBIG ? "larger than 64 KiB" : std::strerror(err));
            return false;
        }
        std::vector<std::string> options;
        std::string why;
        if (!ConfigOptions(text, &options, &why)) {
            error = "the configuration " + path + ", " + why;
            return false;
        }
        expanded.insert(expanded.end(), options.begin(), options.end());
    }
    args = std::move(expanded);
    return true;
}

} // namespace ostrim
