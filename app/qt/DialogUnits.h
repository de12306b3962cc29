#pragma once
// Dialog units: positions measured in quarters of the font's average character width and eighths
// of its height, so a layout scales with the font as a Windows dialog template does.

#include <QFont>
#include <QRect>
#include <QSize>

namespace ostrim {

struct DialogBaseUnits {
    int width;  // average character width, pixels
    int height; // character height, pixels
};

// The average width of "A".."Z" "a".."z" (rounded) and the font's height.
DialogBaseUnits BaseUnitsOf(const QFont& font);

QRect MapDialogRect(const DialogBaseUnits& units, int x, int y, int w, int h);
QSize MapDialogSize(const DialogBaseUnits& units, int w, int h);

} // namespace ostrim
