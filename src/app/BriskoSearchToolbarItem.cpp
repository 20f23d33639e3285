#include "BriskoSearchToolbarItem.h"

#include "Localization.h"

namespace brisko {

BriskoSearchToolbarItem::BriskoSearchToolbarItem(QWidget *parent) : QLineEdit(parent)
{
    setPlaceholderText(brisko::tr(QStringLiteral("Search")));
    setClearButtonEnabled(true);
    setMinimumSize(100, 0);
    m_pause.setSingleShot(true);
    m_pause.setInterval(TypingPause);
    connect(&m_pause, &QTimer::timeout, this, &BriskoSearchToolbarItem::sendAction);
    connect(this, &QLineEdit::textChanged, this, &BriskoSearchToolbarItem::textWasChanged);
    connect(this, &QLineEdit::returnPressed, this, &BriskoSearchToolbarItem::sendAction);
}

void BriskoSearchToolbarItem::textWasChanged(const QString &text)
{
    if (text.isEmpty())
        sendAction();
    else
        m_pause.start();
}

void BriskoSearchToolbarItem::sendAction()
{
    m_pause.stop();
    Q_EMIT searchRequested(this);
}

} // namespace brisko
