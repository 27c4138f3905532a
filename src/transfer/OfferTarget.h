#pragma once
#include <QSet>
#include <QString>
#include <QStringList>

// The place an offered file would be written to, looked at before the offer is answered:
// what is at the target, and the sub-folders on the way below the download folder. Nothing
// is made here: missing folders are made only once the transfer connection is up
// (TargetFile), so an offer that never gets that far leaves nothing behind.
class OfferTarget {
public:
    // What is at one path.
    struct Entry {
        QString path;
        bool present = false; // something is there, a link (even a broken one) included
        bool link = false;
        bool folder = false; // where a link leads
        bool file = false;
        qint64 size = 0;
    };

    // One look at `path`: a link is followed for its kind and size. Two system calls at
    // most, where several QFileInfo questions would make one each.
    static Entry lookAt(const QString& path);
    // The same look at `leaf` in the open folder `dir` (one component to resolve, not the
    // whole path; `path` is what the entry is reported under).
    static Entry lookAt(const QString& path, int dir, const QString& leaf);
    // Why the target `entry` below the download folder `root` cannot be received into (it
    // leads out, or is a folder); empty when it can.
    static QString problemAt(const QString& root, const Entry& entry);

    // Checks the sub-folders `parts` (all but the last component of an offered name) on the
    // way down from the download folder `root`: `folder` becomes the target folder, ending
    // in "/". False with the reason in `problem` when one leads out or is no folder. With
    // `inRun`, folders found are remembered for the next files of the run.
    bool checkFolders(const QString& root, const QStringList& parts, bool inRun, QString& folder, QString& problem);
    // A new run keeps folders of its own: those found for the run before are forgotten.
    void forgetRunFolders() { runFolders.clear(); }

private:
    QSet<QString> runFolders; // folders of the open run's files found inside the download folder
};
