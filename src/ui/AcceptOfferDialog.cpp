#include "ui/AcceptOfferDialog.h"
#include "ui/NamedButton.h"
#include "ui/ReadableSize.h"

#include "ui/DesktopServices.h"

#include "core/LineText.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel* namedLabel(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

AcceptOfferDialog::AcceptOfferDialog(const QString& name, const QString& sizeText, const QString& from,
                                     const QString& startFolder, bool autoAccept, QWidget* owner)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("AcceptIt"));
    setWindowTitle(QStringLiteral("Accept File?"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);

    fileNameLabel = namedLabel("FileNameLabel", this);
    sizeLabel = namedLabel("SizeLabel", this);
    senderLabel = namedLabel("FromLabel", this);
    folderLabel = namedLabel("DirectoryLabel", this);
    browseButton = namedButton("FolderBrowsButton", QStringLiteral("..."), this);
    autoAcceptCheck = new QCheckBox(QStringLiteral("Auto Accept Files From Now On"), this);
    autoAcceptCheck->setObjectName(QStringLiteral("AutoAcceptCheck"));
    autoAcceptCheck->setChecked(autoAccept);
    acceptButton = namedButton("AcceptButton", QStringLiteral("Accept It!"), this);
    declineButton = namedButton("DeclineButton", QStringLiteral("Decline!"), this);
    helpButton = namedButton("HelpButton", QStringLiteral("Help"), this);
    acceptButton->setDefault(true);
    browseButton->setFixedWidth(browseButton->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);

    // The peer's texts, shown as one line each.
    fileNameLabel->setText(shortenFront(LineText::visible(name), 24));
    // A byte count reads as a size ("2.8 GiB"); the exact count is in the tool tip.
    bool isCount = false;
    const qint64 bytes = sizeText.toLongLong(&isCount);
    const bool plainCount = isCount && bytes >= 0 && !sizeText.isEmpty() && sizeText.front().isDigit();
    sizeLabel->setText(plainCount ? readableSize(bytes) : shortenFront(LineText::visible(sizeText), 24));
    sizeLabel->setToolTip(shortenFront(LineText::visible(sizeText), 40) + QStringLiteral(" bytes"));
    senderLabel->setText(shortenFront(LineText::visible(from), 20));
    setFolder(startFolder);

    auto* facts = new QGridLayout;
    facts->addWidget(new QLabel(QStringLiteral("File Name :"), this), 0, 0);
    facts->addWidget(fileNameLabel, 0, 1);
    facts->addWidget(new QLabel(QStringLiteral("Size :"), this), 1, 0);
    facts->addWidget(sizeLabel, 1, 1);
    facts->addWidget(new QLabel(QStringLiteral("From :"), this), 2, 0);
    facts->addWidget(senderLabel, 2, 1);
    facts->setColumnStretch(1, 1);

    auto* frame = new QGroupBox(QStringLiteral("Save Directory"), this);
    auto* frameLayout = new QHBoxLayout(frame);
    frameLayout->addWidget(folderLabel, 1);
    frameLayout->addWidget(browseButton);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(acceptButton);
    buttons->addWidget(declineButton);
    buttons->addWidget(helpButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(facts);
    layout->addWidget(frame);
    layout->addWidget(autoAcceptCheck);
    layout->addLayout(buttons);

    connect(acceptButton, &QPushButton::clicked, this, [this] { finish(true); });
    connect(declineButton, &QPushButton::clicked, this, [this] { finish(false); });
    connect(browseButton, &QPushButton::clicked, this, &AcceptOfferDialog::browse);
    connect(helpButton, &QPushButton::clicked, this, [this] { showHelpTopic(7, this); });
}

QString AcceptOfferDialog::shortenFront(const QString& text, int limit)
{
    if (text.size() <= limit)
        return text;
    return QStringLiteral("...") + text.right(limit - 3);
}

void AcceptOfferDialog::setFolder(const QString& f)
{
    folder = f;
    folderLabel->setText(shortenFront(QDir::toNativeSeparators(f), 20));
    folderLabel->setToolTip(QDir::toNativeSeparators(f));
}

void AcceptOfferDialog::browse()
{
    // The picker starts at the folder without its trailing separator; the answer arrives
    // later, and never once this dialog is gone.
    QString start = folder;
    while (start.size() > 1 && (start.endsWith('/') || start.endsWith('\\')))
        start.chop(1);
    QPointer<AcceptOfferDialog> self(this);
    browseForFolder(start, this, [self](const QString& chosen) {
        if (self && !self->done && !chosen.isEmpty())
            self->setFolder(chosen);
    });
}

void AcceptOfferDialog::reject()
{
    // Esc and the close box: declining, unless an answer was already given.
    finish(false);
}

void AcceptOfferDialog::finish(bool accepted)
{
    if (!done) {
        done = true;
        QPointer<AcceptOfferDialog> self(this);
        Q_EMIT answered(accepted, folder, autoAcceptCheck->isChecked());
        if (!self)
            return;
    }
    QDialog::done(accepted ? Accepted : Rejected);
}

void AcceptOfferDialog::withdraw()
{
    done = true;
    QDialog::done(Rejected);
}
