#include "ui/Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace {

double logicalDpi(bool horizontal)
{
    const QScreen* screen =
        qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::primaryScreen() : nullptr;
    if (!screen)
        return 96.0;
    const double dpi = horizontal ? screen->logicalDotsPerInchX() : screen->logicalDotsPerInchY();
    return dpi > 0 ? dpi : 96.0;
}

} // namespace

int twipsToPixels(int twips, double dpi)
{
    return int(std::lround(double(twips) * dpi / 1440.0));
}

int pixelsToTwips(int pixels, double dpi)
{
    return int(std::lround(double(pixels) * 1440.0 / dpi));
}

int twipsPerPixelX()
{
    return int(std::lround(1440.0 / logicalDpi(true)));
}
int twipsPerPixelY()
{
    return int(std::lround(1440.0 / logicalDpi(false)));
}
int twipsToPixelsX(int twips)
{
    return twipsToPixels(twips, logicalDpi(true));
}
int twipsToPixelsY(int twips)
{
    return twipsToPixels(twips, logicalDpi(false));
}
int pixelsToTwipsX(int pixels)
{
    return pixelsToTwips(pixels, logicalDpi(true));
}
int pixelsToTwipsY(int pixels)
{
    return pixelsToTwips(pixels, logicalDpi(false));
}

QRect twipsRect(int left, int top, int width, int height)
{
    return {twipsToPixelsX(left), twipsToPixelsY(top), twipsToPixelsX(width), twipsToPixelsY(height)};
}

void keepMinimumOuterSize(QWidget& window, int minWidthTwips, int minHeightTwips)
{
    const QSize frame = window.frameGeometry().size() - window.size();
    const QSize minimum = QSize(twipsToPixelsX(minWidthTwips), twipsToPixelsY(minHeightTwips)) - frame;
    if (window.minimumSize() != minimum)
        window.setMinimumSize(minimum);
}

int twipsOption(const QString& text, int fallback)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    return ok && v > 0 ? v : fallback;
}
