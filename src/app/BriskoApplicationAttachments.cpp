// Attachments, the Unsubscribe field and the message size shown beside the attachment list.

#include "BriskoApplication.h"

#include "CampaignFile.h"
#include "InterfaceLoader.h"
#include "Localization.h"
#include "MimeMessage.h"
#include "RidorIvuvud.h"
#include "SendRun.h"
#include "applogging.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QKeyEvent>
#include <QTimer>
#include <QToolButton>
#include <QUndoStack>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace brisko {

namespace {

// The size shown is measured at most this often while the user types.
constexpr int SizeDelayMs = 300;

// A change already made when it is pushed (see the list's undo steps).
class AttachmentStep : public QUndoCommand
{
public:
    AttachmentStep(const QString &text, Campaign *campaign, AttachmentList before, AttachmentList after)
        : QUndoCommand(text), m_campaign(campaign), m_before(std::move(before)), m_after(std::move(after))
    {
    }
    void undo() override { m_campaign->setAttachments(m_before); }
    void redo() override
    {
        if (m_pushed)
            m_campaign->setAttachments(m_after);
        m_pushed = true;
    }

private:
    Campaign *m_campaign;
    AttachmentList m_before, m_after;
    bool m_pushed = false;
};

// The local files a drag carries; empty when it carries anything else.
QStringList droppedFiles(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls()) {
        if (!url.isLocalFile())
            return {};
        paths.append(url.toLocalFile());
    }
    return paths;
}

QString sizeText(qint64 bytes)
{
    if (bytes < 1024 * 1024)
        return brisko::tr(u"SizeKB"_s).arg(std::max<qint64>(1, (bytes + 1023) / 1024));
    return brisko::tr(u"SizeMB"_s).arg(double(bytes) / (1024.0 * 1024.0), 0, 'f', 1);
}

} // namespace

void BriskoApplication::connectAttachments()
{
    m_unsubscribeField = child<QLineEdit>(m_window, "unsubscribeField");
    m_attachmentList = child<QListWidget>(m_window, "attachmentList");
    m_messageSizeLabel = child<QLabel>(m_window, "messageSizeLabel");
    if (m_unsubscribeField) {
        connect(m_unsubscribeField, &QLineEdit::textChanged, this, [this](const QString &text) {
            if (m_updatingFields)
                return;
            m_updatingFields = true;
            m_campaign.setField(Campaign::Field::Unsubscribe, text);
            m_updatingFields = false;
        });
    }
    if (QAction *attach = child<QAction>(m_window, "attachFilesAction"))
        connect(attach, &QAction::triggered, this, [this] { attachFiles(); });
    if (auto *button = child<QToolButton>(m_window, "attachFilesButton")) {
        if (QAction *attach = child<QAction>(m_window, "attachFilesAction"))
            button->setDefaultAction(attach);
    }
    if (m_attachmentList) {
        m_attachmentList->setSelectionMode(QAbstractItemView::ExtendedSelection);
        // Delete and Backspace remove the selected files (see attachmentEvent()).
        m_attachmentList->installEventFilter(this);
        m_attachmentList->setAcceptDrops(true);
        m_attachmentList->viewport()->setAcceptDrops(true);
        m_attachmentList->viewport()->installEventFilter(this);
    }
    // Files dropped on the editors are attached rather than typed in as their paths.
    for (QPlainTextEdit *editor : {m_bodyView, m_htmlView}) {
        if (editor)
            editor->viewport()->installEventFilter(this);
    }

    m_sizeTimer = new QTimer(this);
    m_sizeTimer->setSingleShot(true);
    m_sizeTimer->setInterval(SizeDelayMs);
    connect(m_sizeTimer, &QTimer::timeout, this, &BriskoApplication::updateMessageSize);
    const auto later = [this] { m_sizeTimer->start(); };
    connect(&m_campaign, &Campaign::fieldChanged, this, later);
    connect(&m_campaign, &Campaign::recipientsReset, this, later);
    connect(&m_campaign, &Campaign::attachmentsChanged, this, [this] {
        refreshAttachmentList();
        m_sizeTimer->start();
    });
    refreshAttachmentList();
    updateMessageSize();
}

void BriskoApplication::attachFiles()
{
    QStringList paths;
    if (m_attachChooser)
        paths = m_attachChooser();
    else
        paths = QFileDialog::getOpenFileNames(m_window, brisko::tr(u"AttachFiles…"_s));
    addAttachments(paths);
}

