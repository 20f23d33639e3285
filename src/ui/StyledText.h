#pragma once

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QTextLayout>

#include <memory>
#include <optional>

class QPainter;
class QTextCharFormat;
class QTextDocument;

// A drop shadow behind text. The offset is given with y pointing up, so the standard
// (2, -2) falls two points right of and two points below the text.
struct Shadow
{
    QColor color = QColor(Qt::black);
    QPointF offset = QPointF(2, -2);
    qreal blurRadius = 4;

    // Black, offset (2, -2), blur radius 4.
    static Shadow standard() { return Shadow(); }
    bool operator==(const Shadow &) const = default;
};

// Paragraph attributes; so far the alignment.
struct ParagraphStyle
{
    enum Alignment { Left = 0, Right = 1, Centre = 2, Justified = 3, Natural = 4 };

    int alignment = Left;

    // Left and right are absolute; natural follows the writing direction. Unknown values
    // give natural.
    Qt::Alignment qtAlignment() const;
    bool operator==(const ParagraphStyle &) const = default;
};

// An image standing in the text for one object-replacement character (U+FFFC), with the
// file it would be saved as.
struct TextAttachment
{
    QImage image;
    QByteArray contents; // the file's bytes
    QString fileName;
    QString preferredFileName;

    bool operator==(const TextAttachment &) const = default;
};

// The attributes of a stretch of styled text. A missing colour draws in the surface's
// default text colour; a missing kern adds no spacing.
struct TextAttributes
{
    std::optional<QColor> foreground;
    QFont font;
    std::optional<Shadow> shadow;
    std::optional<qreal> kern; // extra space after each character, in points
    std::optional<ParagraphStyle> paragraphStyle;
    bool underline = false;
    std::optional<TextAttachment> attachment;

    // The font with the kern applied as absolute letter spacing.
    QFont effectiveFont() const;
    QTextCharFormat toCharFormat() const;
    bool operator==(const TextAttributes &) const = default;
};

// A stretch of text carrying one set of attributes.
struct AttributeRun
{
    qsizetype start = 0;
    qsizetype length = 0;
    TextAttributes attributes;

    qsizetype end() const { return start + length; }
    bool operator==(const AttributeRun &) const = default;
};

// Text with attribute runs: a value type, copied and compared like a string. The runs cover
// the text without gaps or overlaps, in order; neighbouring runs always differ (equal
// neighbours are merged). Empty text has no runs.
//
// A paragraph runs up to a line feed, carriage return, CR LF or U+2029; its alignment is the
// paragraph style of its first character.
class StyledText
{
public:
    StyledText() = default;
    explicit StyledText(const QString &text, const TextAttributes &attributes = TextAttributes());

    const QString &text() const { return m_text; }
    qsizetype length() const { return m_text.size(); }
    bool isEmpty() const { return m_text.isEmpty(); }
    const QList<AttributeRun> &runs() const { return m_runs; }

    // The attributes of the character at the position; none outside the text.
    std::optional<TextAttributes> attributesAt(qsizetype position) const;

    // Gives the characters start..start+length (clipped to the text) the attributes.
    void setAttributes(const TextAttributes &attributes, qsizetype start, qsizetype length);

    void append(const StyledText &other);
    StyledText &operator+=(const StyledText &other);
    friend StyledText operator+(StyledText a, const StyledText &b) { return a += b; }

    // A copy of the characters start..start+length (length -1: to the end).
    StyledText mid(qsizetype start, qsizetype length = -1) const;

    // Replaces the characters start..start+length with the text, which takes the attributes
    // of the first replaced character (when nothing is replaced: of the character before,
    // or at the very start of the one after).
    void replace(qsizetype start, qsizetype length, const QString &text);
    // Replaces them with styled text, which keeps its own attributes.
    void replace(qsizetype start, qsizetype length, const StyledText &text);

    // Rich text for a QLabel or QTextDocument: one <p> per paragraph with its alignment and
    // one <span> per run with colour, font family, size, weight, italic, underline and
    // letter-spacing. Spaces are kept. Shadows have no rich-text form and are left out.
    QString toHtml() const;
    // One character-format range per run, for QTextLayout.
    QList<QTextLayout::FormatRange> toTextLayoutFormats() const;
    // A document with the text, char formats and paragraph alignment, with no margin.
    std::unique_ptr<QTextDocument> toTextDocument() const;

    // The size the text takes drawn without wrapping.
    QSizeF size() const;

    // Paints the text into the rectangle, wrapped to its width and clipped to it. Runs that
    // carry a shadow first paint it (blurred, in the shadow's colour, at its offset), which
    // may fall outside the rectangle. Text without a colour uses the painter's pen colour.
    void draw(QPainter &painter, const QRectF &rect) const;

    bool operator==(const StyledText &) const = default;

private:
    qsizetype runIndexAt(qsizetype position) const;
    qsizetype splitAt(qsizetype position);
    void mergeRuns();

    QString m_text;
    QList<AttributeRun> m_runs;
};
