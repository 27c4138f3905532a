#pragma once
#include <QColor>
#include <QDialog>
#include <QPixmap>

class MainWindow;
class OptionsPages;
class Peer;
class PeerState;
class QLabel;
class QPushButton;

// The dialog "Options": most of the option set on seven tab pages, and the program's own
// privacy setting on an eighth. Every opening starts from the option set and the settings;
// only OK stores, then lays out the main window again, saves the option file (and the
// settings file when the privacy setting changed) and, when the user's own information
// changed, sends it to the peer. Cancel, Esc and the close box change nothing.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(Peer& peer, MainWindow& owner);

    OptionsPages* pages = nullptr; // the control "TabStrip1"

    QPushButton* okButton = nullptr;     // "OK"
    QPushButton* cancelButton = nullptr; // "Cancel"
    QPushButton* helpButton = nullptr;

    // The colour a label shows now.
    QColor labelColour(const QLabel* label) const;
    // The folders OK would store.
    QString downloadFolder() const { return chosenDownloadDir; }
    QString logFolder() const { return chosenLogDir; }

    // The colour as the option set keeps it: red + 256 * green + 65536 * blue, in decimal.
    static QString colourText(const QColor& colour);
    // A folder as its label shows it: one of `atLeast` characters or more as "..." and its
    // last `keep` characters.
    static QString shortFolder(const QString& folder, int atLeast, int keep);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void load();
    void onOk();
    void onHelp();
    void pickColour(QLabel* label);
    void setLabelColour(QLabel* label, const QColor& colour);
    void browse(bool logFolder);
    void setDownloadFolder(const QString& folder);
    void setLogFolder(const QString& folder);
    void onLoggingClicked(bool ticked);
    void drawTrayPicture();
    void drawLayoutPicture();
    void drawCatcherPicture();
    void loadPrivacy();
    void storePrivacy();
    // A file that could not be written, told by the main window since this dialog closes.
    void tellSaveProblem(const char* name, const QString& problem);

    Peer& peer;
    PeerState& ctx;
    MainWindow& mainWindow;
    QString chosenDownloadDir;
    QString chosenLogDir;
};
