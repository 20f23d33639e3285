#include "CTGradient.h"

#include "KeyedArchive.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <cmath>
#include <limits>
#include <numbers>

using namespace Qt::StringLiterals;

namespace {

const QString ElementCountKey = u"CTGradientElementCount"_s;
const QString ClassName = u"CTGradient"_s;

// More stops than any gradient needs; an archive asking for more is refused.
constexpr qint64 MaxArchivedStops = 1 << 16;

float unit(float v)
{
    return std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 1.0f);
}

QColor toColor(const std::array<float, 4> &c)
{
    return QColor::fromRgbF(unit(c[0]), unit(c[1]), unit(c[2]), unit(c[3]));
}

[[noreturn]] void throwRange(const char *format, auto value)
{
    throw CTGradientRangeException(QString::asprintf(format, "CTGradient", value).toStdString());
}

} // namespace

CTGradient::Element CTGradient::elementFor(const QColor &color, float position)
{
    const QColor rgb = color.isValid() ? color.toRgb() : QColor(Qt::black);
    return {float(rgb.redF()), float(rgb.greenF()), float(rgb.blueF()), float(rgb.alphaF()), position};
}

CTGradient CTGradient::preset(std::initializer_list<Element> elements)
{
    CTGradient gradient;
    for (const Element &element : elements)
        gradient.addElement(element);
    return gradient;
}

CTGradient CTGradient::gradientWithBeginningColor(const QColor &begin, const QColor &end)
{
    CTGradient gradient;
    gradient.addElement(elementFor(begin, 0));
    gradient.addElement(elementFor(end, 1));
    return gradient;
}

CTGradient CTGradient::unifiedSelectedGradient()
{
    return preset({{0.85f, 0.85f, 0.85f, 1, 0}, {0.95f, 0.95f, 0.95f, 1, 1}});
}

CTGradient CTGradient::unifiedNormalGradient()
{
    return preset({{0.75f, 0.75f, 0.75f, 1, 0}, {0.9f, 0.9f, 0.9f, 1, 1}});
}

CTGradient CTGradient::unifiedPressedGradient()
{
    return preset({{0.6f, 0.6f, 0.6f, 1, 0}, {0.75f, 0.75f, 0.75f, 1, 1}});
}

CTGradient CTGradient::unifiedDarkGradient()
{
    return preset({{0.68f, 0.68f, 0.68f, 1, 0}, {0.83f, 0.83f, 0.83f, 1, 1}});
}

CTGradient CTGradient::unifiedVeryDarkGradient()
{
    return preset({{0.45f, 0.45f, 0.45f, 1, 0}, {0.6f, 0.6f, 0.6f, 1, 1}});
}

CTGradient CTGradient::unifiedVeryVeryDarkGradient()
{
    return preset({{0.2f, 0.2f, 0.2f, 1, 0}, {0.4f, 0.4f, 0.4f, 1, 1}});
}

CTGradient CTGradient::aquaNormalGradient()
{
    return preset({{0.95f, 0.95f, 0.95f, 1, 0},
                   {0.83f, 0.83f, 0.83f, 1, 0.5f},
                   {0.95f, 0.95f, 0.95f, 1, 0.5f},
                   {0.92f, 0.92f, 0.92f, 1, 1}});
}

CTGradient CTGradient::aquaPressedGradient()
{
    return preset({{0.8f, 0.8f, 0.8f, 1, 0},
                   {0.64f, 0.64f, 0.64f, 1, 0.5f},
                   {0.8f, 0.8f, 0.8f, 1, 0.5f},
                   {0.77f, 0.77f, 0.77f, 1, 1}});
}

CTGradient CTGradient::aquaSelectedGradient()
{
    return preset({{0.58f, 0.86f, 0.98f, 1, 0},
                   {0.42f, 0.68f, 0.9f, 1, 0.5f},
                   {0.64f, 0.8f, 0.94f, 1, 0.5f},
                   {0.56f, 0.7f, 0.9f, 1, 1}});
}

CTGradient CTGradient::orangeGradient()
{
    return preset({{0.97f, 0.63f, 0.11f, 1, 0},
                   {0.85f, 0.4f, 0.1f, 1, 0.5f},
                   {0.97f, 0.63f, 0.11f, 1, 0.5f},
                   {0.8f, 0.4f, 0.1f, 1, 1}});
}

CTGradient CTGradient::HUDTitleBarGradient()
{
    const float darker = float(0.2 - 0.015);
    const float lighter = float(0.25 + 0.1);
    return preset({{0.2f, 0.2f, 0.2f, 1, 0},
                   {darker, darker, darker, 1, 0.5f},
                   {0.25f, 0.25f, 0.25f, 1, 0.5f},
                   {lighter, lighter, lighter, 1, 1}});
}

