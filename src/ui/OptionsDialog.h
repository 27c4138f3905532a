#pragma once
#include <QColor>
#include <QDialog>
#include <QPixmap>

class MainWindow;
class Peer;
class PeerState;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

// The dialog "Options": most of the option set on seven tab pages. Every opening starts
// from the option set; only OK stores, then lays out the main window again, saves the option
// file and, when the user's own information changed, sends it to the peer. Cancel, Esc and
// the close box change nothing.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(Peer& peer, MainWindow& owner);

    QTabWidget* pageTabs = nullptr;

    // Display 1
    QCheckBox* timeStampCheck = nullptr;
    QCheckBox* chatBarCheck = nullptr;
    QCheckBox* minimizeToTrayCheck = nullptr;
    QLabel* trayPicture = nullptr;
    // Display 2: the colour labels in the order connect, error, status, message.
    QLabel* connectColourLabel = nullptr;
    QLabel* errorColourLabel = nullptr;
    QLabel* statusColourLabel = nullptr;
    QLabel* messageColourLabel = nullptr;
    QRadioButton* layoutOptions[2] = {};
    QLabel* layoutPicture = nullptr;
    // Display 3
    QCheckBox* messageBlinkCheck = nullptr;
    QCheckBox* errorBlinkCheck = nullptr;
    QCheckBox* statusBlinkCheck = nullptr;
    QCheckBox* connectBlinkCheck = nullptr;
    // Logging
    QCheckBox* loggingCheck = nullptr;
    QRadioButton* logOptions[4] = {};
    QLabel* logFolderLabel = nullptr;
    QPushButton* logBrowseButton = nullptr;
    // My Information
    QLineEdit* nameEdit = nullptr;
    QLineEdit* emailEdit = nullptr;
    QComboBox* ageCombo = nullptr;
    QLineEdit* homePageEdit = nullptr;
    QLabel* infoNotice = nullptr; // names what the three boxes above did not take
    // File Options
    QCheckBox* autoAcceptCheck = nullptr;
    QLabel* downloadFolderLabel = nullptr;
    QPushButton* downloadBrowseButton = nullptr;
    QRadioButton* existingFileOptions[4] = {};
    QCheckBox* autoResendCheck = nullptr;
    QCheckBox* autoReconnectCheck = nullptr;
    // File Catcher
    QCheckBox* catcherOnTopCheck = nullptr;
    QCheckBox* catcherSmallCheck = nullptr;
    QLabel* catcherPicture = nullptr;

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
    // Characters the name, e-mail and home page boxes take: whatever the option file holds.
    static bool allowedInName(QChar c);
    static bool allowedInEmail(QChar c);
    static bool allowedInHomePage(QChar c);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildPages();
    void buildDisplayPage(QGroupBox* frame);
    void buildColoursPage(QGroupBox* frame);
    void buildBlinkPage(QGroupBox* frame);
    void buildLoggingPage(QGroupBox* frame);
    void buildMyInformationPage(QGroupBox* frame);
    void buildFileOptionsPage(QGroupBox* frame);
    void buildCatcherPage(QGroupBox* frame);
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

    Peer& peer;
    PeerState& ctx;
    MainWindow& mainWindow;
    QButtonGroup* logGroup = nullptr;
    QString chosenDownloadDir;
    QString chosenLogDir;
};
