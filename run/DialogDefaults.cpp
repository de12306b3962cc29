#include "run/DialogDefaults.h"

#include <cstdlib>
#include <system_error>

namespace ostrim {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string InFolder(const std::string& folder, const char* name)
{
    if (!folder.empty() && (folder.back() == '/' || folder.back() == kSeparator))
        return folder + name;
    return folder + kSeparator + name;
}

} // namespace

std::string DefaultFolder()
{
#ifdef _WIN32
    return "C:\\LVR_LAPS";
#else
    const char* home = std::getenv("HOME");
    std::string base = home != nullptr && *home != '\0' ? home : "/tmp";
    return InFolder(base, "LVR_LAPS");
#endif
}

std::string LvrSensorFile(const std::string& folder)
{
    return InFolder(folder, "LVR_Cells_VLS.txt");
}

std::string MainlineSensorFile(const std::string& folder)
{
    return InFolder(folder, "Mainline_Cells_VLS.txt");
}

std::string FolderSelectedLine(const std::string& folder)
{
    return "Selected Folder: " + folder + "\n";
}

std::string RescueQuestion(std::size_t records)
{
    return std::to_string(records) + (records == 1 ? " record was" : " records were") +
           " not written to the logs during the run.\nWrite them, under their logs' names, to this "
           "folder (Cancel loses them):";
}

std::string RescueFailedText(const std::string& folder, int error)
{
    return "Could not write them to " + folder + ": " + std::generic_category().message(error) + ".";
}

std::string ReceiverDelayChoiceText(int ms)
{
    return std::to_string(ms) + " ms";
}

} // namespace ostrim