CTGradient CTGradient::glossGradient(float alpha)
{
    return preset({{1, 1, 1, alpha, 0}, {1, 1, 1, 0, 0.5f}, {0, 0, 0, 0, 0.5f}, {0, 0, 0, alpha, 1}});
}

CTGradient CTGradient::whiteGlossGradient(float alpha)
{
    return preset({{1, 1, 1, alpha, 0}, {0, 0, 0, 0, 0.5f}, {0, 0, 0, 0, 0.5f}, {0, 0, 0, alpha, 1}});
}

CTGradient CTGradient::addColorStop(const QColor &color, float atPosition) const
{
    CTGradient copy = *this;
    copy.addElement(elementFor(color, atPosition));
    return copy;
}

CTGradient CTGradient::removeColorStopAtPosition(float position) const
{
    CTGradient copy = *this;
    if (std::isnan(copy.removeElementAtPosition(position).position))
        throwRange("-[%s removeColorStopAtPosition:]: no such colorStop at position (%f)", double(position));
    return copy;
}

CTGradient CTGradient::removeColorStopAtIndex(unsigned index) const
{
    CTGradient copy = *this;
    if (std::isnan(copy.removeElementAtIndex(index).position))
        throwRange("-[%s removeColorStopAtIndex:]: index (%u) beyond bounds", index);
    return copy;
}

CTGradient CTGradient::gradientWithAlphaComponent(float alpha) const
{
    CTGradient copy;
    for (Element element : m_elements) {
        element.alpha = alpha;
        copy.addElement(element);
    }
    return copy;
}

QColor CTGradient::colorStopAtIndex(unsigned index) const
{
    const Element *element = elementAtIndex(index);
    if (!element)
        throwRange("-[%s colorStopAtIndex:]: index (%u) beyond bounds", index);
    return toColor({element->red, element->green, element->blue, element->alpha});
}

float CTGradient::positionOfColorStopAtIndex(unsigned index) const
{
    const Element *element = elementAtIndex(index);
    if (!element)
        throwRange("-[%s positionOfColorStopAtIndex:]: index (%u) beyond bounds", index);
    return element->position;
}

QColor CTGradient::colorAtPosition(float position) const
{
    return toColor(linearEvaluation(position));
}

void CTGradient::addElement(const Element &element)
{
    // After the last stop whose position is at or before the new one, so equal positions
    // keep the order they were added in.
    auto at = m_elements.begin();
    if (!m_elements.empty() && !(element.position < m_elements.front().position)) {
        at = m_elements.end();
        for (auto it = m_elements.begin(); std::next(it) != m_elements.end(); ++it) {
            if (it->position <= element.position && element.position < std::next(it)->position) {
                at = std::next(it);
                break;
            }
        }
    }
    m_elements.insert(at, element);
}

CTGradient::Element CTGradient::removeElementAtIndex(unsigned index)
{
    if (index >= m_elements.size())
        return {0, 0, 0, 0, std::numeric_limits<float>::quiet_NaN()};
    const Element removed = m_elements[index];
    m_elements.erase(m_elements.begin() + index);
    return removed;
}

CTGradient::Element CTGradient::removeElementAtPosition(float position)
{
    for (auto it = m_elements.begin(); it != m_elements.end(); ++it) {
        if (it->position == position) {
            const Element removed = *it;
            m_elements.erase(it);
            return removed;
        }
    }
    return {0, 0, 0, 0, std::numeric_limits<float>::quiet_NaN()};
}

const CTGradient::Element *CTGradient::elementAtIndex(unsigned index) const
{
    return index < m_elements.size() ? &m_elements[index] : nullptr;
}

std::array<float, 4> CTGradient::linearEvaluation(float position) const
{
    if (m_elements.empty())
        return {0, 0, 0, 0};
    size_t first = 0;
    size_t second = 1;
    while (second < m_elements.size() && position > m_elements[second].position) {
        first = second;
        ++second;
    }
    const Element &c1 = m_elements[first];
    const Element &c2 = second < m_elements.size() ? m_elements[second] : c1;
    if (position <= c1.position)
        return {c1.red, c1.green, c1.blue, c1.alpha};
    if (position >= c2.position)
        return {c2.red, c2.green, c2.blue, c2.alpha};
    const float t = (position - c1.position) / (c2.position - c1.position);
    return {c1.red + (c2.red - c1.red) * t, c1.green + (c2.green - c1.green) * t,
            c1.blue + (c2.blue - c1.blue) * t, c1.alpha + (c2.alpha - c1.alpha) * t};
}

