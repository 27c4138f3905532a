#pragma once
#include <QString>

// A byte count as a person reads it, in binary units with one decimal ("2.8 GiB").
QString readableSize(qint64 bytes);
