#pragma once
#include <QDialog>

class QHBoxLayout;
class QIcon;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// "About Zantiro": the version, what the program is, how to start the headless peer, and
// the licence.
class AboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget* owner = nullptr);

    // The program's icon, from the program's resources.
    static QIcon programIcon();
    // The licence text the program is distributed under.
    static QString licenceText();

    QLabel* versionLabel = nullptr;
    QLabel* summaryLabel = nullptr;
    QLabel* headlessCommandsLabel = nullptr; // the two ways to start the headless peer
    QPlainTextEdit* licenceView = nullptr;
    QPushButton* closeButton = nullptr;

private:
    QHBoxLayout* buildHead();
    void buildLicenceView();
};
