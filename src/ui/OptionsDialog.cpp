#include "ui/OptionsDialog.h"
#include "ui/NamedButton.h"

#include "config/Options.h"
#include "core/PeerState.h"
#include "peer/Peer.h"
#include "session/Session.h"
#include "ui/DesktopServices.h"
#include "ui/MainWindow.h"
#include "ui/OptionsPages.h"
#include "ui/OptionsPictures.h"
#include "ui/TranscriptArea.h"
#include "ui/TypedTextFilter.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// logMode of each of the pages' logOptions buttons (by day, by month, by year, one file); 4 is "no log".
constexpr int kLogModes[4] = {0, 2, 1, 3};
// existingFileDefault of each of the pages' existingFileOptions buttons (overwrite, resume, rename, prompt).
constexpr int kExists[4] = {1, 2, 3, 0};
// The private-connection mode of each of the pages' privateModeOptions buttons.
constexpr PrivateMode kPrivateModes[3] = {PrivateMode::Auto, PrivateMode::Always, PrivateMode::Never};

} // namespace

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
    pages = new OptionsPages(this);

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
    layout->addWidget(pages);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(okButton, &QPushButton::clicked, this, &OptionsDialog::onOk);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::close);
    connect(helpButton, &QPushButton::clicked, this, &OptionsDialog::onHelp);
    connect(pages->minimizeToTrayCheck, &QCheckBox::clicked, this, &OptionsDialog::drawTrayPicture);
    for (QRadioButton* b : pages->layoutOptions)
        connect(b, &QRadioButton::clicked, this, &OptionsDialog::drawLayoutPicture);
    connect(pages->catcherOnTopCheck, &QCheckBox::clicked, this, &OptionsDialog::drawCatcherPicture);
    connect(pages->catcherSmallCheck, &QCheckBox::clicked, this, &OptionsDialog::drawCatcherPicture);
    connect(pages->loggingCheck, &QCheckBox::clicked, this, &OptionsDialog::onLoggingClicked);
    connect(pages->downloadBrowseButton, &QPushButton::clicked, this, [this] { browse(false); });
    connect(pages->logBrowseButton, &QPushButton::clicked, this, [this] { browse(true); });
    for (QLabel* l :
         {pages->connectColourLabel, pages->errorColourLabel, pages->statusColourLabel, pages->messageColourLabel})
        l->installEventFilter(this);
    for (QLineEdit* e : {pages->nameEdit, pages->emailEdit, pages->homePageEdit})
        e->installEventFilter(this);

    load();
}

void OptionsDialog::load()
{
    const Options& o = ctx.options;
    pages->setCurrentIndex(0);

    pages->catcherOnTopCheck->setChecked(o.catcherOnTop);
    pages->catcherSmallCheck->setChecked(o.catcherSmall);
    drawCatcherPicture();

    TypedTextFilter::load(pages->nameEdit, o.myName);
    TypedTextFilter::load(pages->emailEdit, o.myEmail);
    TypedTextFilter::load(pages->homePageEdit, o.myHomePage);

    // "##" (never set) and anything that is not an age of the list show as 17.
    bool ok = false;
    const int age = o.myAge.toInt(&ok);
    pages->ageCombo->setCurrentIndex(ok && age >= 1 && age <= 99 ? age - 1 : 16);

    pages->minimizeToTrayCheck->setChecked(o.minimizeToTray);
    pages->chatBarCheck->setChecked(o.showChatBar);
    pages->timeStampCheck->setChecked(o.timeStamps);
    drawTrayPicture();

    pages->layoutOptions[o.boxLayout == QLatin1String("0") ? 0 : 1]->setChecked(true);
    drawLayoutPicture();

    setLabelColour(pages->connectColourLabel, TranscriptArea::colourOf(o.connectColor));
    setLabelColour(pages->errorColourLabel, TranscriptArea::colourOf(o.errorColor));
    setLabelColour(pages->statusColourLabel, TranscriptArea::colourOf(o.statusColor));
    setLabelColour(pages->messageColourLabel, TranscriptArea::colourOf(o.messageColor));

    pages->messageBlinkCheck->setChecked(o.messageBlink);
    pages->errorBlinkCheck->setChecked(o.errorBlink);
    pages->statusBlinkCheck->setChecked(o.statusBlink);
    pages->connectBlinkCheck->setChecked(o.connectBlink);
    pages->autoAcceptCheck->setChecked(o.autoAccept);
    pages->autoReconnectCheck->setChecked(o.autoReconnect);
    pages->autoResendCheck->setChecked(o.autoResend);

    for (int i = 0; i < 4; ++i)
        if (kExists[i] == o.existingFileDefault)
            pages->existingFileOptions[i]->setChecked(true);

    setDownloadFolder(o.downloadFolder);

    pages->logOptions[3]->setChecked(true);
    for (int i = 0; i < 4; ++i) {
        if (kLogModes[i] == o.logMode) {
            pages->logOptions[i]->setChecked(true);
            pages->loggingCheck->setChecked(true);
        }
    }
    if (o.logMode == 4)
        for (QRadioButton* b : pages->logOptions)
            b->setEnabled(false);

    setLogFolder(o.logFolder);
    loadPrivacy();
}

