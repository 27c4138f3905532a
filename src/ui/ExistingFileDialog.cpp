#include "ui/ExistingFileDialog.h"
#include "ui/NamedButton.h"
#include "ui/ReadableSize.h"

#include "ui/DesktopServices.h"

#include "core/LineText.h"
#include "transfer/TransferRules.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// A typed name that would leave the folder or name no file at all.
bool unusableName(const QString& name)
{
    return !TransferRules::checkPlainName(name).isEmpty();
}

} // namespace

ExistingFileDialog::ExistingFileDialog(const QString& fileName, QWidget* owner)
    // The offered name came from the peer and is shown as one line. Escaped, it holds a
    // backslash, so it cannot be taken as typed: the user has to give a usable name.
    : QDialog(owner), ExistsNewName(LineText::visible(fileName))
{
    setObjectName(QStringLiteral("FAExists"));
    setWindowTitle(QStringLiteral("File Already Exists"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);

    // Which file is which, to decide between them.
    auto* names = new QLabel(QStringLiteral("\"%1\" is already in the folder.").arg(ExistsNewName), this);
    names->setTextFormat(Qt::PlainText);
    ExistingLabel = new QLabel(this);
    ExistingLabel->setObjectName(QStringLiteral("ExistingLabel"));
    OfferedLabel = new QLabel(this);
    OfferedLabel->setObjectName(QStringLiteral("OfferedLabel"));
    auto* files = new QFormLayout;
    files->addRow(names);
    files->addRow(QStringLiteral("Here :"), ExistingLabel);
    files->addRow(QStringLiteral("Offered :"), OfferedLabel);

    group = new QButtonGroup(this);
    const QStringList captions = {QStringLiteral("Overwrite"), QStringLiteral("Resume "), QStringLiteral("QV Rename "),
                                  QStringLiteral("User Rename")};
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(files);
    for (int i = 0; i < captions.size(); ++i) {
        auto* button = new QRadioButton(captions[i], this);
        button->setObjectName(QStringLiteral("Option1"));
        button->setProperty("index", i);
        group->addButton(button, i);
        layout->addWidget(button);
    }

    FileNameText = new QLineEdit(ExistsNewName, this);
    FileNameText->setObjectName(QStringLiteral("FileNameText"));
    // Characters no file name may hold are refused as they are typed, and pasted text
    // holding one is refused whole, so the name never leaves the target folder.
    FileNameText->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[^") + QRegularExpression::escape(forbiddenCharacters) + ']' + '*'),
        FileNameText));
    FileNameText->installEventFilter(this);
    layout->addWidget(FileNameText);

    AlwaysCheck = new QCheckBox(QStringLiteral("Always Overwrite From Now On"), this);
    AlwaysCheck->setObjectName(QStringLiteral("AlwaysCheck"));
    layout->addWidget(AlwaysCheck);

    OkButton = namedButton("OkButton", QStringLiteral("OK"), this);
    CancelButton = namedButton("CancelButton", QStringLiteral("CANCEL"), this);
    HelpButton = namedButton("HelpButton", QStringLiteral("Help"), this);
    OkButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    buttons->addWidget(HelpButton);
    layout->addLayout(buttons);

    option(0)->setChecked(true);
    FileNameText->setEnabled(false);

    connect(group, &QButtonGroup::idClicked, this, &ExistingFileDialog::optionSelected);
    connect(FileNameText, &QLineEdit::textChanged, this, &ExistingFileDialog::updateOk);
    connect(OkButton, &QPushButton::clicked, this, &ExistingFileDialog::ok);
    connect(CancelButton, &QPushButton::clicked, this, [this] { finish(Canceled, false, QString()); });
    connect(HelpButton, &QPushButton::clicked, this, [this] { showHelpTopic(7, this); });
}

QString ExistingFileDialog::describe(qint64 size, const QDateTime& modified)
{
    const QLocale locale;
    QString text = readableSize(size);
    if (size >= 1024)
        text += QStringLiteral(" (%1 bytes)").arg(locale.toString(size));
    if (modified.isValid())
        text += QStringLiteral(", ") + modified.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    return text;
}

void ExistingFileDialog::showFiles(const QString& existingPath, qint64 offeredSize)
{
    const QFileInfo here(existingPath);
    ExistingLabel->setText(here.exists() ? describe(here.size(), here.lastModified()) : QString());
    // The offer carries no date.
    OfferedLabel->setText(offeredSize >= 0 ? describe(offeredSize) : QString());
}

QRadioButton* ExistingFileDialog::option(int index) const
{
    return qobject_cast<QRadioButton*>(group->button(index));
}

void ExistingFileDialog::optionSelected(int index)
{
    AlwaysCheck->setEnabled(true);
    switch (index) {
    case 0:
        AlwaysCheck->setText(QStringLiteral("Always Overwrite From Now On"));
        FileNameText->setEnabled(false);
        break;
    case 1:
        AlwaysCheck->setText(QStringLiteral("Always Resume From Now On"));
        FileNameText->setEnabled(false);
        break;
    case 2:
        AlwaysCheck->setText(QStringLiteral("Always Rename From Now On"));
        FileNameText->setEnabled(false);
        break;
    default:
        // A typed name can never become a standing decision.
        AlwaysCheck->setChecked(false);
        AlwaysCheck->setEnabled(false);
        AlwaysCheck->setText(QString());
        FileNameText->setText(ExistsNewName);
        FileNameText->setEnabled(true);
        FileNameText->setFocus();
        break;
    }
    updateOk();
}

void ExistingFileDialog::updateOk()
{
    OkButton->setEnabled(group->checkedId() != 3 || !unusableName(FileNameText->text()));
}

bool ExistingFileDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FileNameText && event->type() == QEvent::FocusIn && FileNameText->isEnabled()) {
        // Select the whole name once the line edit has finished taking the focus.
        QTimer::singleShot(0, FileNameText, &QLineEdit::selectAll);
    }
    return QDialog::eventFilter(watched, event);
}

void ExistingFileDialog::ok()
{
    const int index = group->checkedId();
    if (index == 3) {
        if (unusableName(FileNameText->text()))
            return;
        finish(TypedName, false, FileNameText->text());
        return;
    }
    finish(index + 1, AlwaysCheck->isEnabled() && AlwaysCheck->isChecked(), QString());
}

void ExistingFileDialog::reject()
{
    finish(Canceled, false, QString());
}

void ExistingFileDialog::finish(int choice, bool always, const QString& newName)
{
    if (!done) {
        done = true;
        QPointer<ExistingFileDialog> self(this);
        Q_EMIT answered(choice, always, newName);
        if (!self)
            return;
    }
    QDialog::done(choice == Canceled ? Rejected : Accepted);
}

void ExistingFileDialog::withdraw()
{
    done = true;
    QDialog::done(Rejected);
}
