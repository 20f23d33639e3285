#pragma once

// Answers the window's message boxes from a test without ever blocking on them: a timer
// looks for the active modal box, notes what it says and presses the button the test
// asked for. Other dialogs (panels and sheets the test drives itself) are left alone.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

class DialogDriver : public QObject
{
public:
    // Boxes are answered with these button titles in order (answer() adds more); a box that
    // finds none, or not that button, is rejected and counted as unexpected.
    explicit DialogDriver(const QStringList &answers = {}) : m_answers(answers)
    {
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start(10);
    }

    void answer(const QStringList &buttons) { m_answers += buttons; }

    int shown() const { return int(m_texts.size()); }
    int unexpected() const { return m_unexpected; }
    // Text and informative text of every box seen, joined by a newline.
    QStringList texts() const { return m_texts; }
    // The button titles of every box seen, joined by "|".
    QStringList buttonsSeen() const { return m_buttons; }

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box == m_last || !box->isVisible())
            return;
        m_last = box;
        m_texts.append(box->text() + QLatin1Char('\n') + box->informativeText());
        const QList<QAbstractButton *> buttons = box->buttons();
        QStringList titles;
        for (QAbstractButton *button : buttons)
            titles.append(button->text());
        m_buttons.append(titles.join(QLatin1Char('|')));
        const qsizetype wanted = m_answers.isEmpty() ? -1 : titles.indexOf(m_answers.takeFirst());
        if (wanted < 0) {
            ++m_unexpected;
            box->reject();
            return;
        }
        QTimer::singleShot(0, buttons.at(wanted), &QAbstractButton::click);
    }

    QTimer m_timer;
    QPointer<QMessageBox> m_last;
    QStringList m_answers;
    QStringList m_texts;
    QStringList m_buttons;
    int m_unexpected = 0;
};
