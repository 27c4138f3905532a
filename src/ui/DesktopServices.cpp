#include "ui/DesktopServices.h"

#include "ui/HelpWindow.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>
#include <QWidget>

void showHelpTopic(int topic, QWidget* owner)
{
    // One help window per main window, found again by name, so every caller shares it.
    QWidget* top = owner ? owner->window() : nullptr;
    HelpWindow* help =
        top ? top->findChild<HelpWindow*>(QStringLiteral("HelpWindow"), Qt::FindDirectChildrenOnly) : nullptr;
    if (!help) {
        help = new HelpWindow(top);
        if (!top)
            help->setAttribute(Qt::WA_DeleteOnClose);
    }
    help->showTopic(topic);
    help->show();
    help->raise();
    help->activateWindow();
}

void openLink(const QString& link, QWidget* owner)
{
    if (QDesktopServices::openUrl(QUrl::fromUserInput(link)))
        return;
    auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Open Link"),
                                QStringLiteral("error Opening Link to ") + link
                                    + QStringLiteral("\r\n\r\nNo program is set to open it."),
                                QMessageBox::Ok, owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QString browseForFolder(const QString& initialFolder, QWidget* owner)
{
    return QFileDialog::getExistingDirectory(owner, QString(), initialFolder);
}

void browseForFolder(const QString& initialFolder, QWidget* owner, std::function<void(const QString&)> chosen)
{
    auto* dialog = new QFileDialog(owner, QString(), initialFolder);
    dialog->setObjectName(QStringLiteral("BrowseFolder"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The dialog is the owner's child, so it and this connection go with the owner.
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [chosen = std::move(chosen)](const QString& folder) {
        if (!folder.isEmpty())
            chosen(folder);
    });
    dialog->open();
}

void setAlwaysOnTop(QWidget* window, bool on)
{
    if (!window || window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on)
        return;
    // Changing a window flag hides the window; bring it back where it was.
    const bool wasVisible = window->isVisible();
    const QRect geometry = window->geometry();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (wasVisible) {
        window->setGeometry(geometry);
        window->show();
    }
}
