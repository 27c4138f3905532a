#include "ui/OptionsPages.h"

#include "config/Options.h"
#include "ui/TypedTextFilter.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QVBoxLayout>

#include <iterator>

namespace {

// The tabs: caption, key, tool tip, page frame and its caption, help topic.
struct Tab {
    const char* caption;
    const char* key;
    const char* tip;
    const char* frame;
    const char* frameCaption;
    int topic;
};

constexpr Tab kTabs[] = {
    {"Display 1", "display1", "Display Options (1 of 2)", "Display1Frame", "Display Options (1 of 3)", 12},
    {"Display 2", "display2", "Display Options (2 of 2)", "Display2Frame", "Display Options (2 of 3)", 13},
    {"Display 3", "display3", "Display Options (3 of 3)", "Display3Frame", "Display Options (3 of 3)", 14},
    {"Logging", "logging", "Logging Options", "LogFrame", "Logging Options", 15},
    {"My Information", "myinfo", "My Information", "MyInfoFrame", "My Information", 16},
    {"File Options", "fileoptions", "File Options", "FileOptionsFrame", "File Options", 17},
    {"File Catcher", "filecatcher", "File Catcher Options", "FileCatcherFrame", "File Catcher Options", 18},
    {"Privacy", "privacy", "Privacy Options", "PrivacyFrame", "Privacy Options", 4},
};

QCheckBox* check(const char* name, const QString& caption, QWidget* parent)
{
    auto* b = new QCheckBox(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

QRadioButton* option(const QString& name, const QString& caption, QWidget* parent)
{
    auto* b = new QRadioButton(caption, parent);
    b->setObjectName(name);
    return b;
}

QLabel* pictureLabel(const char* name, QWidget* parent)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    l->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed); // the frame hugs the picture
    return l;
}

QLabel* folderLabel(const char* name, QWidget* parent)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::PlainText);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    l->setMinimumWidth(230);
    return l;
}

} // namespace

bool OptionsPages::allowedInName(QChar c)
{
    // ";" ends the name and the e-mail address in the record sent to the peer.
    return c != ';' && allowedInHomePage(c);
}

bool OptionsPages::allowedInEmail(QChar c)
{
    return allowedInName(c);
}

bool OptionsPages::allowedInHomePage(QChar c)
{
    // The home page is the record's last field: a ";" in it reaches the peer as typed.
    return c.isPrint() && ConfigFile::storable(QString(c));
}

int OptionsPages::currentHelpTopic() const
{
    const QString key = tabBar()->tabData(currentIndex()).toString();
    for (const Tab& t : kTabs)
        if (key == QLatin1String(t.key))
            return t.topic;
    return 0;
}

OptionsPages::OptionsPages(QWidget* parent) : QTabWidget(parent)
{
    setObjectName(QStringLiteral("TabStrip1"));
    setUsesScrollButtons(false); // every tab in sight: the dialog is as wide as they are
    constexpr int pageCount = int(std::size(kTabs));
    QGroupBox* frames[pageCount] = {};
    for (int i = 0; i < pageCount; ++i) {
        const Tab& t = kTabs[i];
        auto* page = new QWidget(this);
        frames[i] = new QGroupBox(QLatin1String(t.frameCaption), page);
        frames[i]->setObjectName(QLatin1String(t.frame));
        auto* pageLayout = new QVBoxLayout(page);
        pageLayout->addWidget(frames[i]);
        addTab(page, QLatin1String(t.caption));
        setTabToolTip(i, QLatin1String(t.tip));
        tabBar()->setTabData(i, QLatin1String(t.key));
    }

    buildDisplayPage(frames[0]);
    buildColoursPage(frames[1]);
    buildBlinkPage(frames[2]);
    buildLoggingPage(frames[3]);
    buildMyInformationPage(frames[4]);
    buildFileOptionsPage(frames[5]);
    buildCatcherPage(frames[6]);
    buildPrivacyPage(frames[7]);
}

