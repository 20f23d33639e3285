#pragma once

// Answers the window's modal dialogs from a test without ever blocking on them: a
// timer looks for the active modal widget, notes what it says and presses the button
// the test asked for. With messageBoxesOnly it leaves every other dialog (panels and
// sheets the test drives itself) alone.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

class DialogDriver : public QObject
{
public:
    explicit DialogDriver(bool messageBoxesOnly = false) : m_messageBoxesOnly(messageBoxesOnly)
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
    }

    // The next dialogs are answered with these button titles, in order. A dialog that
    // finds the queue empty is rejected and counted as unexpected.
    void answer(const QStringList &buttons) { m_answers += buttons; }

    int shown() const { return int(m_texts.size()); }
    int unexpected() const { return m_unexpected; }
    // Heading and informative text of every dialog seen, joined by a newline.
    QStringList texts() const { return m_texts; }
    QStringList buttonsSeen() const { return m_buttons; }

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        auto *dialog = qobject_cast<QDialog *>(modal);
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!dialog || dialog == m_last || !dialog->isVisible() || (m_messageBoxesOnly && !box))
            return;
        m_last = dialog;
        QString text;
        if (box) {
            text = box->text() + u'\n' + box->informativeText();
        } else {
            const auto labels = dialog->findChildren<QLabel *>();
            for (QLabel *label : labels)
                text += label->text() + u'\n';
        }
        m_texts.append(text);
        QStringList titles;
        const auto buttons = box ? box->buttons() : dialog->findChildren<QAbstractButton *>();
        for (QAbstractButton *button : buttons)
            titles.append(button->text());
        m_buttons.append(titles.join(u'|'));
        if (m_answers.isEmpty()) {
            ++m_unexpected;
            dialog->reject();
            return;
        }
        const QString wanted = m_answers.takeFirst();
        for (QAbstractButton *button : buttons) {
            if (button->text() == wanted) {
                QTimer::singleShot(0, button, &QAbstractButton::click);
                return;
            }
        }
        ++m_unexpected;
        dialog->reject();
    }

    bool m_messageBoxesOnly;
    QTimer m_timer;
    QPointer<QDialog> m_last;
    QStringList m_answers;
    QStringList m_texts;
    QStringList m_buttons;
    int m_unexpected = 0;
};
