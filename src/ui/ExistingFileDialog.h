#pragma once
#include <QDateTime>
#include <QDialog>
#include <QString>
#include <QStringView>

class QButtonGroup;
class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// "File Already Exists": what to do with an incoming file whose name is taken in the
// target folder. Modeless; closing it by its close box (or Esc) cancels.
class ExistingFileDialog : public QDialog {
    Q_OBJECT
public:
    // Decisions, as the transfer side numbers them.
    enum Choice { Overwrite = 1, Resume = 2, NumberedName = 3, TypedName = 4, Canceled = 5 };

    explicit ExistingFileDialog(const QString& fileName, QWidget* owner = nullptr);

    // Shows the size and date of the file already at `existingPath` and the offered size.
    void showFiles(const QString& existingPath, qint64 offeredSize);
    // "123 KiB, 2026-12-07 16:05" for a file, the size alone without a date.
    static QString describe(qint64 size, const QDateTime& modified = {});

    // Closes the dialog without answering (the offer went away).
    void withdraw();
    // The option button with index 0 to 3 (all four are named "Option1").
    QRadioButton* option(int index) const;

    // The characters a typed file name may not hold.
    static constexpr QStringView forbiddenCharacters = u"\\/:*?\"<>|";

Q_SIGNALS:
    // The one answer. always: the choice (1 to 3) is to stand for every later file.
    // newName is the typed name for TypedName, else empty.
    void answered(int choice, bool always, const QString& newName);

public Q_SLOTS:
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QFormLayout* buildFacts();
    void buildNameEdit();
    void optionSelected(int index);
    void confirm();
    void finish(int choice, bool always, const QString& newName);
    void updateOk();

    const QString offeredName;
    bool done = false;
    QButtonGroup* choiceGroup;
    QLabel* existingLabel;
    QLabel* offeredLabel;
    QCheckBox* alwaysCheck;
    QLineEdit* newNameEdit;
    QPushButton* okButton;
    QPushButton* cancelButton;
    QPushButton* helpButton;
};
