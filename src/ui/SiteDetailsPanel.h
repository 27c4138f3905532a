#pragma once
#include "ui/TypedTextFilter.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

// The site list's details beside the tree, at a fixed width: the boxes of the shown site
// (name, address, port, password and the file ports that port gives), the notice naming what
// a box did not take, whether the site's identity is remembered with the command that forgets
// it, and the Connect, New Site, Close and Help buttons.
class SiteDetailsPanel : public QWidget {
public:
    explicit SiteDetailsPanel(QWidget* parent);

    // The filter of a box whose text goes into the sites file: a character the file cannot
    // hold is not taken, nor a change that would bring in a marker; `notice` says which and why.
    static TypedTextFilter* sitesFilter(QLineEdit* box, const QString& what, TypedTextFilter::Notice notice);

    QLineEdit* nameEdit = nullptr;
    QLineEdit* addressEdit = nullptr;
    QLineEdit* portEdit = nullptr;
    QLineEdit* passwordEdit = nullptr;
    QLineEdit* filePortsEdit = nullptr;
    QLabel* noticeLabel = nullptr; // names what the boxes did not take
    QLabel* identityLabel = nullptr;
    QPushButton* forgetIdentityButton = nullptr;
    QPushButton* connectButton = nullptr;
    QPushButton* newSiteButton = nullptr;
    QPushButton* closeButton = nullptr;
    QPushButton* helpButton = nullptr;

private:
    void createBoxes();
    void layOut();
};
