#pragma once

#include "FennimarMath.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

class QColor;
class QMimeData;
class QObject;
class QPainter;

// Diagnostics for the developer: lines in the log (category brisko.foundation) or on
// standard output, and whether the debugging marker file is present. Nothing here
// changes any state.
namespace FennimarDebugging {

// The marker file: ~/.zilkdebugging, home expanded and the path cleaned.
QString markerFilePath();

// Logs "Looking for '<marker>'", then "Found touchfile..." (true) or "No touchfile..."
// (false) as the marker file exists or not.
bool reportExceptions();

// Logs the object's description.
void debug(const QVariant &object);

// Logs "WARNING:<object>".
void seriousWarning(const QVariant &object);

// Logs "time:<now>".
void printTime();

// Logs each element on its own line; "FennimarDebugging - printArray - array is nil"
// without an array, "... - array is empty" for an empty one.
void printArray(const std::optional<QVariantList> &array);

// Logs "KEY:<key>, VALUE:<value>" per entry.
void printDictionary(const QVariantMap &dictionary);

// Logs "FennimarDesbugging.printPasteboard ++++++++", "Type:<format> String:<text>"
// per format held, then "--------------". Nothing for a missing pasteboard.
void printPasteboard(const QMimeData *pasteboard);

// On standard output, each followed by a line feed:
//   "location:%i length:%i", "x:%f y:%f", "size.width:%f size.height:%f",
//   "x:%f y:%f w:%f h:%f".
void printRange(const FennimarMath::Range &range);
void printPoint(QPointF point);
void printSize(QSizeF size);
void printRect(const QRectF &rect);
void printCGRect(const QRectF &rect);
void printArrayOfRects(const QList<QRectF> &rects);
void printArrayOfArraysOfRects(const QList<QList<QRectF>> &arrays);

// Strokes the rectangle's outline in the colour on the painter (brisko_foundation_gui).
void debugRect(QPainter *painter, const QRectF &rect, const QColor &inColor);

// Logs "DUMP:<view>", then dumpViewTree(view, "").
void dumpViewTree(const QObject *view);

// For each child: logs "<prefix>DUMP:<parent>", then recurses into the child with the
// prefix "\t-><prefix>".
void dumpViewTree(const QObject *view, const QString &withPrefix);

// When the object is not a string: on standard output a line of 48 "+",
// "warnIfObjectIsNotAKindOfString:" and " Pointer:<address>", its description in the
// log, then a line of 48 "-".
void warnIfObjectIsNotAKindOfString(const QVariant &object);

// Logs "FennimarDebugging - Going for a crash..." and aborts the process.
[[noreturn]] void crash();

// The description the log lines above use: strings as they are, lists and maps in
// brackets, "(null)" for none.
QString describe(const QVariant &object);

} // namespace FennimarDebugging
