#include "FennimarDebugging.h"

#include "FennimarStrings.h"
#include "foundationlogging.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QObject>

#include <cstdio>
#include <cstdlib>

namespace FennimarDebugging {

namespace {

void log(const QString &line)
{
    qCInfo(lcFoundation).noquote() << line;
}

void printLine(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QByteArray formatted(const char *format, auto... values)
{
    return QString::asprintf(format, values...).toUtf8();
}

} // namespace

QString describe(const QVariant &object)
{
    if (!object.isValid() || object.isNull())
        return QStringLiteral("(null)");
    if (object.typeId() == QMetaType::QString)
        return object.toString();
    return FennimarStrings::stringValueOfObject(object);
}

QString markerFilePath()
{
    return QDir::cleanPath(QDir::homePath() + QStringLiteral("/.zilkdebugging"));
}

bool reportExceptions()
{
    const QString marker = markerFilePath();
    log(QStringLiteral("Looking for '%1'").arg(marker));
    if (QFileInfo::exists(marker)) {
        log(QStringLiteral("Found touchfile..."));
        return true;
    }
    log(QStringLiteral("No touchfile..."));
    return false;
}

void debug(const QVariant &object)
{
    log(describe(object));
}

void seriousWarning(const QVariant &object)
{
    qCWarning(lcFoundation).noquote() << QStringLiteral("WARNING:") + describe(object);
}

void printTime()
{
    log(QStringLiteral("time:") + QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
}

void printArray(const std::optional<QVariantList> &array)
{
    if (!array) {
        log(QStringLiteral("FennimarDebugging - printArray - array is nil"));
        return;
    }
    if (array->isEmpty()) {
        log(QStringLiteral("FennimarDebugging - printArray - array is empty"));
        return;
    }
    for (const QVariant &element : *array)
        log(describe(element));
}

void printDictionary(const QVariantMap &dictionary)
{
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it)
        log(QStringLiteral("KEY:%1, VALUE:%2").arg(it.key(), describe(it.value())));
}

void printPasteboard(const QMimeData *pasteboard)
{
    if (!pasteboard)
        return;
    log(QStringLiteral("FennimarDesbugging.printPasteboard ++++++++"));
    for (const QString &format : pasteboard->formats()) {
        // Text formats as text; anything else has no string form.
        const QString text = format.startsWith(QStringLiteral("text/")) ? QString::fromUtf8(pasteboard->data(format))
                                                                         : QStringLiteral("(null)");
        log(QStringLiteral("Type:%1 String:%2").arg(format, text));
    }
    log(QStringLiteral("--------------"));
}

void printRange(const FennimarMath::Range &range)
{
    printLine(formatted("location:%lld length:%lld", range.location, range.length));
}

void printPoint(QPointF point)
{
    printLine(formatted("x:%f y:%f", point.x(), point.y()));
}

void printSize(QSizeF size)
{
    printLine(formatted("size.width:%f size.height:%f", size.width(), size.height()));
}

void printRect(const QRectF &rect)
{
    printLine(formatted("x:%f y:%f w:%f h:%f", rect.x(), rect.y(), rect.width(), rect.height()));
}

void printCGRect(const QRectF &rect)
{
    printRect(rect);
}

void printArrayOfRects(const QList<QRectF> &rects)
{
    for (const QRectF &rect : rects)
        printRect(rect);
}

void printArrayOfArraysOfRects(const QList<QList<QRectF>> &arrays)
{
    for (const QList<QRectF> &rects : arrays)
        printArrayOfRects(rects);
}

namespace {

QString describeObject(const QObject *object)
{
    QString text = QString::fromLatin1(object->metaObject()->className());
    if (!object->objectName().isEmpty())
        text += QStringLiteral("(\"%1\")").arg(object->objectName());
    return text + QString::asprintf(" %p", static_cast<const void *>(object));
}

} // namespace

void dumpViewTree(const QObject *view)
{
    if (!view)
        return;
    log(QStringLiteral("DUMP:") + describeObject(view));
    dumpViewTree(view, QString());
}

void dumpViewTree(const QObject *view, const QString &withPrefix)
{
    if (!view)
        return;
    for (const QObject *child : view->children()) {
        log(withPrefix + QStringLiteral("DUMP:") + describeObject(view));
        dumpViewTree(child, QStringLiteral("\t->") + withPrefix);
    }
}

void warnIfObjectIsNotAKindOfString(const QVariant &object)
{
    if (object.typeId() == QMetaType::QString)
        return;
    printLine(QByteArray(48, '+'));
    printLine("warnIfObjectIsNotAKindOfString:");
    printLine(formatted(" Pointer:%p", object.constData()));
    log(describe(object));
    printLine(QByteArray(48, '-'));
}

void crash()
{
    qCCritical(lcFoundation, "FennimarDebugging - Going for a crash...");
    std::abort();
}

} // namespace FennimarDebugging
