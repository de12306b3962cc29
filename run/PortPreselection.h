#pragma once
// Which entries of the two port lists are selected when the dialog opens.
//
// The rule counts COM ports in the order the system lists them: the GPS count stops at COM9
// (not counted), the base-station count at COM5 (not counted); each list then selects its entry
// 0 and afterwards its entry (count + 3), which it refuses when out of range. The lists are
// sorted as text, so the indices are positions in the sorted lists and nothing more: on most
// machines both lists end up on their first entry.
//
// On Linux there are no COM numbers. The dialog numbers its entries COM1, COM2, ... in the
// order it lists them (sorted by device path) and applies the same rule; see
// PreselectListedPorts. A port named by the caller (the demo) wins over the rule.

#include <optional>
#include <string>
#include <vector>

namespace ostrim {

struct PortPreselection {
    std::vector<std::string> gpsEntries;  // "COM%d", sorted as text
    std::vector<std::string> baseEntries; // "%d", sorted as text
    std::optional<int> gps;               // index into gpsEntries; none for an empty list
    std::optional<int> base;              // index into baseEntries
};

// `deviceNames` in system order, such as "COM3", "LPT1", "COM10". Names other than "COM"
// followed by decimal digits are skipped.
PortPreselection PreselectComPorts(const std::vector<std::string>& deviceNames);

struct ListedPreselection {
    std::optional<int> gps;  // index into the dialog's list
    std::optional<int> base;
};

// The rule for a list of `count` entries numbered COM1..COMcount in list order.
ListedPreselection PreselectListedPorts(int count);

} // namespace ostrim
