#pragma once
#include <QRect>
#include <QString>

// Window geometry in the option set is kept in twips (1/1440 inch) so the option file stays
// the same whatever the screen. These convert with the screen's logical DPI; without a
// screen (headless use) 96 DPI is assumed, which gives 15 twips per pixel.
int twipsPerPixelX();
int twipsPerPixelY();
int twipsToPixelsX(int twips);
int twipsToPixelsY(int twips);
int pixelsToTwipsX(int pixels);
int pixelsToTwipsY(int pixels);
// A rectangle given in twips, in pixels.
QRect twipsRect(int left, int top, int width, int height);
// Keeps a window's outer size at least the given twips; the frame is known once it is shown.
void keepMinimumOuterSize(class QWidget& window, int minWidthTwips, int minHeightTwips);
// The same with an explicit DPI, for tests and for windows on a given screen.
int twipsToPixels(int twips, double dpi);
int pixelsToTwips(int pixels, double dpi);
// A size from the option set in twips, or fallback when the text is no positive number.
int twipsOption(const QString& text, int fallback);
