#pragma once
#include <QTabWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The options dialog's eight tab pages and their controls. The pages only hold the controls;
// the dialog fills them from the option set, reacts to them and stores them on OK.
class OptionsPages : public QTabWidget {
public:
    explicit OptionsPages(QWidget* parent);

    // The help topic of the page in front.
    int currentHelpTopic() const;

    // Characters the name, e-mail and home page boxes take: whatever the option file holds.
    static bool allowedInName(QChar c);
    static bool allowedInEmail(QChar c);
    static bool allowedInHomePage(QChar c);

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
    // Privacy: private connections when the other side can, always, never; this
    // installation's key code.
    QRadioButton* privateModeOptions[3] = {};
    QLabel* keyCodeLabel = nullptr;
    QButtonGroup* logGroup = nullptr; // the four logOptions

private:
    void buildDisplayPage(QGroupBox* frame);
    void buildColoursPage(QGroupBox* frame);
    void buildBlinkPage(QGroupBox* frame);
    void buildLoggingPage(QGroupBox* frame);
    void buildMyInformationPage(QGroupBox* frame);
    void buildFileOptionsPage(QGroupBox* frame);
    void buildCatcherPage(QGroupBox* frame);
    void buildPrivacyPage(QGroupBox* frame);
};
