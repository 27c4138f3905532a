#include "transfer/SendList.h"

#include "app/Context.h"

SendList::SendList(Context& c, QObject* parent) : QObject(parent), ctx(c) {}
void SendList::add(const QString&) {}
void SendList::setReady(bool r) { ready = r; }
