#include "run/PortPreselection.h"

#include <algorithm>
#include <cstdlib>

namespace ostrim {

namespace {

// "COM" and decimal digits; the port number, or nothing.
std::optional<int> ComNumber(const std::string& name)
{
    if (name.size() <= 3 || name.compare(0, 3, "COM") != 0 || name.size() > 3 + 9)
        return std::nullopt;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return std::nullopt;
    }
    return std::atoi(name.c_str() + 3);
}

// Select entry 0, then `wanted`, which the list refuses when out of range.
std::optional<int> Select(int size, int wanted)
{
    if (size == 0)
        return std::nullopt;
    return wanted >= 0 && wanted < size ? wanted : 0;
}

} // namespace

PortPreselection PreselectComPorts(const std::vector<std::string>& deviceNames)
{
    PortPreselection result;
    int gpsCounter = -1;
    int baseCounter = -1;
    bool countingGps = true;
    bool countingBase = true;
    for (const std::string& name : deviceNames) {
        std::optional<int> n = ComNumber(name);
        if (!n)
            continue;
        std::string com = "COM" + std::to_string(*n);
        if (com == "COM9")
            countingGps = false;
        if (*n == 5)
            countingBase = false;
        else if (countingBase)
            ++baseCounter;
        if (countingGps)
            ++gpsCounter;
        result.gpsEntries.push_back(com);
        result.baseEntries.push_back(std::to_string(*n));
    }
    std::sort(result.gpsEntries.begin(), result.gpsEntries.end());
    std::sort(result.baseEntries.begin(), result.baseEntries.end());
    result.gps = Select(static_cast<int>(result.gpsEntries.size()), gpsCounter + 3);
    result.base = Select(static_cast<int>(result.baseEntries.size()), baseCounter + 3);
    return result;
}

ListedPreselection PreselectListedPorts(int count)
{
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i)
        names.push_back("COM" + std::to_string(i));
    PortPreselection rule = PreselectComPorts(names);
    // Back from a position in the text-sorted list to the entry that carries that number.
    auto entryOf = [](const std::string& text, std::size_t digitsAt) {
        return std::atoi(text.c_str() + digitsAt) - 1;
    };
    ListedPreselection result;
    if (rule.gps)
        result.gps = entryOf(rule.gpsEntries[*rule.gps], 3);
    if (rule.base)
        result.base = entryOf(rule.baseEntries[*rule.base], 0);
    return result;
}

} // namespace ostrim