// Display 1: time stamps, chat bar, tray.
void OptionsPages::buildDisplayPage(QGroupBox* f)
{
    timeStampCheck = check("TimeStampCheck", QStringLiteral("Timestamp Events"), f);
    chatBarCheck = check("ChatBarCheck", QStringLiteral("Show Chat Bar"), f);
    minimizeToTrayCheck = check("MinToTrayCheck", QStringLiteral("Minimize Zantiro To Tray"), f);
    trayPicture = pictureLabel("MinToTrayImg", f);
    auto* l = new QVBoxLayout(f);
    l->addWidget(timeStampCheck);
    l->addWidget(chatBarCheck);
    l->addWidget(minimizeToTrayCheck);
    l->addWidget(trayPicture, 0, Qt::AlignHCenter);
    l->addStretch();
}

// Display 2: colours and the box layout.
void OptionsPages::buildColoursPage(QGroupBox* f)
{
    auto colourLabel = [f](const char* name, const QString& caption) {
        auto* l = new QLabel(caption, f);
        l->setObjectName(QLatin1String(name));
        l->setCursor(Qt::PointingHandCursor);
        QFont bold = l->font();
        bold.setBold(true);
        l->setFont(bold);
        return l;
    };
    connectColourLabel = colourLabel("ConnectColorLabel", QStringLiteral("Connection Text"));
    errorColourLabel = colourLabel("ErrorColorLabel", QStringLiteral("Error Text"));
    statusColourLabel = colourLabel("StatusColorLabel", QStringLiteral("Status Text"));
    messageColourLabel = colourLabel("MsgColorLabel", QStringLiteral("Message Text"));
    auto* hint = new QLabel(QStringLiteral("Click A Text Type To Change Its Color"), f);
    hint->setObjectName(QStringLiteral("Label5"));
    auto* colours = new QGridLayout;
    colours->addWidget(connectColourLabel, 0, 0);
    colours->addWidget(errorColourLabel, 0, 1);
    colours->addWidget(statusColourLabel, 1, 0);
    colours->addWidget(messageColourLabel, 1, 1);

    auto* boxFrame = new QGroupBox(QStringLiteral("Box Layout"), f);
    boxFrame->setObjectName(QStringLiteral("BoxLayoutFrame"));
    layoutOptions[0] = option(QStringLiteral("BoxLayoutOption_0"), QStringLiteral("One Box Layout"), boxFrame);
    layoutOptions[1] = option(QStringLiteral("BoxLayoutOption_1"), QStringLiteral("Two Box Layout"), boxFrame);
    layoutPicture = pictureLabel("BoxLayoutImg", boxFrame);
    auto* choices = new QVBoxLayout;
    choices->addWidget(layoutOptions[0]);
    choices->addWidget(layoutOptions[1]);
    choices->addStretch();
    auto* boxLayout = new QHBoxLayout(boxFrame);
    boxLayout->addLayout(choices);
    boxLayout->addWidget(layoutPicture);
    boxLayout->addStretch();

    auto* l = new QVBoxLayout(f);
    l->addLayout(colours);
    l->addWidget(hint);
    l->addWidget(boxFrame);
    l->addStretch();
}

// Display 3: blinking.
void OptionsPages::buildBlinkPage(QGroupBox* f)
{
    auto* blink = new QGroupBox(QStringLiteral("Blink In Tray When Receiving"), f);
    blink->setObjectName(QStringLiteral("BlinkFrame"));
    messageBlinkCheck = check("MessageBlinkCheck", QStringLiteral("Chat Messages"), blink);
    errorBlinkCheck = check("ErrorBlinkCheck", QStringLiteral("Error Messages"), blink);
    statusBlinkCheck = check("StatusBlinkCheck", QStringLiteral("Status Messages"), blink);
    connectBlinkCheck = check("ConnectBlinkCheck", QStringLiteral("Connect Messages"), blink);
    auto* b = new QVBoxLayout(blink);
    for (QCheckBox* c : {messageBlinkCheck, errorBlinkCheck, statusBlinkCheck, connectBlinkCheck})
        b->addWidget(c);
    auto* l = new QVBoxLayout(f);
    l->addWidget(blink);
    l->addStretch();
}

