#include "StyledText.h"

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

struct Paragraph
{
    qsizetype start = 0;
    qsizetype end = 0; // before the break
};

// The paragraphs of the text; a text ending in a break has an empty last paragraph.
QList<Paragraph> paragraphsOf(const QString &text)
{
    QList<Paragraph> paragraphs;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\n' && c != u'\r' && c != QChar::ParagraphSeparator)
            continue;
        paragraphs.append({start, i});
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    paragraphs.append({start, text.size()});
    return paragraphs;
}

QString cssColor(const QColor &color)
{
    if (color.alpha() == 255)
        return color.name(QColor::HexRgb);
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF());
}

QString cssStyle(const TextAttributes &attributes)
{
    const QFont &font = attributes.font;
    QString family = font.family();
    family.replace(u'\\', u"\\\\"_s).replace(u'\'', u"\\'"_s);
    QString css = u"font-family:'"_s + family + u"'; "_s;
    if (font.pointSizeF() > 0)
        css += u"font-size:%1pt; "_s.arg(font.pointSizeF());
    else if (font.pixelSize() > 0)
        css += u"font-size:%1px; "_s.arg(font.pixelSize());
    css += u"font-weight:%1; "_s.arg(font.weight());
    css += font.italic() ? u"font-style:italic; "_s : u"font-style:normal; "_s;
    if (attributes.underline)
        css += u"text-decoration:underline; "_s;
    if (attributes.foreground && attributes.foreground->isValid())
        css += u"color:"_s + cssColor(*attributes.foreground) + u"; "_s;
    if (attributes.kern && *attributes.kern != 0)
        css += u"letter-spacing:%1px; "_s.arg(*attributes.kern);
    return css.trimmed();
}

QString htmlAlignment(int alignment)
{
    switch (alignment) {
    case ParagraphStyle::Left:
        return u"left"_s;
    case ParagraphStyle::Right:
        return u"right"_s;
    case ParagraphStyle::Centre:
        return u"center"_s;
    case ParagraphStyle::Justified:
        return u"justify"_s;
    default:
        return QString();
    }
}

QString htmlEscaped(QStringView text)
{
    return text.toString().toHtmlEscaped().replace(QChar::LineSeparator, u"<br/>"_s);
}

void paintDocument(QPainter &painter, QTextDocument &document, const QRectF &clip, const QColor &textColor)
{
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, textColor);
    context.clip = clip;
    document.documentLayout()->draw(&painter, context);
}

// One pass of a box blur along rows (or columns) of a premultiplied ARGB image; pixels
// outside the image count as transparent.
void boxBlurPass(QImage &image, int radius, bool horizontal)
{
    const int width = image.width();
    const int height = image.height();
    const int lines = horizontal ? height : width;
    const int length = horizontal ? width : height;
    const int window = 2 * radius + 1;
    QList<QRgb> in(length);
    for (int line = 0; line < lines; ++line) {
        auto pixel = [&](int i) -> QRgb & {
            return horizontal ? reinterpret_cast<QRgb *>(image.scanLine(line))[i]
                              : reinterpret_cast<QRgb *>(image.scanLine(i))[line];
        };
        for (int i = 0; i < length; ++i)
            in[i] = pixel(i);
        int sum[4] = {0, 0, 0, 0};
        auto add = [&](int i, int sign) {
            if (i < 0 || i >= length)
                return;
            const QRgb p = in[i];
            sum[0] += sign * qAlpha(p);
            sum[1] += sign * qRed(p);
            sum[2] += sign * qGreen(p);
            sum[3] += sign * qBlue(p);
        };
        for (int i = -radius; i < radius; ++i)
            add(i, 1);
        for (int i = 0; i < length; ++i) {
            add(i + radius, 1);
            pixel(i) = qRgba(sum[1] / window, sum[2] / window, sum[3] / window, sum[0] / window);
            add(i - radius, -1);
        }
    }
}

// Three box blurs in each direction come close to a Gaussian blur of the given radius.
void blur(QImage &image, qreal blurRadius)
{
    const int radius = qMax(1, qRound(blurRadius / 2));
    for (int pass = 0; pass < 3; ++pass) {
        boxBlurPass(image, radius, true);
        boxBlurPass(image, radius, false);
    }
}

} // namespace

Qt::Alignment ParagraphStyle::qtAlignment() const
{
    switch (alignment) {
    case Left:
        return Qt::AlignLeft | Qt::AlignAbsolute;
    case Right:
        return Qt::AlignRight | Qt::AlignAbsolute;
    case Centre:
        return Qt::AlignHCenter;
    case Justified:
        return Qt::AlignJustify;
    default:
        return Qt::AlignLeading;
    }
}

QFont TextAttributes::effectiveFont() const
{
    QFont result = font;
    if (kern && *kern != 0)
        result.setLetterSpacing(QFont::AbsoluteSpacing, *kern);
    return result;
}

