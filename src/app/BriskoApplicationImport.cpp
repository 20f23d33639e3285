// Importing and exporting recipient lists.

#include "BriskoApplication.h"

#include "AtomicFile.h"
#include "Localization.h"
#include "RecipientExport.h"
#include "RecipientImport.h"
#include "RecipientTableModel.h"
#include "RidorIvuvud.h"
#include "applogging.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSignalBlocker>

namespace brisko {

void BriskoApplication::connectImport()
{
    const std::pair<const char *, void (BriskoApplication::*)()> actions[] = {
        {"importListAction", &BriskoApplication::importList},
        {"exportListAction", &BriskoApplication::exportList},
    };
    for (const auto &[name, slot] : actions) {
        auto *action = m_window ? m_window->findChild<QAction *>(QLatin1StringView(name)) : nullptr;
        if (!action)
            continue;
        connect(action, &QAction::triggered, this, slot);
        action->setEnabled(true);
    }
}

void BriskoApplication::importList()
{
    QStringList paths;
    if (m_importChooser)
        paths = m_importChooser();
    else
        paths = QFileDialog::getOpenFileNames(m_window, brisko::tr(QStringLiteral("ImportList…")));
    for (const QString &path : std::as_const(paths))
        importListFile(path);
}

void BriskoApplication::importListFile(const QString &path)
{
    const int answer = RidorIvuvud::showDialog(
        QStringLiteral("What kind of file are you importing?"),
        QStringLiteral("TSV is a text file separated with tabs, CSV is separated by commas."), QStringLiteral("CSV"),
        QStringLiteral("TSV"), QStringLiteral("Cancel"));
    if (answer == RidorIvuvud::ThirdButton)
        return;
    const auto separator =
        answer == RidorIvuvud::SecondButton ? RecipientImport::Separator::Tab : RecipientImport::Separator::Comma;

    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const RecipientImport::Result result = RecipientImport::importFile(path, separator);
    QGuiApplication::restoreOverrideCursor();

    switch (result.status) {
    case RecipientImport::Status::Ok:
        break;
    case RecipientImport::Status::TooLarge:
        qCWarning(lcApp).noquote() << "BriskoApplication.importListFile - too large:" << path;
        RidorIvuvud::showSimpleDialog(brisko::tr(QStringLiteral("ImportTooLarge_Head")),
                                      brisko::tr(QStringLiteral("ImportTooLarge_Sub")));
        return;
    case RecipientImport::Status::LineTooLong:
        qCWarning(lcApp).noquote() << "BriskoApplication.importListFile - line" << result.line << "too long:" << path;
        RidorIvuvud::showSimpleDialog(brisko::tr(QStringLiteral("ImportLineTooLong_Head")),
                                      brisko::tr(QStringLiteral("ImportLineTooLong_Sub")).arg(result.line));
        return;
    case RecipientImport::Status::Unreadable:
    case RecipientImport::Status::NoEmailHeading:
        qCInfo(lcApp).noquote() << "BriskoApplication.importListFile -"
                                << (result.status == RecipientImport::Status::Unreadable ? "could not read"
                                                                                         : "no EMAIL heading in")
                                << path;
        RidorIvuvud::showSimpleDialog(
            QStringLiteral("Import file needs column headings."),
            QStringLiteral("The import file must have headings for columns, one of which must be 'EMAIL'."));
        return;
    }

    const ListState before = listState();
    setupTableColumns(result.headings);
    m_campaign.appendRecipients(result.records);
    pushListChange(brisko::tr(QStringLiteral("ImportList…")), before);
    const RecipientImport::Counts &counts = result.counts;
    qCInfo(lcApp).noquote() << "BriskoApplication.importListFile -" << path << "taken" << counts.taken << "dropped"
                            << counts.dropped() << "(no address" << counts.missingAddress << "invalid"
                            << counts.invalidAddress << "control characters" << counts.controlAddress << "repeated"
                            << counts.repeatedAddress << ")";
    importDone();
    if (counts.controlAddress > 0) {
        // Such lines look fine in the table's cells, so their absence is told outright.
        RidorIvuvud::showSimpleDialog(
            brisko::tr(QStringLiteral("ImportControlCharacters_Head")),
            brisko::tr(QStringLiteral("ImportControlCharacters_Sub")).arg(counts.controlAddress));
    }
    showStatus(importSummary(QFileInfo(path).fileName(), counts));
}

QString BriskoApplication::importSummary(const QString &fileName, const RecipientImport::Counts &counts)
{
    QString text = brisko::tr(QStringLiteral("ImportSummary")).arg(fileName).arg(counts.taken);
    if (counts.dropped() == 0)
        return text;
    QStringList why;
    const std::pair<qsizetype, const char *> reasons[] = {
        {counts.missingAddress, "ImportDropped_NoAddress"},
        {counts.invalidAddress, "ImportDropped_Invalid"},
        {counts.controlAddress, "ImportDropped_Control"},
        {counts.repeatedAddress, "ImportDropped_Repeated"},
    };
    for (const auto &[count, key] : reasons) {
        if (count > 0)
            why.append(brisko::tr(QString::fromLatin1(key)).arg(count));
    }
    return text + u' ' + brisko::tr(QStringLiteral("ImportDropped")).arg(counts.dropped()).arg(why.join(u"; "_qs));
}

void BriskoApplication::setupTableColumns(const QStringList &columns)
{
    m_campaign.setupTableColumns(columns);
}

void BriskoApplication::importDone()
{
    if (m_tableModel)
        m_tableModel->reload();
    resetPlaceholderLists(true);
}

bool BriskoApplication::isValidEmailAddress(const std::optional<QString> &address)
{
    return RecipientImport::isValidEmailAddress(address);
}

void BriskoApplication::exportList()
{
    const QString text = exportData();
    const QString proposed = currentCampaignName().value_or(brisko::tr(QStringLiteral("Untitled"))) + u".tsv"_qs;
    std::optional<QString> chosen;
    if (m_exportChooser) {
        chosen = m_exportChooser(proposed);
    } else {
        QFileDialog panel(m_window, brisko::tr(QStringLiteral("ExportList…")));
        panel.setAcceptMode(QFileDialog::AcceptSave);
        panel.setNameFilter(QStringLiteral("TSV (*.tsv)"));
        panel.setDefaultSuffix(QStringLiteral("tsv"));
        panel.selectFile(proposed);
        if (panel.exec() == QDialog::Accepted && !panel.selectedFiles().isEmpty())
            chosen = panel.selectedFiles().constFirst();
    }
    if (!chosen || chosen->isEmpty())
        return;
    QString path = *chosen;
    if (!path.endsWith(u".tsv", Qt::CaseInsensitive))
        path += u".tsv"_qs;
    if (const auto error = AtomicFile::write(path, text.toUtf8())) {
        qCWarning(lcApp).noquote() << "BriskoApplication.exportList - could not write" << path << *error;
        RidorIvuvud::showDialog(brisko::tr(QStringLiteral("ExportFailed_Head")),
                                brisko::tr(QStringLiteral("ExportFailed_Body")).arg(path, *error),
                                brisko::tr(QStringLiteral("OK")));
    }
}

QString BriskoApplication::exportData() const
{
    return RecipientExport::exportData(m_campaign.recipients(), columnNames());
}

} // namespace brisko