bool BriskoApplication::addAttachments(const QStringList &paths)
{
    AttachmentList files = m_campaign.attachments();
    QStringList refused;
    for (const QString &path : paths) {
        CampaignFile::AttachmentRead read = CampaignFile::readAttachment(path);
        if (read.attachment)
            files.append(std::move(*read.attachment));
        else
            refused.append(read.error);
    }
    const AttachmentList before = m_campaign.attachments();
    if (files.size() != before.size()) {
        m_campaign.setAttachments(files);
        if (m_undoStack)
            m_undoStack->push(new AttachmentStep(brisko::tr(u"AttachFiles…"_s), &m_campaign, before, files));
        qCInfo(lcApp).noquote() << u"attached %1 file(s)"_s.arg(files.size() - before.size());
    }
    if (!refused.isEmpty())
        RidorIvuvud::showSimpleDialog(brisko::tr(u"AttachRefused_Head"_s), refused.join(u'\n'));
    return refused.isEmpty();
}

void BriskoApplication::removeSelectedAttachments()
{
    if (!m_attachmentList)
        return;
    QList<int> rows;
    for (const QModelIndex &index : m_attachmentList->selectionModel()->selectedRows())
        rows.append(index.row());
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end(), std::greater<>());
    const AttachmentList before = m_campaign.attachments();
    AttachmentList after = before;
    for (const int row : std::as_const(rows)) {
        if (row < after.size())
            after.removeAt(row);
    }
    m_campaign.setAttachments(after);
    if (m_undoStack)
        m_undoStack->push(new AttachmentStep(brisko::tr(u"RemoveAttachment"_s), &m_campaign, before, after));
}

void BriskoApplication::refreshAttachmentList()
{
    if (!m_attachmentList)
        return;
    m_attachmentList->clear();
    for (const Attachment &file : m_campaign.attachments()) {
        auto *item = new QListWidgetItem(u"%1 (%2)"_s.arg(file.name, sizeText(file.data.size())), m_attachmentList);
        item->setToolTip(file.type);
    }
}

void BriskoApplication::updateMessageSize()
{
    if (!m_messageSizeLabel)
        return;
    // The message of the first row, or of an empty record when there is none.
    SendRun::RunInfo info = messageForChecks();
    RecipientList one;
    one.append(m_campaign.recipients().isEmpty() ? std::make_shared<Recipient>() : m_campaign.recipients().first());
    const SendRun::SizeCheck check = SendRun::checkSizes(info, one);
    const bool over = check.largest > MimeMessage::MaxRawMessageBytes;
    m_messageSizeLabel->setText(brisko::tr(u"MessageSize"_s).arg(sizeText(check.largest),
                                                                  sizeText(MimeMessage::MaxRawMessageBytes)));
    m_messageSizeLabel->setStyleSheet(over ? u"color: #c0392b; font-weight: bold;"_s : QString());
    m_messageSizeLabel->setAccessibleDescription(over ? brisko::tr(u"MessageTooLarge"_s) : QString());
}

SendRun::RunInfo BriskoApplication::messageForChecks() const
{
    const auto text = [](QLineEdit *field, const QString &fallback) { return field ? field->text() : fallback; };
    SendRun::RunInfo info;
    info.subject = text(m_subjectField, m_campaign.subject());
    info.sender = text(m_fromField, m_campaign.from());
    info.replyTo = text(m_replyToField, m_campaign.replyTo());
    info.returnPath = text(m_returnPathField, m_campaign.returnPath());
    info.body = m_bodyView ? m_bodyView->toPlainText() : m_campaign.body();
    info.htmlMessage = m_htmlView ? m_htmlView->toPlainText() : m_campaign.html();
    // An unusable unsubscribe text is told at send; the size is measured without it meanwhile.
    (void)SendRun::setExtras(info, text(m_unsubscribeField, m_campaign.unsubscribe()), m_campaign.attachments());
    info.attachments = m_campaign.attachments();
    return info;
}

bool BriskoApplication::attachmentEvent(QObject *watched, QEvent *event)
{
    if (m_attachmentList && watched == m_attachmentList && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace) &&
            key->modifiers() == Qt::NoModifier) {
            removeSelectedAttachments();
            return true;
        }
        return false;
    }
    const bool editor = (m_bodyView && watched == m_bodyView->viewport()) ||
                        (m_htmlView && watched == m_htmlView->viewport());
    const bool list = m_attachmentList && watched == m_attachmentList->viewport();
    if (!editor && !list)
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (droppedFiles(drag->mimeData()).isEmpty())
            return false;
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QStringList paths = droppedFiles(drop->mimeData());
        if (paths.isEmpty())
            return false;
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        // Not from inside the drop: a refusal's message box must not run in the drag's loop.
        QTimer::singleShot(0, this, [this, paths] { addAttachments(paths); });
        return true;
    }
    default:
        return false;
    }
}

} // namespace brisko
