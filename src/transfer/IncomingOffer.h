#pragma once
#include "transfer/ExistingFileChoice.h"
#include "transfer/FileTransfer.h"
#include "transfer/TargetFile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// One offer from the peer as it is decided: its fields as checked, and what the decision
// settled for it (where it goes, what becomes of a file already there). They make the setup
// of the receiving side of a single offer, or the request of an offer of a run.
struct IncomingOffer {
    QString wire;      // the name as offered
    QStringList parts; // its components
    QString sizeText;
    qint64 size = 0;
    qint64 block = 512;
    QString host; // where a single offer's transfer connects (a run has its connections)
    quint16 port = 0;
    QString root;   // the download folder the name is placed below
    QString folder; // the target folder, ending in "/"
    ExistingFileChoice existsChoice = ExistingFileChoice::None;
    QString newName;
    QByteArray token;      // announced with "ftoken:" before the offer
    bool opensRun = false; // announced with "frun"
    quint64 run = 0;       // the offer's number in the open run of files (0: a single offer)

    // Takes the name, size, block size and port of a single offer as received: false with
    // the reason in `why` when one is unusable.
    bool read(const QString& name, const QString& sizeText, const QString& blockText, const QString& portText,
              QString& why);
    // The request the run opens the target of its offer with.
    TargetFile::Request request() const;
    // The setup of the receiving side of a single offer from `userName`; the session's part
    // of it is left to whoever starts the transfer.
    FileTransfer::Setup setup(const QString& userName) const;
};
