#include "ui/OptionsDialog.h"
#include "ui/NamedButton.h"

#include "config/Options.h"
#include "core/PeerState.h"
#include "peer/Peer.h"
#include "session/Session.h"
#include "ui/DesktopServices.h"
#include "ui/MainWindow.h"
#include "ui/OptionsPictures.h"
#include "ui/TypedTextFilter.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

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
};

// logMode of each logOptions button (by day, by month, by year, one file); 4 is "no log".
constexpr int kLogModes[4] = {0, 2, 1, 3};
// existingFileDefault of each existingFileOptions button (overwrite, resume, rename, prompt).
constexpr int kExists[4] = {1, 2, 3, 0};

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

bool OptionsDialog::allowedInName(QChar c)
{
    // ";" ends the name and the e-mail address in the record sent to the peer.
    return c != ';' && allowedInHomePage(c);
}

bool OptionsDialog::allowedInEmail(QChar c)
{
    return allowedInName(c);
}

bool OptionsDialog::allowedInHomePage(QChar c)
{
    // The home page is the record's last field: a ";" in it reaches the peer as typed.
    return c.isPrint() && ConfigFile::storable(QString(c));
}

QString OptionsDialog::colourText(const QColor& colour)
{
    return QString::number(colour.red() + 256 * colour.green() + 65536 * colour.blue());
}

QString OptionsDialog::shortFolder(const QString& folder, int atLeast, int keep)
{
    return folder.size() >= atLeast ? QStringLiteral("...") + folder.right(keep) : folder;
}

