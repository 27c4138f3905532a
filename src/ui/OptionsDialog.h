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

    QTabWidget* TabStrip1 = nullptr;

    // Display 1
    QCheckBox* TimeStampCheck = nullptr;
    QCheckBox* ChatBarCheck = nullptr;
    QCheckBox* MinToTrayCheck = nullptr;
    QLabel* MinToTrayImg = nullptr;
    // Display 2: the colour labels in the order connect, error, status, message.
    QLabel* ConnectColorLabel = nullptr;
    QLabel* ErrorColorLabel = nullptr;
    QLabel* StatusColorLabel = nullptr;
    QLabel* MsgColorLabel = nullptr;
    QRadioButton* BoxLayoutOption[2] = {};
    QLabel* BoxLayoutImg = nullptr;
    // Display 3
    QCheckBox* MessageBlinkCheck = nullptr;
    QCheckBox* ErrorBlinkCheck = nullptr;
    QCheckBox* StatusBlinkCheck = nullptr;
    QCheckBox* ConnectBlinkCheck = nullptr;
    // Logging
    QCheckBox* LoggingCheck = nullptr;
    QRadioButton* LogOption[4] = {};
    QLabel* LogDirLabel = nullptr;
    QPushButton* LogBrowseButton = nullptr;
    // My Information
    QLineEdit* NameText = nullptr;
    QLineEdit* EmailText = nullptr;
    QComboBox* AgeCombo = nullptr;
    QLineEdit* HomePageText = nullptr;
    QLabel* InfoNotice = nullptr; // names what the three boxes above did not take
    // File Options
    QCheckBox* AutoAcceptCheck = nullptr;
    QLabel* GetDirLabel = nullptr;
    QPushButton* BrowseButton = nullptr;
    QRadioButton* AutoOption[4] = {};
    QCheckBox* AutoResendCheck = nullptr;
    QCheckBox* AutoReconnectCheck = nullptr;
    // File Catcher
    QCheckBox* FCOTCheck = nullptr;
    QCheckBox* FCSWCheck = nullptr;
    QLabel* FCIMG = nullptr;

    QPushButton* Command2 = nullptr; // "OK"
    QPushButton* Command3 = nullptr; // "Cancel"
    QPushButton* HelpButton = nullptr;

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
    // The pictures: "MinTrayImg", "MinTaskImg", "OneBoxImg", "TwoBoxImg", "FCSWOTIMG",
    // "FCSWIMG", "FCOTIMG", "FCFCIMG".
    static QPixmap picture(const QString& name);
    // Characters the name, e-mail and home page boxes take: whatever the option file holds.
    static bool allowedInName(QChar c);
    static bool allowedInEmail(QChar c);
    static bool allowedInHomePage(QChar c);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildPages();
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
