#pragma once
// The sensor file: one sensor per line, four space-separated fields.
//
// Example: 45.2612 93.7034 7 4070BF7B   (latitude, longitude, ignored, node id in hex)

#include "app/DialogFields.h"
#include "app/RunState.h"
#include "sensors/SensorTable.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostrim {

// Why a file could not be read, as the operator is told.
enum class FileErrorCause {
    None,
    FileNotFound,     // "%1 was not found."
    BadPath,          // "%1 contains an invalid path."
    AccessDenied,     // "Access to %1 was denied."
    SharingViolation, // "A sharing violation occurred while accessing %1."
    TooManyOpenFiles, // "%1 could not be opened because there are too many open files."
    Generic,          // "An unknown error occurred while accessing %1."
};

FileErrorCause CauseFromErrno(int err);
// The message text of a cause with the path in place of "%1".
std::string FileErrorText(FileErrorCause cause, const std::string& path);

struct SensorEntry {
    double latitude = 0.0;
    double longitude = 0.0;
    std::uint32_t nodeId = 0;
};

// Parses the lines of a sensor file up to its first empty line; at most SensorTable::kCapacity
// entries are returned, later valid lines are not stored.
std::vector<SensorEntry> ParseSensorText(std::string_view text);

struct SensorLoadResult {
    FileErrorCause cause = FileErrorCause::None;
    std::string message; // the message box text, empty when the file was read
    int count = 0;
};

// Reads the file into the table and sets the status texts; on an empty table switches
// triggering off. A file that cannot be read shows its message (DialogFields::ShowMessage), then
// "Unable to read Sensor file", and leaves the table as it was.
SensorLoadResult LoadSensorFile(const std::string& path, SensorTable& table, RunState& state,
                                DialogFields& fields);

} // namespace ostrim
