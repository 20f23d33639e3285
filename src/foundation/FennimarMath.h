#pragma once

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <cstdint>

// Geometry and number helpers and the library's random numbers. Stateless.
//
// Float rectangles are QRectF read as (x, y, width, height) with the origin at the lower
// left unless a function says "flipped". The old integer rectangle is four signed 16-bit
// values in the order top, left, bottom, right.
namespace FennimarMath {

struct IntRect
{
    std::int16_t top = 0;
    std::int16_t left = 0;
    std::int16_t bottom = 0;
    std::int16_t right = 0;

    bool operator==(const IntRect &) const = default;
};

// A range of positions: location and length.
struct Range
{
    qint64 location = 0;
    qint64 length = 0;
};

// One value of the C library's rand(), 0 to RAND_MAX. Nothing seeds the generator unless
// seedRandom() is called, so a run repeats the generator's default sequence.
int randomNumber();

// low + rand() % (high - low + 1). high must not be below low; when it is, low is
// returned (logged) instead of dividing by a non-positive count.
int randomNumberBetween(int low, int high);

// Seeds rand() with the current time in seconds.
void seedRandom();

// "R<rand><rand>F".
QString randomString();

QPointF pointBetween(QPointF a, QPointF b);

// (x + width / 2, y + height / 2), or y - height / 2 when flipped.
QPointF centreOfRect(const QRectF &rect, bool flipped = false);
QPointF centreOfRectFlipped(const QRectF &rect);

// x and y rounded with `add` added; width and height rounded.
QRectF roundRect(const QRectF &rect, double andAdd);

// Top and bottom moved by y, left and right by x, each sum truncated.
IntRect offsetRect(const IntRect &rect, double byX, double byY);

// x = left, y = top, width = right - left, height = bottom - top.
QRectF rectToNSRect(const IntRect &rect);

// The two rectangle types of the drawing layer hold the same four values; both are QRectF.
QRectF cgRectToNSRect(const QRectF &rect);
QRectF nsRectToCGRect(const QRectF &rect);

// True when all four values lie strictly between -1 and 1.
bool rectIsAllZeros(const QRectF &rect);

// True when `range` starts at or after `completlyInsideRange` and ends at or before its end.
bool isRange(const Range &range, const Range &completlyInsideRange);

// True when the two differ by less than the precision.
bool compareFloat(double a, double to, double withPrecision);

// value * percentOf / 100.
double calculate(double value, double percentOf);

// Minus twice the value, as the library has always answered (not simply -value).
double makeFloatNegative(double value);

// The value rounded up (toward positive infinity) at the given number of decimal places,
// worked on the value's shortest decimal text so that 1.1 at 1 place stays 1.1
// (2.341 at 2 places gives 2.35). Places are clamped to 0..15.
double roundNumber(double value, int toDecimalPlaces);

// The smallest rectangle holding all of them; an empty rectangle for an empty list.
QRectF combineRects(const QList<QRectF> &rects);
QRectF combineTwoRects(const QRectF &a, const QRectF &and_);

} // namespace FennimarMath
