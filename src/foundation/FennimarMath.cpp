#include "FennimarMath.h"

#include "foundationlogging.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace FennimarMath {

int randomNumber()
{
    return std::rand();
}

int randomNumberBetween(int low, int high)
{
    if (high < low) {
        qCWarning(lcFoundation, "FennimarMath.randomNumberBetween - high %d is below low %d", high, low);
        return low;
    }
    // The span is worked in 64 bits: INT_MIN..INT_MAX has 2^32 values.
    const qint64 span = qint64(high) - qint64(low) + 1;
    return int(qint64(low) + qint64(std::rand()) % span);
}

void seedRandom()
{
    std::srand(unsigned(std::time(nullptr)));
}

QString randomString()
{
    const int first = std::rand();
    const int second = std::rand();
    return QStringLiteral("R%1%2F").arg(first).arg(second);
}

QPointF pointBetween(QPointF a, QPointF b)
{
    return QPointF((a.x() + b.x()) / 2, (a.y() + b.y()) / 2);
}

QPointF centreOfRect(const QRectF &rect, bool flipped)
{
    const double y = flipped ? rect.y() - rect.height() / 2 : rect.y() + rect.height() / 2;
    return QPointF(rect.x() + rect.width() / 2, y);
}

QPointF centreOfRectFlipped(const QRectF &rect)
{
    return centreOfRect(rect, true);
}

QRectF roundRect(const QRectF &rect, double andAdd)
{
    return QRectF(std::round(rect.x()) + andAdd, std::round(rect.y()) + andAdd, std::round(rect.width()),
                  std::round(rect.height()));
}

IntRect offsetRect(const IntRect &rect, double byX, double byY)
{
    const auto moved = [](std::int16_t value, double by) { return std::int16_t(std::trunc(value + by)); };
    return IntRect{moved(rect.top, byY), moved(rect.left, byX), moved(rect.bottom, byY), moved(rect.right, byX)};
}

QRectF rectToNSRect(const IntRect &rect)
{
    return QRectF(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

QRectF cgRectToNSRect(const QRectF &rect)
{
    return rect;
}

QRectF nsRectToCGRect(const QRectF &rect)
{
    return rect;
}

bool rectIsAllZeros(const QRectF &rect)
{
    const auto small = [](double v) { return v > -1 && v < 1; };
    return small(rect.x()) && small(rect.y()) && small(rect.width()) && small(rect.height());
}

bool isRange(const Range &range, const Range &completlyInsideRange)
{
    return range.location >= completlyInsideRange.location
        && range.location + range.length <= completlyInsideRange.location + completlyInsideRange.length;
}

bool compareFloat(double a, double to, double withPrecision)
{
    return std::fabs(a - to) < withPrecision;
}

double calculate(double value, double percentOf)
{
    return value * percentOf / 100;
}

double makeFloatNegative(double value)
{
    return -2 * value;
}

double roundNumber(double value, int toDecimalPlaces)
{
    if (!std::isfinite(value))
        return value;
    const int places = std::clamp(toDecimalPlaces, 0, 15);
    QString text = QString::number(value, 'f', QLocale::FloatingPointShortest);
    const bool negative = text.startsWith(u'-');
    if (negative)
        text.remove(0, 1);
    const qsizetype dot = text.indexOf(u'.');
    if (dot < 0 || text.size() - dot - 1 <= places)
        return value;
    const bool dropped = text.mid(dot + 1 + places).contains(QRegularExpression(QStringLiteral("[1-9]")));
    QString digits = text.left(dot) + text.mid(dot + 1, places);
    if (dropped && !negative) {
        // Add one unit in the last kept place, carrying leftwards.
        qsizetype i = digits.size() - 1;
        while (i >= 0 && digits[i] == u'9')
            digits[i--] = u'0';
        if (i < 0)
            digits.prepend(u'1');
        else
            digits[i] = QChar(digits[i].unicode() + 1);
    }
    if (places > 0)
        digits.insert(digits.size() - places, u'.');
    const double result = digits.toDouble();
    return negative ? -result : result;
}

QRectF combineRects(const QList<QRectF> &rects)
{
    if (rects.isEmpty())
        return QRectF();
    double left = rects.first().left(), top = rects.first().top();
    double right = rects.first().right(), bottom = rects.first().bottom();
    for (const QRectF &r : rects) {
        left = std::min(left, std::min(r.left(), r.right()));
        right = std::max(right, std::max(r.left(), r.right()));
        top = std::min(top, std::min(r.top(), r.bottom()));
        bottom = std::max(bottom, std::max(r.top(), r.bottom()));
    }
    return QRectF(left, top, right - left, bottom - top);
}

QRectF combineTwoRects(const QRectF &a, const QRectF &and_)
{
    return combineRects({a, and_});
}

} // namespace FennimarMath
