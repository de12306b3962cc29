#pragma once
// What both dialogs show and say the same way: the default folder and sensor files, and the texts
// of the choosers and of the question before a run is ended. No front end's types here.

#include <cstddef>
#include <string>

namespace ostrim {

// Windows: C:\LVR_LAPS. Elsewhere $HOME/LVR_LAPS, or /tmp/LVR_LAPS when HOME is not set.
std::string DefaultFolder();

// The folder's sensor files for the LVR and Mainline radio buttons.
std::string LvrSensorFile(const std::string& folder);
std::string MainlineSensorFile(const std::string& folder);

// The folder chooser's title; the line written to standard output for the folder chosen.
inline constexpr char kFolderPickerTitle[] = "Pick a Directory";
std::string FolderSelectedLine(const std::string& folder);

// The sensor-file chooser's filters: a name and its pattern each.
struct FileFilter {
    const char* name;
    const char* pattern;
};
inline constexpr FileFilter kSensorFileFilters[] = {
    {"Text Files (*.txt)", "*.txt"},
    {"Comma Separated Values(*.csv)", "*.csv"},
};
// The status text when the sensor-file chooser is cancelled.
inline constexpr char kNoFileSelected[] = "No file selected";

// The firing rule's choice beside About; chosen before Start, it holds for the run.
inline constexpr char kPredictiveTriggerText[] = "Predictive trigger";
// Beside it, the receiver's delay, chosen at any time: a submenu of these, one checked.
inline constexpr char kReceiverDelayText[] = "Receiver delay";
inline constexpr int kReceiverDelayChoicesMs[] = {0, 20, 40, 60, 80, 100, 120, 150, 200, 250, 300};
// "60 ms"
std::string ReceiverDelayChoiceText(int ms);
// Asked before Cancel or the close box ends an active run.
inline constexpr char kConfirmEndText[] = "End the run? Logging and node switching stop.";
// Reads the sensor file again during a run; the new table is in force from the next fix.
inline constexpr char kReloadSensorsText[] = "Reload sensors";

// Asked when a run ends with records that never reached the logs, above the folder to put them.
std::string RescueQuestion(std::size_t records);
// Said when that folder could not take them either; the question follows again.
std::string RescueFailedText(const std::string& folder, int error);

} // namespace ostrim