void OptionsDialog::loadPrivacy()
{
    for (int i = 0; i < 3; ++i)
        pages->privateModeOptions[i]->setChecked(kPrivateModes[i] == ctx.settings.privateMode);
    const QString code = ctx.identity().keyCode();
    pages->keyCodeLabel->setText(code.isEmpty() ? QStringLiteral("No identity could be made") : code);
}

void OptionsDialog::storePrivacy()
{
    PrivateMode mode = ctx.settings.privateMode;
    for (int i = 0; i < 3; ++i)
        if (pages->privateModeOptions[i]->isChecked())
            mode = kPrivateModes[i];
    if (mode == ctx.settings.privateMode)
        return;
    ctx.settings.privateMode = mode;
    if (QString problem; !ctx.settings.save(&problem))
        tellSaveProblem("saveSettingsError", problem);
}

void OptionsDialog::tellSaveProblem(const char* name, const QString& problem)
{
    auto* box =
        new QMessageBox(QMessageBox::Critical, QStringLiteral("Zantiro"), problem, QMessageBox::Ok, &mainWindow);
    box->setObjectName(QLatin1String(name));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void OptionsDialog::drawTrayPicture()
{
    pages->trayPicture->setPixmap(OptionsPictures::named(
        pages->minimizeToTrayCheck->isChecked() ? QStringLiteral("MinTrayImg") : QStringLiteral("MinTaskImg")));
}

void OptionsDialog::drawLayoutPicture()
{
    pages->layoutPicture->setPixmap(OptionsPictures::named(
        pages->layoutOptions[0]->isChecked() ? QStringLiteral("OneBoxImg") : QStringLiteral("TwoBoxImg")));
}

void OptionsDialog::drawCatcherPicture()
{
    const bool top = pages->catcherOnTopCheck->isChecked(), small = pages->catcherSmallCheck->isChecked();
    pages->catcherPicture->setPixmap(OptionsPictures::named(top && small ? QStringLiteral("FCSWOTIMG")
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
    pages->downloadFolderLabel->setText(shortFolder(shown, 35, 30));
    pages->downloadFolderLabel->setToolTip(shown);
}

void OptionsDialog::setLogFolder(const QString& folder)
{
    chosenLogDir = folder;
    const QString shown = QDir::toNativeSeparators(folder);
    pages->logFolderLabel->setText(shortFolder(shown, 27, 23));
    pages->logFolderLabel->setToolTip(shown);
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
        pages->logGroup->setExclusive(false);
        for (QRadioButton* b : pages->logOptions)
            b->setChecked(false);
        pages->logGroup->setExclusive(true);
    }
    for (QRadioButton* b : pages->logOptions)
        b->setEnabled(ticked);
}

void OptionsDialog::onHelp()
{
    showHelpTopic(pages->currentHelpTopic(), &mainWindow); // the help stays open when the dialog closes
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
    o.catcherSmall = pages->catcherSmallCheck->isChecked();
    o.catcherOnTop = pages->catcherOnTopCheck->isChecked();

    const QString age = pages->ageCombo->currentText();
    const bool userInfoChanged = pages->nameEdit->text() != o.myName || age != o.myAge
                                 || pages->homePageEdit->text() != o.myHomePage
                                 || pages->emailEdit->text() != o.myEmail;
    o.myAge = age;
    o.myName = pages->nameEdit->text();
    o.myHomePage = pages->homePageEdit->text();
    o.myEmail = pages->emailEdit->text();

    o.minimizeToTray = pages->minimizeToTrayCheck->isChecked();
    o.timeStamps = pages->timeStampCheck->isChecked();
    o.showChatBar = pages->chatBarCheck->isChecked();
    o.boxLayout = pages->layoutOptions[0]->isChecked() ? QStringLiteral("0") : QStringLiteral("1");

    o.connectColor = colourText(labelColour(pages->connectColourLabel));
    o.errorColor = colourText(labelColour(pages->errorColourLabel));
    o.statusColor = colourText(labelColour(pages->statusColourLabel));
    o.messageColor = colourText(labelColour(pages->messageColourLabel));

    o.connectBlink = pages->connectBlinkCheck->isChecked();
    o.errorBlink = pages->errorBlinkCheck->isChecked();
    o.messageBlink = pages->messageBlinkCheck->isChecked();
    o.statusBlink = pages->statusBlinkCheck->isChecked();
    o.autoAccept = pages->autoAcceptCheck->isChecked();
    o.autoReconnect = pages->autoReconnectCheck->isChecked();
    o.autoResend = pages->autoResendCheck->isChecked();

    o.existingFileDefault = 0;
    for (int i = 0; i < 3; ++i)
        if (pages->existingFileOptions[i]->isChecked())
            o.existingFileDefault = kExists[i];

    o.downloadFolder = chosenDownloadDir;
    o.logFolder = chosenLogDir;

    if (!pages->loggingCheck->isChecked())
        o.logMode = 4;
    else if (const int chosen = pages->logGroup->checkedId(); chosen >= 0)
        o.logMode = kLogModes[chosen];

    mainWindow.applyLayout();
    if (const QString problem = ctx.saveConfig(); !problem.isEmpty())
        tellSaveProblem("saveConfigError", problem);
    storePrivacy();
    if (userInfoChanged)
        peer.session().sendUserInfo();
    close();
}
