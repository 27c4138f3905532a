#pragma once
#include <QWidget>

class QTextBrowser;

// The help viewer: the program's help pages (built into the program's resources) in a
// browser with back, forward and contents. Links to other help pages stay inside; web and
// mail links open in the user's own programs.
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows page `topic`; a number with no page shows the contents. Returns whether the
    // topic has a page of its own.
    bool showTopic(int topic);
    static QUrl topicUrl(int topic);
    static bool hasTopic(int topic);

    QTextBrowser* browser() const { return view; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTextBrowser* view;
};