QGradientStops CTGradient::buildCGFunction() const
{
    // Qt keeps one colour per position, so the second stop of a hard edge goes just past
    // it. Stops outside 0..1 only matter through the colours they give at the ends.
    QGradientStops stops;
    const auto add = [&stops](qreal at, const QColor &color) {
        if (!stops.isEmpty() && at <= stops.constLast().first)
            at = std::nextafter(stops.constLast().first, 2.0);
        if (at <= 1.0)
            stops.append({at, color});
    };
    // Position 0 itself shows the first stop at 0 (or the blend up to the first stop
    // after it); further stops at 0 start what follows.
    add(0, colorAtPosition(0));
    bool firstAtZero = true;
    for (const Element &element : m_elements) {
        const QColor color = toColor({element.red, element.green, element.blue, element.alpha});
        if (element.position == 0) {
            if (!firstAtZero)
                add(0, color);
            firstAtZero = false;
        } else if (element.position > 0 && element.position < 1) {
            add(element.position, color);
        }
    }
    if (stops.constLast().first < 1)
        stops.append({1.0, colorAtPosition(1)});
    return stops;
}

void CTGradient::fillRect(QPainter &painter, const QRectF &rect, float angle) const
{
    const double theta = double(angle) * std::numbers::pi / 180;
    double length = 0, dx = 0, dy = 0;
    const double w = rect.width(), h = rect.height();
    if (std::fabs(std::tan(theta)) <= 1) {
        const double s = std::sin(theta), c = std::cos(theta), t = std::tan(theta);
        length = w / std::fabs(c) + (h - w * std::fabs(t)) * std::fabs(s);
        dx = length * c / 2;
        dy = length * s / 2;
    } else {
        const double turned = theta - std::numbers::pi * 90 / 180;
        const double s = std::sin(turned), c = std::cos(turned), t = std::tan(turned);
        length = h / std::fabs(c) + (w - h * std::fabs(t)) * std::fabs(s);
        dx = -length * s / 2;
        dy = length * c / 2;
    }
    // The angle turns counter-clockwise on screen, where y grows downward.
    const QPointF centre = rect.center();
    QLinearGradient gradient(QPointF(centre.x() - dx, centre.y() + dy), QPointF(centre.x() + dx, centre.y() - dy));
    gradient.setStops(buildCGFunction());
    painter.save();
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.fillRect(rect, gradient);
    painter.restore();
}

void CTGradient::radialFillRect(QPainter &painter, const QRectF &rect) const
{
    const double radius = std::max(rect.width(), rect.height()) / 2;
    QRadialGradient gradient(rect.center(), radius);
    gradient.setStops(buildCGFunction());
    painter.save();
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.fillRect(rect, gradient);
    painter.restore();
}

void CTGradient::drawSwatchInRect(QPainter &painter, const QRectF &rect) const
{
    fillRect(painter, rect, 45);
}

void CTGradient::encodeWithCoder(brisko::ArchiveObject &coder) const
{
    for (const Element &e : m_elements) {
        for (float v : {e.red, e.green, e.blue, e.alpha, e.position})
            coder.encodeValue(brisko::ArchiveValue::real32(v));
    }
    coder.encodeInt(ElementCountKey, qint64(m_elements.size()));
}

std::optional<CTGradient> CTGradient::initWithCoder(brisko::ArchiveObject &coder)
{
    const std::optional<qint64> count = coder.decodeInt(ElementCountKey);
    if (!count || *count < 0 || *count > MaxArchivedStops)
        return std::nullopt;
    CTGradient gradient;
    for (qint64 i = 0; i < *count; ++i) {
        float v[5];
        for (float &component : v) {
            const auto value = coder.decodeValue();
            if (!value || !(value->is(brisko::ArchiveValue::Type::Real) || value->is(brisko::ArchiveValue::Type::Integer)))
                return std::nullopt;
            component = float(value->toReal());
        }
        gradient.addElement({v[0], v[1], v[2], v[3], v[4]});
    }
    return gradient;
}

QByteArray CTGradient::archivedData() const
{
    brisko::ArchiveObject object(ClassName);
    encodeWithCoder(object);
    const auto data = brisko::KeyedArchiver::archivedData(object);
    return data ? *data : QByteArray();
}

std::optional<CTGradient> CTGradient::unarchive(QByteArrayView data)
{
    auto object = brisko::KeyedUnarchiver::unarchiveObject(data, {ClassName});
    if (!object)
        return std::nullopt;
    return initWithCoder(object.value());
}
