#include "app/qt/DialogUnits.h"

#include <QFontMetrics>
#include <QString>

namespace ostrim {

namespace {

// a * b / c rounded to the nearest, halves away from zero, as Windows' MulDiv does.
int MulDiv(int a, int b, int c)
{
    long long product = static_cast<long long>(a) * b;
    long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

} // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font)
{
    QFontMetrics metrics(font);
    int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.height()};
}

QRect MapDialogRect(const DialogBaseUnits& units, int x, int y, int w, int h)
{
    return QRect(MulDiv(x, units.width, 4), MulDiv(y, units.height, 8), MulDiv(w, units.width, 4),
                 MulDiv(h, units.height, 8));
}

QSize MapDialogSize(const DialogBaseUnits& units, int w, int h)
{
    return QSize(MulDiv(w, units.width, 4), MulDiv(h, units.height, 8));
}

} // namespace ostrim