QTextCharFormat TextAttributes::toCharFormat() const
{
    QTextCharFormat format;
    format.setFont(effectiveFont(), QTextCharFormat::FontPropertiesAll);
    if (foreground && foreground->isValid())
        format.setForeground(*foreground);
    if (underline)
        format.setFontUnderline(true);
    return format;
}

StyledText::StyledText(const QString &text, const TextAttributes &attributes) : m_text(text)
{
    if (!m_text.isEmpty())
        m_runs.append({0, m_text.size(), attributes});
}

qsizetype StyledText::runIndexAt(qsizetype position) const
{
    const auto after = std::upper_bound(m_runs.cbegin(), m_runs.cend(), position,
                                        [](qsizetype p, const AttributeRun &run) { return p < run.start; });
    return (after - m_runs.cbegin()) - 1;
}

std::optional<TextAttributes> StyledText::attributesAt(qsizetype position) const
{
    if (position < 0 || position >= m_text.size())
        return std::nullopt;
    return m_runs.at(runIndexAt(position)).attributes;
}

// Makes a run start at the position (0 <= position <= length) and returns its index
// (the run count for the end of the text).
qsizetype StyledText::splitAt(qsizetype position)
{
    if (position >= m_text.size())
        return m_runs.size();
    const qsizetype index = runIndexAt(position);
    AttributeRun &run = m_runs[index];
    if (run.start == position)
        return index;
    AttributeRun tail{position, run.end() - position, run.attributes};
    run.length = position - run.start;
    m_runs.insert(index + 1, tail);
    return index + 1;
}

void StyledText::mergeRuns()
{
    QList<AttributeRun> merged;
    merged.reserve(m_runs.size());
    for (const AttributeRun &run : std::as_const(m_runs)) {
        if (run.length <= 0)
            continue;
        if (!merged.isEmpty() && merged.last().attributes == run.attributes)
            merged.last().length += run.length;
        else
            merged.append(run);
    }
    m_runs = std::move(merged);
}

void StyledText::setAttributes(const TextAttributes &attributes, qsizetype start, qsizetype length)
{
    const qsizetype from = std::clamp<qsizetype>(start, 0, m_text.size());
    const qsizetype to =
        length < 0 ? m_text.size() : std::clamp<qsizetype>(start + length, from, m_text.size());
    if (from == to)
        return;
    const qsizetype first = splitAt(from);
    const qsizetype last = splitAt(to);
    m_runs.remove(first, last - first);
    m_runs.insert(first, {from, to - from, attributes});
    mergeRuns();
}

void StyledText::append(const StyledText &other)
{
    const qsizetype shift = m_text.size();
    m_text += other.m_text;
    m_runs.reserve(m_runs.size() + other.m_runs.size());
    for (AttributeRun run : other.m_runs) {
        run.start += shift;
        m_runs.append(std::move(run));
    }
    mergeRuns();
}

StyledText &StyledText::operator+=(const StyledText &other)
{
    append(other);
    return *this;
}

StyledText StyledText::mid(qsizetype start, qsizetype length) const
{
    const qsizetype from = std::clamp<qsizetype>(start, 0, m_text.size());
    const qsizetype to =
        length < 0 ? m_text.size() : std::clamp<qsizetype>(start + length, from, m_text.size());
    StyledText result;
    result.m_text = m_text.mid(from, to - from);
    for (const AttributeRun &run : m_runs) {
        const qsizetype s = std::max(run.start, from);
        const qsizetype e = std::min(run.end(), to);
        if (s < e)
            result.m_runs.append({s - from, e - s, run.attributes});
    }
    return result;
}

void StyledText::replace(qsizetype start, qsizetype length, const StyledText &text)
{
    const qsizetype from = std::clamp<qsizetype>(start, 0, m_text.size());
    const qsizetype to =
        length < 0 ? m_text.size() : std::clamp<qsizetype>(start + length, from, m_text.size());
    StyledText result = mid(0, from);
    result.append(text);
    result.append(mid(to));
    *this = std::move(result);
}

void StyledText::replace(qsizetype start, qsizetype length, const QString &text)
{
    const qsizetype from = std::clamp<qsizetype>(start, 0, m_text.size());
    std::optional<TextAttributes> attributes = length > 0 ? attributesAt(from) : std::nullopt;
    if (!attributes)
        attributes = attributesAt(from - 1);
    if (!attributes)
        attributes = attributesAt(from);
    replace(start, length, StyledText(text, attributes.value_or(TextAttributes())));
}

QString StyledText::toHtml() const
{
    if (isEmpty())
        return QString();
    QString html;
    for (const Paragraph &paragraph : paragraphsOf(m_text)) {
        // An empty paragraph needs Qt's marker, or the importer drops it.
        html += paragraph.start == paragraph.end ? u"<p style=\"-qt-paragraph-type:empty; margin:0px;\""_s
                                                 : u"<p style=\"margin:0px; white-space:pre-wrap;\""_s;
        const qsizetype styleAt = paragraph.start < m_text.size() ? paragraph.start : m_text.size() - 1;
        if (const auto attributes = attributesAt(styleAt); attributes && attributes->paragraphStyle) {
            const QString align = htmlAlignment(attributes->paragraphStyle->alignment);
            if (!align.isEmpty())
                html += u" align=\""_s + align + u'"';
        }
        html += u'>';
        for (const AttributeRun &run : m_runs) {
            const qsizetype s = std::max(run.start, paragraph.start);
            const qsizetype e = std::min(run.end(), paragraph.end);
            if (s >= e)
                continue;
            html += u"<span style=\""_s + cssStyle(run.attributes) + u"\">"_s +
                    htmlEscaped(QStringView(m_text).sliced(s, e - s)) + u"</span>"_s;
        }
        if (paragraph.start == paragraph.end)
            html += u"<br />"_s;
        html += u"</p>"_s;
    }
    return html;
}

