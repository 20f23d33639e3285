#pragma once

#include <QByteArray>
#include <QString>

namespace brisko {

// The outbox folder: instead of sending, a delivery run can write each recipient's message
// into a folder, one .eml file per recipient, for the user to proof before sending for real.
namespace Outbox {

// The status recorded for a recipient whose message was written.
inline constexpr QStringView SavedStatus = u"Saved";

// "0003-jane.doe@example.com.eml": the row counted from 1, padded to at least four digits
// (more when `rows` needs them) so that the files sort in row order, then the address
// ("Name <address>" gives the address alone) with every character other than letters, digits and "@._+-" made
// "_" (a leading dot too, so no file is hidden), cut to 100 characters. An empty address gives "no-address".
QString fileName(qsizetype row, const QString &address, qsizetype rows = 0);

struct WriteResult
{
    bool ok = false;
    QString path;    // the file written (or meant to be)
    QString failure; // why it was not, when it was not
};

// Writes the message as `folder`/`name`, replacing a file of that name, atomically: the
// file appears complete or not at all, and every write down to the disk is checked. The
// folder is made when missing.
WriteResult writeMessage(const QString &folder, const QString &name, const QByteArray &message);

} // namespace Outbox

} // namespace brisko
