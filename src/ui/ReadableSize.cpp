#include "ui/ReadableSize.h"

#include <QLocale>

QString readableSize(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeIecFormat);
}
