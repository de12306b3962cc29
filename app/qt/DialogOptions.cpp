#include "app/qt/DialogOptions.h"

#include <cstdlib>

namespace ostrim {

namespace {

std::string InFolder(const std::string& folder, const char* name)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

} // namespace

std::string DefaultFolder()
{
    const char* home = std::getenv("HOME");
    std::string base = home != nullptr && *home != '\0' ? home : "/tmp";
    return InFolder(base, "LVR_LAPS");
}

std::string LvrSensorFile(const std::string& folder)
{
    return InFolder(folder, "LVR_Cells_VLS.txt");
}

std::string MainlineSensorFile(const std::string& folder)
{
    return InFolder(folder, "Mainline_Cells_VLS.txt");
}

} // namespace ostrim
