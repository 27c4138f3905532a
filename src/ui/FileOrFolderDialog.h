#pragma once
#include <QDialog>
#include <QIcon>

class PeerState;
class QPushButton;

// The chooser "Select File Type to Send" of the send command: one picture button for files,
// one for a folder. It remembers the last choice in sendFileChosen and puts the focus on that
// button. Modeless; it deletes itself when closed.
class FileOrFolderDialog : public QDialog {
    Q_OBJECT
public:
    FileOrFolderDialog(PeerState& ctx, QWidget* owner);

    // The pictures on the two buttons, drawn at `size` pixels.
    static QIcon fileIcon(int size = 48);
    static QIcon folderIcon(int size = 48);

    QPushButton* filesButton = nullptr;
    QPushButton* folderButton = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* helpButton = nullptr;

Q_SIGNALS:
    // Files (true) or a folder (false) were chosen; a cancel or the close box sends nothing.
    void chosen(bool files);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void choose(bool files);
    PeerState& ctx;
};