QList<QTextLayout::FormatRange> StyledText::toTextLayoutFormats() const
{
    QList<QTextLayout::FormatRange> formats;
    formats.reserve(m_runs.size());
    for (const AttributeRun &run : m_runs) {
        QTextLayout::FormatRange range;
        range.start = int(run.start);
        range.length = int(run.length);
        range.format = run.attributes.toCharFormat();
        formats.append(range);
    }
    return formats;
}

std::unique_ptr<QTextDocument> StyledText::toTextDocument() const
{
    auto document = std::make_unique<QTextDocument>();
    document->setUndoRedoEnabled(false);
    document->setDocumentMargin(0);
    if (m_runs.isEmpty())
        return document;
    document->setDefaultFont(m_runs.first().attributes.effectiveFont());

    QTextCursor cursor(document.get());
    const QList<Paragraph> paragraphs = paragraphsOf(m_text);
    for (qsizetype p = 0; p < paragraphs.size(); ++p) {
        const Paragraph &paragraph = paragraphs.at(p);
        const TextAttributes attributes =
            attributesAt(paragraph.start)
                .value_or(attributesAt(m_text.size() - 1).value_or(TextAttributes()));
        QTextBlockFormat blockFormat;
        if (attributes.paragraphStyle)
            blockFormat.setAlignment(attributes.paragraphStyle->qtAlignment());
        if (p == 0) {
            cursor.setBlockFormat(blockFormat);
            cursor.setBlockCharFormat(attributes.toCharFormat());
        } else {
            cursor.insertBlock(blockFormat, attributes.toCharFormat());
        }
        for (const AttributeRun &run : m_runs) {
            const qsizetype s = std::max(run.start, paragraph.start);
            const qsizetype e = std::min(run.end(), paragraph.end);
            if (s >= e)
                continue;
            if (run.attributes.attachment && !run.attributes.attachment->image.isNull()) {
                // Each replacement character of the run shows the image.
                const QString name = u"attachment:%1"_s.arg(s);
                document->addResource(QTextDocument::ImageResource, QUrl(name),
                                      run.attributes.attachment->image);
                QTextImageFormat image;
                image.setName(name);
                for (qsizetype i = s; i < e; ++i)
                    cursor.insertImage(image);
            } else {
                cursor.insertText(m_text.sliced(s, e - s), run.attributes.toCharFormat());
            }
        }
    }
    return document;
}

QSizeF StyledText::size() const
{
    if (isEmpty())
        return QSizeF(0, 0);
    return toTextDocument()->size();
}

void StyledText::draw(QPainter &painter, const QRectF &rect) const
{
    if (isEmpty() || rect.width() <= 0 || rect.height() <= 0)
        return;
    const QColor textColor = painter.pen().color();
    const QRectF local(QPointF(0, 0), rect.size());
    painter.save();

    QList<Shadow> shadows;
    for (const AttributeRun &run : m_runs) {
        if (run.attributes.shadow && !shadows.contains(*run.attributes.shadow))
            shadows.append(*run.attributes.shadow);
    }
    for (const Shadow &shadow : std::as_const(shadows)) {
        // The shadowed runs in the shadow's colour, everything else invisible.
        StyledText silhouette = *this;
        for (AttributeRun &run : silhouette.m_runs) {
            const bool casts = run.attributes.shadow == shadow;
            run.attributes.shadow.reset();
            run.attributes.foreground = casts ? shadow.color : QColor(Qt::transparent);
        }
        auto document = silhouette.toTextDocument();
        document->setTextWidth(rect.width());

        const qreal margin = std::ceil(shadow.blurRadius) + 1;
        const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        QImage image((rect.size() + QSizeF(2 * margin, 2 * margin)).toSize() * ratio,
                     QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        {
            QPainter imagePainter(&image);
            imagePainter.translate(margin, margin);
            imagePainter.setClipRect(local);
            paintDocument(imagePainter, *document, local, shadow.color);
        }
        if (shadow.blurRadius > 0)
            blur(image, shadow.blurRadius * ratio);
        painter.drawImage(
            rect.topLeft() + QPointF(shadow.offset.x(), -shadow.offset.y()) - QPointF(margin, margin), image);
    }

    auto document = toTextDocument();
    document->setTextWidth(rect.width());
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.translate(rect.topLeft());
    paintDocument(painter, *document, local, textColor);
    painter.restore();
}
