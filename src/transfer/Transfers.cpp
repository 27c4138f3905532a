#include "transfer/Transfers.h"

#include "app/Context.h"

struct Transfers::PendingOffer {};

Transfers::Transfers(Context& c) : ctx(c) {}
Transfers::~Transfers() = default;

bool Transfers::offerFile(const QString&, const QString&) { return false; }
FileTransfer* Transfers::startsend(const QString&, const QString&, const QString&, const QString&, const QString&,
                                   const QString&)
{
    return nullptr;
}
void Transfers::receivefile(const QString&, const QString&, const QString&, const QString&, const QString&) {}
