// The message editors, the HTML preview and the placeholder lists.

#include "BriskoApplication.h"

#include "applogging.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWebEngineView>

namespace brisko {

void BriskoApplication::connectEditor() {}


void BriskoApplication::importHTMLPath(const QString &path)
{
    // The HTML hand-over arrives with the editor's import; until then it is only noted.
    qCInfo(lcApp) << "BriskoApplication.importHTMLPath -" << path;
    Q_EMIT htmlPathImported(path);
}

void BriskoApplication::updateHTMLPreview()
{
    if (m_htmlPreviewView && m_htmlView)
        m_htmlPreviewView->setHtml(m_htmlView->toPlainText(), QUrl());
}

void BriskoApplication::refreshFieldsFromCampaign()
{
    if (m_updatingFields)
        return;
    m_updatingFields = true;
    auto setLine = [](QLineEdit *edit, const QString &text) {
        if (edit && edit->text() != text)
            edit->setText(text);
    };
    auto setEditor = [](QPlainTextEdit *editor, const QString &text) {
        if (editor && editor->toPlainText() != text)
            editor->setPlainText(text);
    };
    setLine(m_subjectField, m_campaign.subject());
    setLine(m_fromField, m_campaign.from());
    setLine(m_replyToField, m_campaign.replyTo());
    setLine(m_returnPathField, m_campaign.returnPath());
    setEditor(m_bodyView, m_campaign.body());
    setEditor(m_htmlView, m_campaign.html());
    m_updatingFields = false;
}

} // namespace brisko
