#pragma once

#include <QLineEdit>
#include <QTimer>

namespace brisko {

// The search field above the recipient table. Its action, searchRequested(), goes out a
// moment after the user stops typing, at once when the text is cleared or Return is
// pressed; the window connects it to BriskoApplication::filterListFromField.
class BriskoSearchToolbarItem : public QLineEdit
{
    Q_OBJECT

public:
    // The pause in typing after which a changed text is searched for, in milliseconds.
    static constexpr int TypingPause = 150;

    explicit BriskoSearchToolbarItem(QWidget *parent = nullptr);

Q_SIGNALS:
    void searchRequested(QLineEdit *field);

private:
    void textWasChanged(const QString &text);
    void sendAction();

    QTimer m_pause;
};

} // namespace brisko