OptionsDialog::OptionsDialog(Peer& p, MainWindow& owner) : QDialog(&owner), peer(p), ctx(p.state()), mainWindow(owner)
{
    setObjectName(QStringLiteral("Options"));
    setWindowTitle(QStringLiteral("Options"));
    buildPages();

    auto button = [this](const char* name, const QString& caption) { return namedButton(name, caption, this); };
    okButton = button("Command2", QStringLiteral("OK"));
    okButton->setDefault(true);
    cancelButton = button("Command3", QStringLiteral("Cancel"));
    helpButton = button("HelpButton", QStringLiteral("Help"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    buttons->addWidget(helpButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pageTabs);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(okButton, &QPushButton::clicked, this, &OptionsDialog::onOk);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::close);
    connect(helpButton, &QPushButton::clicked, this, &OptionsDialog::onHelp);
    connect(minimizeToTrayCheck, &QCheckBox::clicked, this, &OptionsDialog::drawTrayPicture);
    for (QRadioButton* b : layoutOptions)
        connect(b, &QRadioButton::clicked, this, &OptionsDialog::drawLayoutPicture);
    connect(catcherOnTopCheck, &QCheckBox::clicked, this, &OptionsDialog::drawCatcherPicture);
    connect(catcherSmallCheck, &QCheckBox::clicked, this, &OptionsDialog::drawCatcherPicture);
    connect(loggingCheck, &QCheckBox::clicked, this, &OptionsDialog::onLoggingClicked);
    connect(downloadBrowseButton, &QPushButton::clicked, this, [this] { browse(false); });
    connect(logBrowseButton, &QPushButton::clicked, this, [this] { browse(true); });
    for (QLabel* l : {connectColourLabel, errorColourLabel, statusColourLabel, messageColourLabel})
        l->installEventFilter(this);
    for (QLineEdit* e : {nameEdit, emailEdit, homePageEdit})
        e->installEventFilter(this);

    load();
}

void OptionsDialog::buildPages()
{
    pageTabs = new QTabWidget(this);
    pageTabs->setObjectName(QStringLiteral("TabStrip1"));
    pageTabs->setUsesScrollButtons(false); // every tab in sight: the dialog is as wide as they are
    QGroupBox* frames[7] = {};
    for (int i = 0; i < 7; ++i) {
        const Tab& t = kTabs[i];
        auto* page = new QWidget(pageTabs);
        frames[i] = new QGroupBox(QLatin1String(t.frameCaption), page);
        frames[i]->setObjectName(QLatin1String(t.frame));
        auto* pageLayout = new QVBoxLayout(page);
        pageLayout->addWidget(frames[i]);
        pageTabs->addTab(page, QLatin1String(t.caption));
        pageTabs->setTabToolTip(i, QLatin1String(t.tip));
        pageTabs->tabBar()->setTabData(i, QLatin1String(t.key));
    }

    buildDisplayPage(frames[0]);
    buildColoursPage(frames[1]);
    buildBlinkPage(frames[2]);
    buildLoggingPage(frames[3]);
    buildMyInformationPage(frames[4]);
    buildFileOptionsPage(frames[5]);
    buildCatcherPage(frames[6]);
}

// Display 1: time stamps, chat bar, tray.
void OptionsDialog::buildDisplayPage(QGroupBox* f)
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
void OptionsDialog::buildColoursPage(QGroupBox* f)
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
void OptionsDialog::buildBlinkPage(QGroupBox* f)
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
void OptionsDialog::buildLoggingPage(QGroupBox* f)
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
void OptionsDialog::buildMyInformationPage(QGroupBox* f)
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
    nameEdit = box("NameText", &OptionsDialog::allowedInName, fields);
    emailEdit = box("EmailText", &OptionsDialog::allowedInEmail, fields);
    homePageEdit = box("HomePageText", &OptionsDialog::allowedInHomePage, page);
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
void OptionsDialog::buildFileOptionsPage(QGroupBox* f)
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
void OptionsDialog::buildCatcherPage(QGroupBox* f)
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

void OptionsDialog::load()
{
    const Options& o = ctx.options;
    pageTabs->setCurrentIndex(0);

    catcherOnTopCheck->setChecked(o.catcherOnTop);
    catcherSmallCheck->setChecked(o.catcherSmall);
    drawCatcherPicture();

    TypedTextFilter::load(nameEdit, o.myName);
    TypedTextFilter::load(emailEdit, o.myEmail);
    TypedTextFilter::load(homePageEdit, o.myHomePage);

    // "##" (never set) and anything that is not an age of the list show as 17.
    bool ok = false;
    const int age = o.myAge.toInt(&ok);
    ageCombo->setCurrentIndex(ok && age >= 1 && age <= 99 ? age - 1 : 16);

    minimizeToTrayCheck->setChecked(o.minimizeToTray);
    chatBarCheck->setChecked(o.showChatBar);
    timeStampCheck->setChecked(o.timeStamps);
    drawTrayPicture();

    layoutOptions[o.boxLayout == QLatin1String("0") ? 0 : 1]->setChecked(true);
    drawLayoutPicture();

    setLabelColour(connectColourLabel, MainWindow::colourOf(o.connectColor));
    setLabelColour(errorColourLabel, MainWindow::colourOf(o.errorColor));
    setLabelColour(statusColourLabel, MainWindow::colourOf(o.statusColor));
    setLabelColour(messageColourLabel, MainWindow::colourOf(o.messageColor));

    messageBlinkCheck->setChecked(o.messageBlink);
    errorBlinkCheck->setChecked(o.errorBlink);
    statusBlinkCheck->setChecked(o.statusBlink);
    connectBlinkCheck->setChecked(o.connectBlink);
    autoAcceptCheck->setChecked(o.autoAccept);
    autoReconnectCheck->setChecked(o.autoReconnect);
    autoResendCheck->setChecked(o.autoResend);

    for (int i = 0; i < 4; ++i)
        if (kExists[i] == o.existingFileDefault)
            existingFileOptions[i]->setChecked(true);

    setDownloadFolder(o.downloadFolder);

    logOptions[3]->setChecked(true);
    for (int i = 0; i < 4; ++i) {
        if (kLogModes[i] == o.logMode) {
            logOptions[i]->setChecked(true);
            loggingCheck->setChecked(true);
        }
    }
    if (o.logMode == 4)
        for (QRadioButton* b : logOptions)
            b->setEnabled(false);

    setLogFolder(o.logFolder);
}

void OptionsDialog::drawTrayPicture()
{
    trayPicture->setPixmap(OptionsPictures::named(minimizeToTrayCheck->isChecked() ? QStringLiteral("MinTrayImg")
                                                                                   : QStringLiteral("MinTaskImg")));
}

void OptionsDialog::drawLayoutPicture()
{
    layoutPicture->setPixmap(OptionsPictures::named(layoutOptions[0]->isChecked() ? QStringLiteral("OneBoxImg")
                                                                                  : QStringLiteral("TwoBoxImg")));
}

void OptionsDialog::drawCatcherPicture()
{
    const bool top = catcherOnTopCheck->isChecked(), small = catcherSmallCheck->isChecked();
    catcherPicture->setPixmap(OptionsPictures::named(top && small ? QStringLiteral("FCSWOTIMG")
                                                     : small      ? QStringLiteral("FCSWIMG")
                                                     : top        ? QStringLiteral("FCOTIMG")
                                                                  : QStringLiteral("FCFCIMG")));
}

QColor OptionsDialog::labelColour(const QLabel* label) const
{
    return label->palette().color(QPalette::WindowText);
}

void OptionsDialog::setLabelColour(QLabel* label, const QColor& colour)
{
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
}

void OptionsDialog::pickColour(QLabel* label)
{
    // The picker answers later; a cancelled one leaves the label as it is. It is this
    // dialog's child, so it goes when the dialog goes.
    auto* picker = new QColorDialog(labelColour(label), this);
    picker->setObjectName(QStringLiteral("ColorPicker"));
    picker->setAttribute(Qt::WA_DeleteOnClose);
    connect(picker, &QColorDialog::colorSelected, label, [this, label](const QColor& c) {
        if (c.isValid())
            setLabelColour(label, c);
    });
    picker->open();
}

void OptionsDialog::setDownloadFolder(const QString& folder)
{
    chosenDownloadDir = folder;
    const QString shown = QDir::toNativeSeparators(folder);
    downloadFolderLabel->setText(shortFolder(shown, 35, 30));
    downloadFolderLabel->setToolTip(shown);
}

void OptionsDialog::setLogFolder(const QString& folder)
{
    chosenLogDir = folder;
    const QString shown = QDir::toNativeSeparators(folder);
    logFolderLabel->setText(shortFolder(shown, 27, 23));
    logFolderLabel->setToolTip(shown);
}

void OptionsDialog::browse(bool logFolder)
{
    QString start = logFolder ? chosenLogDir : chosenDownloadDir;
    while (start.size() > 1 && (start.endsWith('/') || start.endsWith('\\')))
        start.chop(1);
    // The picker belongs to this dialog, so it answers only while the dialog is open.
    browseForFolder(start, this, [this, logFolder](const QString& folder) {
        if (!ConfigFile::storable(folder)) {
            auto* box =
                new QMessageBox(QMessageBox::Warning, windowTitle(),
                                QStringLiteral("The option file cannot hold a folder name with \"[\", \"%1\" or "
                                               "characters outside Windows-1252:\n%2")
                                    .arg(QChar(0xFF), QDir::toNativeSeparators(folder)),
                                QMessageBox::Ok, this);
            box->setObjectName(QStringLiteral("folderMessage"));
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
            return;
        }
        logFolder ? setLogFolder(folder) : setDownloadFolder(folder);
    });
}

void OptionsDialog::onLoggingClicked(bool ticked)
{
    if (!ticked) {
        // No naming button is selected while logging is off.
        logGroup->setExclusive(false);
        for (QRadioButton* b : logOptions)
            b->setChecked(false);
        logGroup->setExclusive(true);
    }
    for (QRadioButton* b : logOptions)
        b->setEnabled(ticked);
}

void OptionsDialog::onHelp()
{
    const QString key = pageTabs->tabBar()->tabData(pageTabs->currentIndex()).toString();
    for (const Tab& t : kTabs)
        if (key == QLatin1String(t.key))
            showHelpTopic(t.topic, &mainWindow); // the help stays open when the dialog closes
}

bool OptionsDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* label = qobject_cast<QLabel*>(watched);
        if (label && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton
            && label->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
            pickColour(label);
            return true;
        }
    }
    // A box that receives the focus has its whole text selected, ready to be typed over.
    if (event->type() == QEvent::FocusIn)
        if (auto* e = qobject_cast<QLineEdit*>(watched))
            QTimer::singleShot(0, e, &QLineEdit::selectAll);
    return QDialog::eventFilter(watched, event);
}

