#pragma once

// Answers the window's message boxes from a test without ever blocking on them: a timer
// looks for the active modal box, notes what it says and presses the button the test
// asked for. Other dialogs (panels and sheets the test drives itself) are left alone.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
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
    // Per box seen: its text and informative text joined by a newline; its button titles
    // joined by "|".
    QStringList texts() const { return m_texts; }
    QStringList buttonsSeen() const { return m_buttons; }

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box->property("answered").toBool())
            return;
        box->setProperty("answered", true);
        m_texts.append(box->text() + QLatin1Char('\n') + box->informativeText());
        QStringList titles;
        for (QAbstractButton *button : box->buttons())
            titles.append(button->text());
        m_buttons.append(titles.join(QLatin1Char('|')));
        const qsizetype wanted = m_answers.isEmpty() ? -1 : titles.indexOf(m_answers.takeFirst());
        if (wanted < 0) {
            ++m_unexpected;
            box->reject();
        } else {
            QTimer::singleShot(0, box->buttons().at(wanted), &QAbstractButton::click);
        }
    }

    QTimer m_timer;
    QStringList m_answers, m_texts, m_buttons;
    int m_unexpected = 0;
};
