#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QColor>
#include <QGradientStops>
#include <QRectF>

#include <array>
#include <optional>
#include <stdexcept>
#include <vector>

class QPainter;

namespace brisko {
class ArchiveObject;
}

// A colour stop index or position that a gradient does not have. The message names the
// class and the call: "-[CTGradient removeColorStopAtIndex:]: index (5) beyond bounds".
class CTGradientRangeException : public std::out_of_range
{
public:
    using std::out_of_range::out_of_range;
};

// A colour gradient: colour stops at positions from 0 to 1, blended linearly, drawn along
// any angle or outward from a centre. A gradient is a value: copies are independent, and
// every operation that changes the stops returns a new gradient and leaves this one as it is.
//
// Stops are kept in ascending position. Several stops may share a position; a stop added
// later comes after those already there. Two stops at one position make a hard edge: the
// position itself shows the first of them, anything beyond it starts from the second.
//
// Colours are read and given as sRGB; components are kept as 32-bit floats.
class CTGradient
{
public:
    // No stops: every position is transparent black.
    CTGradient() = default;
    // An independent copy, as any copy of the value is.
    CTGradient copyWithZone() const { return *this; }

    // The first colour at 0, the second at 1.
    static CTGradient gradientWithBeginningColor(const QColor &begin, const QColor &end);

    // Presets, each a new gradient.
    static CTGradient unifiedSelectedGradient();
    static CTGradient unifiedNormalGradient();
    static CTGradient unifiedPressedGradient();
    static CTGradient unifiedDarkGradient();
    static CTGradient unifiedVeryDarkGradient();
    static CTGradient unifiedVeryVeryDarkGradient();
    static CTGradient aquaNormalGradient();
    static CTGradient aquaPressedGradient();
    static CTGradient aquaSelectedGradient();
    static CTGradient orangeGradient();
    static CTGradient HUDTitleBarGradient();
    // White at the given alpha fading out to the hard middle, then black fading in to it.
    static CTGradient glossGradient(float alpha);
    static CTGradient whiteGlossGradient(float alpha);

    // Derived gradients; this one is left unchanged.
    CTGradient addColorStop(const QColor &color, float atPosition) const;
    // Without the first stop at exactly that position; throws CTGradientRangeException
    // ("-[CTGradient removeColorStopAtPosition:]: no such colorStop at position (0.300000)")
    // when there is none.
    CTGradient removeColorStopAtPosition(float position) const;
    // Without the stop at the index (0 is the first); throws CTGradientRangeException
    // ("-[CTGradient removeColorStopAtIndex:]: index (5) beyond bounds") past the end.
    CTGradient removeColorStopAtIndex(unsigned index) const;
    // The same stops with every alpha replaced.
    CTGradient gradientWithAlphaComponent(float alpha) const;

    int colorStopCount() const { return int(m_elements.size()); }
    // The colour of the stop at the index; throws CTGradientRangeException past the end.
    QColor colorStopAtIndex(unsigned index) const;
    // The position of the stop at the index; throws CTGradientRangeException past the end.
    float positionOfColorStopAtIndex(unsigned index) const;
    // The blended colour at the position: the first stop's colour at or before it, the last
    // stop's colour at or after it.
    QColor colorAtPosition(float position) const;

    // Fills the rectangle along the angle, in degrees counter-clockwise as seen on screen:
    // 0 runs from the left edge (position 0) to the right edge (1), 90 from the bottom edge
    // to the top edge; other angles span the rectangle's whole extent along their direction.
    void fillRect(QPainter &painter, const QRectF &rect, float angle) const;
    // Fills the rectangle outward from its centre (0) to the circle whose radius is half the
    // rectangle's longer side (1); beyond the circle the last colour continues.
    void radialFillRect(QPainter &painter, const QRectF &rect) const;
    // fillRect at 45 degrees.
    void drawSwatchInRect(QPainter &painter, const QRectF &rect) const;

    // The archive form: "CTGradientElementCount" by key, then red, green, blue, alpha and
    // position of every stop, in order, as unkeyed 32-bit floats.
    void encodeWithCoder(brisko::ArchiveObject &coder) const;
    // Reads that form; none when the count is missing or negative, or when the coder holds
    // fewer numbers than the count asks for.
    static std::optional<CTGradient> initWithCoder(brisko::ArchiveObject &coder);
    // A whole keyed archive with the gradient as its root object, and the way back. Empty
    // data when the archive cannot be written; none for data that is not such an archive.
    QByteArray archivedData() const;
    static std::optional<CTGradient> unarchive(QByteArrayView data);

    // The same stops, in the same order.
    bool operator==(const CTGradient &) const = default;

private:
    struct Element
    {
        float red = 0;
        float green = 0;
        float blue = 0;
        float alpha = 0;
        float position = 0;

        bool operator==(const Element &) const = default;
    };

    static CTGradient preset(std::initializer_list<Element> elements);
    static Element elementFor(const QColor &color, float position);

    // The stop list itself.
    void addElement(const Element &element);
    // The removed element, or one whose position is NaN when there is none.
    Element removeElementAtIndex(unsigned index);
    Element removeElementAtPosition(float position);
    const Element *elementAtIndex(unsigned index) const;

    // Red, green, blue and alpha at the position.
    std::array<float, 4> linearEvaluation(float position) const;
    // The stops Qt's gradient brushes paint this gradient with over 0..1.
    QGradientStops buildCGFunction() const;

    std::vector<Element> m_elements;
};