// Logging.
void OptionsPages::buildLoggingPage(QGroupBox* f)
{
    loggingCheck = check("LoggingCheck", QStringLiteral("Enable Logging"), f);
    logGroup = new QButtonGroup(this);
    const QString captions[4] = {QStringLiteral("Save Logs By Day"), QStringLiteral("Save Logs By Month"),
                                 QStringLiteral("Save Logs By Year"), QStringLiteral("Save All Logs In One File")};
    auto* l = new QVBoxLayout(f);
    l->addWidget(loggingCheck);
    for (int i = 0; i < 4; ++i) {
        logOptions[i] = option(QStringLiteral("LogOption_%1").arg(i), captions[i], f);
        logGroup->addButton(logOptions[i], i);
        l->addWidget(logOptions[i]);
    }
    auto* dirFrame = new QGroupBox(QStringLiteral("Save Log Files To..."), f);
    dirFrame->setObjectName(QStringLiteral("LogDirFrame"));
    logFolderLabel = folderLabel("LogDirLabel", dirFrame);
    logBrowseButton = new QPushButton(QStringLiteral("Browse..."), dirFrame);
    logBrowseButton->setObjectName(QStringLiteral("LogBrowseButton"));
    logBrowseButton->setAutoDefault(false);
    auto* d = new QHBoxLayout(dirFrame);
    d->addWidget(logFolderLabel, 1);
    d->addWidget(logBrowseButton);
    l->addWidget(dirFrame);
    l->addStretch();
}

// My Information.
void OptionsPages::buildMyInformationPage(QGroupBox* f)
{
    // What a box does not take is named below the boxes, never dropped unseen.
    infoNotice = new QLabel(f);
    infoNotice->setObjectName(QStringLiteral("InfoNotice"));
    infoNotice->setTextFormat(Qt::PlainText);
    infoNotice->setWordWrap(true);
    infoNotice->setStyleSheet(QStringLiteral("color: #b00000"));
    const QString fields = QStringLiteral("Your information is stored and sent as Windows-1252 text without "
                                          "\";\", \"[\" or \"%1\".")
                               .arg(QChar(0xFF));
    const QString page = QStringLiteral("The home page is stored and sent as Windows-1252 text without "
                                        "\"[\" or \"%1\".")
                             .arg(QChar(0xFF));
    auto box = [this, f](const char* name, bool (*allowed)(QChar), const QString& rule) {
        auto* e = new QLineEdit(f);
        e->setObjectName(QLatin1String(name));
        const auto notice = [this](const QString& t) { infoNotice->setText(t); };
        e->setValidator(new TypedTextFilter(e, allowed, rule, notice));
        return e;
    };
    nameEdit = box("NameText", &OptionsPages::allowedInName, fields);
    emailEdit = box("EmailText", &OptionsPages::allowedInEmail, fields);
    homePageEdit = box("HomePageText", &OptionsPages::allowedInHomePage, page);
    ageCombo = new QComboBox(f);
    ageCombo->setObjectName(QStringLiteral("AgeCombo"));
    for (int age = 1; age <= 99; ++age)
        ageCombo->addItem(QString::number(age));
    auto* form = new QFormLayout(f);
    form->addRow(QStringLiteral("Name : "), nameEdit);
    form->addRow(QStringLiteral("E-Mail Address :"), emailEdit);
    form->addRow(QStringLiteral("Age : "), ageCombo);
    form->addRow(QStringLiteral("Homepage :"), homePageEdit);
    form->addRow(infoNotice);
}

