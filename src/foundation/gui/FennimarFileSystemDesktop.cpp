// The parts of FennimarFileSystem that ask the user or the desktop.

#include "FennimarFileSystem.h"

#include "FennimarGraphics.h"
#include "GraphicsContext.h"
#include "Localization.h"
#include "RidorIvuvud.h"
#include "foundationguilogging.h"

#include <QColor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace FennimarFileSystem {

namespace {

// The conflict question of a copy or move: 1 Overwrite, 2 Don't Copy/Move, 3 Make Unique.
ConflictQuestion conflictDialog(Transfer transfer)
{
    return [transfer](const QString &targetTail) {
        const QString heading = brisko::tr(u"FileExists_Main"_s).arg(targetTail);
        const QString dont = transfer == Transfer::Move ? u"Don't Move"_s : u"Don't Copy"_s;
        return RidorIvuvud::showDialog(heading, brisko::tr(u"FileExists_Sub"_s), brisko::tr(u"Overwrite"_s),
                                       brisko::tr(dont), brisko::tr(u"Make Unique"_s));
    };
}

} // namespace

FennimarFileSystemCopyResult fileCopy(const QString &source, const QString &destination, bool relaxPermissions,
                                      bool dialogIfRequired, bool attemptToFixPaths)
{
    return transferItem(Transfer::Copy, source, destination, relaxPermissions,
                        dialogIfRequired ? conflictDialog(Transfer::Copy) : ConflictQuestion(), attemptToFixPaths);
}

FennimarFileSystemCopyResult fileMove(const QString &source, const QString &destination, bool relaxPermissions,
                                      bool dialogIfRequired, bool attemptToFixPaths)
{
    return transferItem(Transfer::Move, source, destination, relaxPermissions,
                        dialogIfRequired ? conflictDialog(Transfer::Move) : ConflictQuestion(), attemptToFixPaths);
}

QString createTempFilenameWithExtension(const QString &extension)
{
    return u"/tmp/%1"_s.arg(RidorIvuvud::makeRandomLeafname(u"/tmp"_s, extension));
}

QString createTempFilename()
{
    return createTempFilenameWithExtension(u"tmp"_s);
}

QString createTemporaryFolder()
{
    // Another process may take the name between the choice and the creation: try again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = createTempFilename();
        if (QDir().mkdir(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            return path;
    }
    qCWarning(lcFoundationGui, "FennimarFileSystem.createTemporaryFolder - could not create a folder in /tmp");
    return QString();
}

std::optional<QString> prettyFileSize(const QString &path)
{
    const qint64 size = fileSize(path);
    return size < 0 ? std::nullopt : RidorIvuvud::prettySize(size);
}

bool fileOpen(const QString &path)
{
    if (path.isEmpty())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

bool revealInFinder(const QString &path)
{
    if (path.isEmpty() || !fileExists(path))
        return false;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QString service = u"org.freedesktop.FileManager1"_s;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusConnectionInterface *names = bus.interface();
        const bool present = names
                          && (names->isServiceRegistered(service).value()
                              || names->activatableServiceNames().value().contains(service));
        if (present) {
            QDBusMessage call = QDBusMessage::createMethodCall(service, u"/org/freedesktop/FileManager1"_s,
                                                               service, u"ShowItems"_s);
            call << QStringList{QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded)} << QString();
            // A file manager that does not answer within five seconds counts as absent.
            const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
            if (reply.type() == QDBusMessage::ReplyMessage)
                return true;
            qCInfo(lcFoundationGui).noquote() << "FennimarFileSystem.revealInFinder - file manager refused:"
                                              << reply.errorMessage();
        }
    }
    // No file manager on the bus: open the folder that holds the item.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(absolute).absolutePath()));
}

QColor colorForFinderLabel(int label)
{
    const auto rgb = [](int r, int g, int b) { return QColor(r, g, b); };
    switch (label) {
    case 1:
        return rgb(168, 168, 168); // grey
    case 2:
        return rgb(164, 221, 61); // green
    case 3:
        return rgb(206, 131, 218); // purple
    case 4:
        return rgb(57, 162, 255); // blue
    case 5:
        return rgb(242, 220, 60); // yellow
    case 6:
        return rgb(255, 77, 87); // red
    case 7:
        return rgb(255, 164, 58); // orange
    default:
        return QColor(0, 0, 0, 0);
    }
}

QList<QColor> fileLabelColors()
{
    QList<QColor> colors;
    for (int label = 0; label <= 7; ++label)
        colors << colorForFinderLabel(label);
    return colors;
}

QImage imageForFinderLabel(int label)
{
    QImage image(17, 17, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const QColor color = colorForFinderLabel(label);
    if (color.alpha() == 0)
        return image;
    // The colour shaded toward black by 0.2.
    const QColor darker = QColor::fromRgbF(color.redF() * 0.8f, color.greenF() * 0.8f, color.blueF() * 0.8f,
                                           color.alphaF());

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    GraphicsContext context(painter, image.height());
    // Room for the shadow, which falls two points right and below.
    const QRectF swatch(1.5, 3.5, 12, 12);
    const QPainterPath path = FennimarGraphics::bezierPathWithRoundedRect(swatch, 3);

    context.saveGraphicsState();
    FennimarGraphics::setStandardShadow(context);
    context.setFillColor(color);
    context.fill(path);
    context.restoreGraphicsState();

    context.saveGraphicsState();
    context.clip(path);
    FennimarGraphics::drawFade(context, swatch, darker, color, false);
    context.restoreGraphicsState();

    context.setStrokeColor(darker);
    context.setLineWidth(1);
    context.stroke(path);
    return image;
}

} // namespace FennimarFileSystem
