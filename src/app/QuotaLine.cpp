#include "QuotaLine.h"

#include "FennimarAttributedStrings.h"
#include "Localization.h"

#include <QFontDatabase>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPropertyAnimation>

using namespace Qt::StringLiterals;

namespace brisko::QuotaLine {

namespace {

QGraphicsOpacityEffect *effectOf(QWidget *field)
{
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(field->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(field);
        effect->setOpacity(1.0);
        field->setGraphicsEffect(effect);
    }
    return effect;
}

void stopFading(QGraphicsOpacityEffect *effect)
{
    const auto running = effect->findChildren<QPropertyAnimation *>(Qt::FindDirectChildrenOnly);
    for (QPropertyAnimation *animation : running) {
        animation->stop();
        delete animation;
    }
}

} // namespace

QFont regularFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(10);
    return font;
}

QFont boldFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(11);
    font.setBold(true);
    return font;
}

StyledText build(const std::optional<QString> &max24, const std::optional<QString> &maxRate,
                 const std::optional<QString> &sentLast24)
{
    const QColor white(Qt::white);
    const QFont bold = boldFont();
    const QFont regular = regularFont();
    const auto run = [&white](const QString &text, const QFont &font) {
        return FennimarAttributedStrings::immutableAttributedString(text, font, white);
    };

    StyledText line;
    line += run(u"Amazon SES : "_s, bold);
    line += run(tr(u"Max24HrSend:"_s), regular);
    line += run(max24.value_or(QString()), bold);
    line += run(u"  "_s, regular);
    line += run(tr(u"MaxSendRate:"_s), regular);
    line += run(maxRate.value_or(QString()), bold);
    line += run(u"  "_s, regular);
    line += run(tr(u"SentLast24:"_s), regular);
    line += run(sentLast24.value_or(QString()), bold);
    return line;
}

StyledText note(const QString &text)
{
    return FennimarAttributedStrings::immutableAttributedString(text, regularFont(), QColor(Qt::white));
}

void hide(QWidget *field)
{
    if (!field)
        return;
    QGraphicsOpacityEffect *effect = effectOf(field);
    stopFading(effect);
    effect->setOpacity(0.0);
}

qreal opacity(const QWidget *field)
{
    if (!field)
        return 1.0;
    const auto *effect = qobject_cast<const QGraphicsOpacityEffect *>(field->graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

void fadeIn(QLabel *field, const StyledText &line)
{
    if (!field)
        return;
    field->setTextFormat(Qt::RichText);
    field->setText(line.toHtml());

    QGraphicsOpacityEffect *effect = effectOf(field);
    stopFading(effect);
    auto *animation = new QPropertyAnimation(effect, "opacity", effect);
    animation->setDuration(FadeDurationMs);
    animation->setStartValue(effect->opacity());
    animation->setEndValue(1.0);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace brisko::QuotaLine