void OptionsDialog::onOk()
{
    Options& o = ctx.options;
    o.catcherSmall = catcherSmallCheck->isChecked();
    o.catcherOnTop = catcherOnTopCheck->isChecked();

    const QString age = ageCombo->currentText();
    const bool userInfoChanged = nameEdit->text() != o.myName || age != o.myAge || homePageEdit->text() != o.myHomePage
                                 || emailEdit->text() != o.myEmail;
    o.myAge = age;
    o.myName = nameEdit->text();
    o.myHomePage = homePageEdit->text();
    o.myEmail = emailEdit->text();

    o.minimizeToTray = minimizeToTrayCheck->isChecked();
    o.timeStamps = timeStampCheck->isChecked();
    o.showChatBar = chatBarCheck->isChecked();
    o.boxLayout = layoutOptions[0]->isChecked() ? QStringLiteral("0") : QStringLiteral("1");

    o.connectColor = colourText(labelColour(connectColourLabel));
    o.errorColor = colourText(labelColour(errorColourLabel));
    o.statusColor = colourText(labelColour(statusColourLabel));
    o.messageColor = colourText(labelColour(messageColourLabel));

    o.connectBlink = connectBlinkCheck->isChecked();
    o.errorBlink = errorBlinkCheck->isChecked();
    o.messageBlink = messageBlinkCheck->isChecked();
    o.statusBlink = statusBlinkCheck->isChecked();
    o.autoAccept = autoAcceptCheck->isChecked();
    o.autoReconnect = autoReconnectCheck->isChecked();
    o.autoResend = autoResendCheck->isChecked();

    o.existingFileDefault = 0;
    for (int i = 0; i < 3; ++i)
        if (existingFileOptions[i]->isChecked())
            o.existingFileDefault = kExists[i];

    o.downloadFolder = chosenDownloadDir;
    o.logFolder = chosenLogDir;

    if (!loggingCheck->isChecked())
        o.logMode = 4;
    else if (const int chosen = logGroup->checkedId(); chosen >= 0)
        o.logMode = kLogModes[chosen];

    mainWindow.applyLayout();
    if (const QString problem = ctx.saveConfig(); !problem.isEmpty()) {
        // Told by the main window, since this dialog closes now.
        auto* box =
            new QMessageBox(QMessageBox::Critical, QStringLiteral("Zantiro"), problem, QMessageBox::Ok, &mainWindow);
        box->setObjectName(QStringLiteral("saveConfigError"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
    if (userInfoChanged)
        peer.session().sendUserInfo();
    close();
}
