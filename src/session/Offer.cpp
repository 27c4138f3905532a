#include "session/Offer.h"

QString Offer::message() const
{
    return QStringLiteral("file:") + port + '|' + name + '|' + block + '|' + size;
}

bool Offer::parse(const QString& body, Offer& offer)
{
    const qsizetype a = body.indexOf('|');
    const qsizetype b = a < 0 ? -1 : body.indexOf('|', a + 1);
    const qsizetype c = b < 0 ? -1 : body.indexOf('|', b + 1);
    if (c < 0)
        return false;
    offer.port = body.left(a);
    offer.name = body.mid(a + 1, b - a - 1);
    offer.block = body.mid(b + 1, c - b - 1);
    offer.size = body.mid(c + 1);
    return true;
}
