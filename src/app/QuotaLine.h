#pragma once

#include "StyledText.h"

#include <QFont>
#include <QString>

#include <optional>

class QLabel;
class QWidget;

namespace brisko {

// The line in the window's header that shows the account's sending limits: nine runs of
// white text, the labels in the regular system font of size 10 and the figures (and the
// service's name) in the bold system font of size 11.
namespace QuotaLine {

QFont regularFont();
QFont boldFont();

// "Amazon SES : ", then the localised "Max24HrSend:", "MaxSendRate:" and "SentLast24:"
// each followed by its figure, the groups two spaces apart. The figures stand exactly as
// the service wrote them; a missing one is empty.
StyledText build(const std::optional<QString> &max24, const std::optional<QString> &maxRate,
                 const std::optional<QString> &sentLast24);

// A line of one run in the regular font: what the field says instead of figures (a
// request under way, or why none came).
StyledText note(const QString &text);

// Makes the field fully transparent at once (stopping a fade-in under way).
void hide(QWidget *field);
// The field's opacity now, 0 to 1 (1 for a field that was never faded).
qreal opacity(const QWidget *field);
// Puts the line into the field and fades the field in over the default duration.
void fadeIn(QLabel *field, const StyledText &line);

// How long the fade-in takes.
inline constexpr int FadeDurationMs = 250;

} // namespace QuotaLine

} // namespace brisko
