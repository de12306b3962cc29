#pragma once
// A headless run's configuration file (`--config FILE`; the service's /etc/ostrim/NAME.conf):
// one VARIABLE=value a line, as the example file shows.
//
//   # comment
//   GPS_PORT=/dev/serial/by-id/usb-u-blox_AG_-_www.u-blox.com_u-blox_GNSS_receiver-if00
//   VEHICLE_TYPE="Dunrel 80k truck"
//
// Each variable stands for one headless option and is checked as the command line checks it.
// A value may be quoted with "..." (\" and \\ inside) or '...'; an empty value leaves the
// option's default. Anything the file does not say plainly is an error naming its line: an
// unknown or repeated variable, a bad value, a quote left open, a line without "=". A service
// must not run with defaults the operator never chose.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrim {

// The exit status for a configuration the program cannot run with (sysexits' EX_CONFIG): the
// service does not restart on it, as no retry can mend a file.
inline constexpr int kConfigErrorExit = 78;

// The options the file's text stands for, in the file's order, or false with `error` ("line N:
// ...").
bool ConfigOptions(std::string_view text, std::vector<std::string>* options, std::string* error);

// A file's whole text: 0, or errno.
using ReadTextFile = std::function<int(const std::string& path, std::string* text)>;
int ReadSmallTextFile(const std::string& path, std::string* text);

// Replaces each "--config FILE" in `args` by the options of that file, so that options after it
// override the file and options before it are overridden. False with `error` naming the file.
bool ExpandConfigFiles(std::vector<std::string>& args, std::string& error,
                       const ReadTextFile& read = ReadSmallTextFile);

} // namespace ostrim
