#pragma once
#include <QPixmap>

class QCursor;
class QIcon;

// The site list's node pictures, drawn at 32 pixels and shown at 16.
namespace SitePictures {

// A folder, closed or open.
QPixmap folder(bool open);
// A site; the one whose details are shown glows.
QPixmap site(bool shown);
// The drag cursor: an arrow with the dragged node's picture beside it.
QCursor dragCursor(const QIcon& node);

} // namespace SitePictures