// File Options.
void OptionsPages::buildFileOptionsPage(QGroupBox* f)
{
    autoAcceptCheck = check("AutoAcceptCheck", QStringLiteral("Auto Accept Files"), f);
    auto* dirFrame = new QGroupBox(QStringLiteral("Save Received File(s)/Folders To"), f);
    dirFrame->setObjectName(QStringLiteral("GetDirFrame"));
    downloadFolderLabel = folderLabel("GetDirLabel", dirFrame);
    downloadBrowseButton = new QPushButton(QStringLiteral("Browse..."), dirFrame);
    downloadBrowseButton->setObjectName(QStringLiteral("BrowseButton"));
    downloadBrowseButton->setAutoDefault(false);
    auto* d = new QHBoxLayout(dirFrame);
    d->addWidget(downloadFolderLabel, 1);
    d->addWidget(downloadBrowseButton);

    auto* existsFrame = new QGroupBox(QStringLiteral("If File Exists"), f);
    existsFrame->setObjectName(QStringLiteral("ExistsFrame"));
    const QString captions[4] = {QStringLiteral("Auto Overwrite"), QStringLiteral("Auto Resume"),
                                 QStringLiteral("Auto Rename"), QStringLiteral("Prompt Me")};
    auto* e = new QGridLayout(existsFrame);
    for (int i = 0; i < 4; ++i) {
        existingFileOptions[i] = option(QStringLiteral("AutoOption_%1").arg(i), captions[i], existsFrame);
        e->addWidget(existingFileOptions[i], i / 2, i % 2);
    }
    auto* lostFrame = new QGroupBox(QStringLiteral("When Disconnected"), f);
    lostFrame->setObjectName(QStringLiteral("DisconnectedFrame"));
    autoResendCheck = check("AutoResendCheck", QStringLiteral("Auto Resend Files"), lostFrame);
    autoReconnectCheck = check("AutoReconnectCheck", QStringLiteral("Auto Reconnect"), lostFrame);
    auto* w = new QHBoxLayout(lostFrame);
    w->addWidget(autoResendCheck);
    w->addWidget(autoReconnectCheck);

    auto* l = new QVBoxLayout(f);
    l->addWidget(autoAcceptCheck);
    l->addWidget(dirFrame);
    l->addWidget(existsFrame);
    l->addWidget(lostFrame);
    l->addStretch();
}

// File Catcher.
void OptionsPages::buildCatcherPage(QGroupBox* f)
{
    catcherOnTopCheck = check("FCOTCheck", QStringLiteral("Keep Catcher On Top Of All Windows"), f);
    catcherSmallCheck = check("FCSWCheck", QStringLiteral("Show Catcher As Small Window"), f);
    catcherPicture = pictureLabel("FCIMG", f);
    auto* l = new QVBoxLayout(f);
    l->addWidget(catcherOnTopCheck);
    l->addWidget(catcherSmallCheck);
    l->addWidget(catcherPicture, 0, Qt::AlignHCenter);
    l->addStretch();
}

// Privacy.
void OptionsPages::buildPrivacyPage(QGroupBox* f)
{
    auto* modes = new QGroupBox(QStringLiteral("Private Connections"), f);
    modes->setObjectName(QStringLiteral("PrivateModeFrame"));
    const QString captions[3] = {QStringLiteral("When the other side can"), QStringLiteral("Always"),
                                 QStringLiteral("Never")};
    auto* m = new QVBoxLayout(modes);
    for (int i = 0; i < 3; ++i) {
        privateModeOptions[i] = option(QStringLiteral("PrivateOption_%1").arg(i), captions[i], modes);
        m->addWidget(privateModeOptions[i]);
    }
    auto* identity = new QGroupBox(QStringLiteral("My Identity"), f);
    identity->setObjectName(QStringLiteral("IdentityFrame"));
    keyCodeLabel = new QLabel(identity);
    keyCodeLabel->setObjectName(QStringLiteral("KeyCodeLabel"));
    keyCodeLabel->setTextFormat(Qt::PlainText);
    keyCodeLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = keyCodeLabel->font();
    bold.setBold(true);
    keyCodeLabel->setFont(bold);
    auto* about = new QLabel(QStringLiteral("The code of this installation's key. Friends can compare it with the one "
                                            "you gave them before: it changes only when a new identity is made."),
                             identity);
    about->setWordWrap(true);
    auto* i = new QVBoxLayout(identity);
    i->addWidget(keyCodeLabel);
    i->addWidget(about);

    auto* l = new QVBoxLayout(f);
    l->addWidget(modes);
    l->addWidget(identity);
    l->addStretch();
}
