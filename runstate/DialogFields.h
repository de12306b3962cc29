#pragma once
// The dialog's fields as the logic sees them. The Qt dialog, the headless front end and the
// tests implement this; the logic never touches a widget.
//
// Thread rule: SetText, GetText and ShowMessage may be called from any thread (the GPS reader
// thread sets the fix boxes and reads the vehicle type). An implementation delivers SetText to
// its display in call order; ShowMessage may block until the operator answers.

#include <string>

namespace ostrim {

// Ids are the dialog's control ids, so a log line or a test can name a field by its number.
enum class Field : int {
    Folder = 1000,
    Latitude = 1001,
    Longitude = 1002,
    LatitudeHemisphere = 1003,
    LongitudeHemisphere = 1004,
    Time = 1005,
    Height = 1007,
    SensorFile = 1015,
    NodeId = 1018,
    Status = 1023,
    VehicleType = 1024,
};

// The Vehicle Type box's text when the dialog opens: the first column of the GPS log.
inline constexpr char kDefaultVehicleType[] = "Dunrel 80k truck";

class DialogFields {
public:
    virtual ~DialogFields() = default;

    // Replaces the whole text of a field; the status line shows only the last text written.
    virtual void SetText(Field field, const std::string& text) = 0;
    // The whole text of a field, never cut.
    virtual std::string GetText(Field field) const = 0;
    // A modal message with an OK button, captioned with the program's name.
    virtual void ShowMessage(const std::string& text) = 0;
};

} // namespace ostrim
