#pragma once
#include "core/TransferEndCode.h"

#include <QString>

// How one offer or transfer ended, for the queue and the headless peer.
struct TransferOutcome {
    bool sending = false;
    bool complete = false; // "*** File Transfer Complete" was written
    TransferEndCode endCode = TransferEndCode::None;
    QString name;           // the name as offered (sender) or as saved (receiver)
    QString path;           // sender: the local file
    QString queuedName;     // sender: the name as queued
    bool putBack = false;   // sender: offer it again, at the front
    bool untouched = false; // sender: put back without a byte of it having moved (a run ended)
    bool stopQueue = false; // sender: the queue stops

    // The outcome of the file at `path`, queued as `queuedName` and offered as `name`.
    static TransferOutcome ofSent(const QString& name, const QString& path, const QString& queuedName,
                                  TransferEndCode code)
    {
        TransferOutcome o;
        o.sending = true;
        o.endCode = code;
        o.name = name;
        o.path = path;
        o.queuedName = queuedName;
        return o;
    }
};
