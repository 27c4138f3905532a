#include "transfer/FileTransfer.h"

#include "app/Context.h"

FileTransfer::FileTransfer(Context& c, const Setup& s, const TransferTimeouts& t, QObject* parent)
    : QObject(parent), ctx(c), setup(s), timeouts(t)
{
}

FileTransfer::~FileTransfer() = default;

void FileTransfer::go() {}
TransferView FileTransfer::view() const { return {}; }
void FileTransfer::requestCancel() {}
void FileTransfer::cancelConfirmed() {}
