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
    : QDialog(owner), offeredName(LineText::visible(fileName))
{
    setObjectName(QStringLiteral("FAExists"));
    setWindowTitle(QStringLiteral("File Already Exists"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);

    QFormLayout* files = buildFacts();

    choiceGroup = new QButtonGroup(this);
    const QStringList captions = {QStringLiteral("Overwrite"), QStringLiteral("Resume "), QStringLiteral("QV Rename "),
                                  QStringLiteral("User Rename")};
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(files);
    for (int i = 0; i < captions.size(); ++i) {
        auto* button = new QRadioButton(captions[i], this);
        button->setObjectName(QStringLiteral("Option1"));
        button->setProperty("index", i);
        choiceGroup->addButton(button, i);
        layout->addWidget(button);
    }

    buildNameEdit();
    layout->addWidget(newNameEdit);

    alwaysCheck = new QCheckBox(QStringLiteral("Always Overwrite From Now On"), this);
    alwaysCheck->setObjectName(QStringLiteral("AlwaysCheck"));
    layout->addWidget(alwaysCheck);

    okButton = namedButton("OkButton", QStringLiteral("OK"), this);
    cancelButton = namedButton("CancelButton", QStringLiteral("CANCEL"), this);
    helpButton = namedButton("HelpButton", QStringLiteral("Help"), this);
    okButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    buttons->addWidget(helpButton);
    layout->addLayout(buttons);

    option(0)->setChecked(true);
    newNameEdit->setEnabled(false);

    connect(choiceGroup, &QButtonGroup::idClicked, this, &ExistingFileDialog::optionSelected);
    connect(newNameEdit, &QLineEdit::textChanged, this, &ExistingFileDialog::updateOk);
    connect(okButton, &QPushButton::clicked, this, &ExistingFileDialog::confirm);
    connect(cancelButton, &QPushButton::clicked, this, [this] { finish(Canceled, false, QString()); });
    connect(helpButton, &QPushButton::clicked, this, [this] { showHelpTopic(7, this); });
}

// Which file is which, to decide between them.
QFormLayout* ExistingFileDialog::buildFacts()
{
    auto* names = new QLabel(QStringLiteral("\"%1\" is already in the folder.").arg(offeredName), this);
    names->setTextFormat(Qt::PlainText);
    existingLabel = new QLabel(this);
    existingLabel->setObjectName(QStringLiteral("ExistingLabel"));
    offeredLabel = new QLabel(this);
    offeredLabel->setObjectName(QStringLiteral("OfferedLabel"));
    auto* files = new QFormLayout;
    files->addRow(names);
    files->addRow(QStringLiteral("Here :"), existingLabel);
    files->addRow(QStringLiteral("Offered :"), offeredLabel);
    return files;
}

// The box for a name of the user's own.
void ExistingFileDialog::buildNameEdit()
{
    newNameEdit = new QLineEdit(offeredName, this);
    newNameEdit->setObjectName(QStringLiteral("FileNameText"));
    // Characters no file name may hold are refused as they are typed, and pasted text
    // holding one is refused whole, so the name never leaves the target folder.
    newNameEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[^") + QRegularExpression::escape(forbiddenCharacters) + ']' + '*'),
        newNameEdit));
    newNameEdit->installEventFilter(this);
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
    existingLabel->setText(here.exists() ? describe(here.size(), here.lastModified()) : QString());
    // The offer carries no date.
    offeredLabel->setText(offeredSize >= 0 ? describe(offeredSize) : QString());
}

QRadioButton* ExistingFileDialog::option(int index) const
{
    return qobject_cast<QRadioButton*>(choiceGroup->button(index));
}

void ExistingFileDialog::optionSelected(int index)
{
    alwaysCheck->setEnabled(true);
    switch (index) {
    case 0:
        alwaysCheck->setText(QStringLiteral("Always Overwrite From Now On"));
        newNameEdit->setEnabled(false);
        break;
    case 1:
        alwaysCheck->setText(QStringLiteral("Always Resume From Now On"));
        newNameEdit->setEnabled(false);
        break;
    case 2:
        alwaysCheck->setText(QStringLiteral("Always Rename From Now On"));
        newNameEdit->setEnabled(false);
        break;
    default:
        // A typed name can never become a standing decision.
        alwaysCheck->setChecked(false);
        alwaysCheck->setEnabled(false);
        alwaysCheck->setText(QString());
        newNameEdit->setText(offeredName);
        newNameEdit->setEnabled(true);
        newNameEdit->setFocus();
        break;
    }
    updateOk();
}

void ExistingFileDialog::updateOk()
{
    okButton->setEnabled(choiceGroup->checkedId() != 3 || !unusableName(newNameEdit->text()));
}

bool ExistingFileDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == newNameEdit && event->type() == QEvent::FocusIn && newNameEdit->isEnabled()) {
        // Select the whole name once the line edit has finished taking the focus.
        QTimer::singleShot(0, newNameEdit, &QLineEdit::selectAll);
    }
    return QDialog::eventFilter(watched, event);
}

void ExistingFileDialog::confirm()
{
    const int index = choiceGroup->checkedId();
    if (index == 3) {
        if (unusableName(newNameEdit->text()))
            return;
        finish(TypedName, false, newNameEdit->text());
        return;
    }
    finish(index + 1, alwaysCheck->isEnabled() && alwaysCheck->isChecked(), QString());
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
