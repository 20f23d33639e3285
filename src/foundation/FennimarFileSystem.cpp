#include "FennimarFileSystem.h"

#include "FennimarArrays.h"
#include "FennimarMath.h"
#include "FennimarUserDefaults.h"
#include "FennimarWeb.h"
#include "foundationlogging.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStringDecoder>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <sys/xattr.h>

using namespace Qt::StringLiterals;
namespace fs = std::filesystem;

namespace FennimarFileSystem {

namespace {

// The last component, or an empty view when the path has none.
QStringView tailOf(QStringView path)
{
    qsizetype end = path.size();
    while (end > 0 && path.at(end - 1) == u'/')
        --end;
    const qsizetype start = path.first(end).lastIndexOf(u'/') + 1;
    return path.sliced(start, end - start);
}

// The extension of a tail ("" without a dot) and the tail without it.
QStringView extensionOf(QStringView tail)
{
    const qsizetype dot = tail.lastIndexOf(u'.');
    return dot < 0 ? QStringView() : tail.sliced(dot + 1);
}

QStringView withoutExtension(QStringView tail)
{
    const qsizetype dot = tail.lastIndexOf(u'.');
    return dot < 0 ? tail : tail.first(dot);
}

fs::path toPath(const QString &path)
{
    return fs::path(path.toStdU16String());
}

// Something is at the path, a dangling link included.
bool occupied(const QString &path)
{
    std::error_code ec;
    return fs::symlink_status(toPath(path), ec).type() != fs::file_type::not_found && !ec;
}

// A free name beside the path for setting an item aside or building a new one.
QString siblingScratchName(const QString &path, const QString &purpose)
{
    const QString folder = filePath(path);
    const QString tail = tailOf(path).toString();
    for (;;) {
        const QString candidate = folder + u"/."_s + tail + u'.' + purpose + u'-'
                                + QString::number(QRandomGenerator::global()->generate(), 36);
        if (!occupied(candidate))
            return candidate;
    }
}

bool isInside(const QString &inner, const QString &outer)
{
    const QString a = QFileInfo(inner).absoluteFilePath();
    const QString b = QFileInfo(outer).absoluteFilePath();
    return a == b || a.startsWith(b.endsWith(u'/') ? b : b + u'/');
}

bool sameItem(const QString &a, const QString &b)
{
    std::error_code ec;
    return fs::exists(toPath(a), ec) && fs::equivalent(toPath(a), toPath(b), ec) && !ec;
}

// Copies the file or tree to a scratch name beside the target, then renames it into place,
// so the target holds either nothing or the whole copy.
bool copyInto(const QString &source, const QString &target)
{
    const QString scratch = siblingScratchName(target, u"copy"_s);
    std::error_code ec;
    fs::copy(toPath(source), toPath(scratch),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (!ec)
        fs::rename(toPath(scratch), toPath(target), ec);
    if (ec) {
        std::error_code ignored;
        fs::remove_all(toPath(scratch), ignored);
        qCDebug(lcFoundation, "copy failed: %s", ec.message().c_str());
        return false;
    }
    return true;
}

bool moveInto(const QString &source, const QString &target)
{
    std::error_code ec;
    fs::rename(toPath(source), toPath(target), ec);
    if (!ec)
        return true;
    if (ec != std::errc::cross_device_link)
        return false;
    // Another file system: copy, then remove the source once the copy is whole.
    if (!copyInto(source, target))
        return false;
    fs::remove_all(toPath(source), ec);
    return true;
}

QStringList applicationFolders()
{
    return QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
}

// The groups of an ini-like file (desktop entries, mimeapps.list): group -> key -> value.
// Files larger than 1 MiB are not read.
QMap<QString, QMap<QString, QString>> readIniFile(const QString &path)
{
    QMap<QString, QMap<QString, QString>> groups;
    QFile file(path);
    if (file.size() > 1024 * 1024 || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return groups;
    QString group;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0)
            groups[group].insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return groups;
}

QStringList splitList(const QString &value)
{
    QStringList items = value.split(u';', Qt::SkipEmptyParts);
    for (QString &item : items)
        item = item.trimmed();
    return items;
}

// Every mimeapps.list in the order XDG looks them up, most important first.
QStringList mimeAppsLists()
{
    QStringList lists;
    for (const QString &folder : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation))
        lists << folder + u"/mimeapps.list"_s;
    for (const QString &folder : applicationFolders())
        lists << folder + u"/mimeapps.list"_s;
    return lists;
}

// The desktop entry with that id (its name, sub-folders joined with "-"), if installed.
std::optional<QString> desktopEntryPath(const QString &id)
{
    for (const QString &folder : applicationFolders()) {
        QString relative = id;
        for (;;) {
            const QString candidate = folder + u'/' + relative;
            if (QFileInfo(candidate).isFile())
                return candidate;
            const qsizetype dash = relative.indexOf(u'-');
            if (dash < 0)
                break;
            relative[dash] = u'/';
        }
    }
    return std::nullopt;
}

QString desktopEntryId(const QString &folder, const QString &path)
{
    return QDir(folder).relativeFilePath(path).replace(u'/', u'-');
}

QStringList mimeTypeAndParents(const QString &path)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    QStringList names{type.name()};
    names += type.aliases();
    names += type.allAncestors();
    return names;
}

} // namespace

// ---- Core path parts ----------------------------------------------------------------------

bool fileExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo::exists(path);
}

void fileMakeDir(const QString &path)
{
    if (!path.isEmpty())
        QDir().mkdir(path);
}

bool fileIsExtension(const QString &path, const QString &extension)
{
    return extensionOf(tailOf(path)) == extension;
}

QString fileWithoutExtensionOrPath(const QString &path)
{
    return withoutExtension(tailOf(path)).toString();
}

std::optional<QString> fileTail(const QString &path)
{
    const QStringView tail = tailOf(path);
    if (tail.isEmpty()) {
        qCWarning(lcFoundation, "FennimarFileSystem.fileTail - could not get tail:%s", qUtf8Printable(path));
        return std::nullopt;
    }
    return tail.toString();
}

QString fileExtension(const QString &path)
{
    return extensionOf(tailOf(path)).toString();
}

QString fileWithoutExtension(const QString &path)
{
    const QStringView tail = tailOf(path);
    const QStringView extension = extensionOf(tail);
    if (tail.lastIndexOf(u'.') < 0)
        return path;
    // Everything up to the tail's last dot; trailing slashes after the tail go with it.
    const qsizetype tailStart = tail.data() - path.constData();
    return path.left(tailStart + tail.size() - extension.size() - 1);
}

QString fileStripFileExtension(const QString &path)
{
    return fileWithoutExtension(path);
}

QString filePath(const QString &path)
{
    const QStringView tail = tailOf(path);
    if (tail.isEmpty())
        return path;
    qsizetype end = tail.data() - path.constData();
    while (end > 1 && path.at(end - 1) == u'/')
        --end;
    return end == 0 ? QString() : path.left(end);
}

QString pathToFile(const QString &path)
{
    return filePath(path);
}

QString penultimatePathComponent(const QString &path)
{
    return tailOf(filePath(path)).toString();
}

bool file(const QString &path, const QString &hasExtension)
{
    return extensionOf(tailOf(path)).compare(hasExtension, Qt::CaseInsensitive) == 0;
}

QStringList filePathsWithTail(const QString &tail, const QStringList &fromArray)
{
    QStringList found;
    for (const QString &path : fromArray)
        if (tailOf(path) == tail)
            found << path;
    return found;
}

QStringList filePathsWithExtension(const QString &extension, const QStringList &fromArray)
{
    QStringList found;
    for (const QString &path : fromArray)
        if (extensionOf(tailOf(path)) == extension)
            found << path;
    return found;
}

// ---- Standard folders ---------------------------------------------------------------------

QString pathToHomeDirectory()
{
    return QDir::homePath();
}

QString pathToPreferencesFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString pathToThisApplication()
{
    return QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
}

QString pathToApplicationSupportFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

// ---- Tests --------------------------------------------------------------------------------

bool fileIsDirectory(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

bool fileIsHidden(const QString &path)
{
    return tailOf(path).startsWith(u'.');
}

bool fileIsInHiddenFolder(const QString &path)
{
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    return std::any_of(parts.cbegin(), parts.cend(), [](const QString &part) { return part.startsWith(u'.'); });
}

bool isPathSymbolicLink(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isSymLink();
}

bool doesDirectory(const QString &directory, const QString &containChild)
{
    return fileExists(directory + u'/' + containChild);
}

bool parentFolderTheSame(const QString &folder, const QString &forFile)
{
    return filePath(forFile) == folder;
}

bool filenameHasRiskyCharacters(const QString &path)
{
    const QStringView tail = tailOf(path);
    return tail.contains(u'.') || tail.contains(u'/') || tail.contains(u'\\');
}

bool canFileBeOpenedForReading(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    // Read it through in pieces rather than holding it whole.
    char buffer[65536];
    for (;;) {
        const qint64 got = file.read(buffer, sizeof buffer);
        if (got < 0)
            return false;
        if (got == 0)
            return file.atEnd();
    }
}

bool isPath(const QString &path, qint64 moreThanSecondsOld)
{
    const std::optional<QDateTime> modified = modificationDateForPath(path);
    return modified && modified->secsTo(QDateTime::currentDateTime()) > moreThanSecondsOld;
}

QStringList movieExtensions()
{
    return {u"mpg"_s, u"mov"_s, u"avi"_s, u"wmv"_s, u"divx"_s, u"mp4"_s,
            u"ogg"_s, u"ogv"_s, u"webm"_s, u"3gp"_s, u"m4v"_s};
}

bool isFilesExtensionAMovie(const QString &path)
{
    return movieExtensions().contains(fileExtension(path).toLower());
}

// ---- Listing ------------------------------------------------------------------------------

std::optional<QStringList> fileList(const QString &path, bool hidden, bool fullPath)
{
    if (path.isEmpty())
        return std::nullopt;
    QDir folder(path);
    if (!folder.exists())
        return std::nullopt;
    QDir::Filters filters = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System;
    if (hidden)
        filters |= QDir::Hidden;
    QStringList names = folder.entryList(filters, QDir::Name);
    if (!hidden)
        names.removeIf([](const QString &name) { return name.startsWith(u'.'); });
    if (fullPath)
        names = FennimarArrays::prependStringOntoArrayItems(path + u'/', names);
    return names;
}

int fileCount(const QString &path)
{
    return int(fileList(path).value_or(QStringList()).size());
}

void recursePathToList(QStringList &list, const QString &fromPath, bool goInsideApps, bool onlyAddApps,
                       int stopAtLevel, int currentLevel)
{
    if (currentLevel >= stopAtLevel)
        return;
    const QStringList names = fileList(fromPath, true).value_or(QStringList());
    for (const QString &name : names) {
        const QString entry = fromPath + u'/' + name;
        const QFileInfo info(entry);
        // Links to folders are not followed, so a link loop cannot recurse for ever.
        if (info.isDir() && !info.isSymLink() && (goInsideApps || !fileIsExtension(entry, u"app"_s)))
            recursePathToList(list, entry, goInsideApps, onlyAddApps, stopAtLevel, currentLevel + 1);
        if (!onlyAddApps || fileIsApplication(entry))
            list.append(entry);
    }
}

// ---- Creating and deleting ----------------------------------------------------------------

bool fileEnsurePathExists(const QString &path)
{
    bool created = false;
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    QString built = path.startsWith(u'/') ? u"/"_s : QString();
    for (const QString &part : parts) {
        built = QDir::cleanPath(built.isEmpty() || built.endsWith(u'/') ? built + part : built + u'/' + part);
        if (!fileExists(built)) {
            fileMakeDir(built);
            created = created || fileIsDirectory(built);
        }
    }
    return created;
}

void fileDelete(const QString &path)
{
    if (path.isEmpty())
        return;
    std::error_code ec;
    fs::remove_all(toPath(path), ec);
}

void fileTouch(const QString &path)
{
    QProcess touch;
    touch.setStandardOutputFile(QProcess::nullDevice());
    touch.start(u"/usr/bin/touch"_s, {path});
    if (!touch.waitForFinished(10000)) {
        touch.kill();
        touch.waitForFinished(1000);
    }
}

bool createSymlinkFrom(const QString &from, const QString &to)
{
    QString link = to;
    if (fileIsDirectory(to) && !fileIsDirectory(from))
        link = to + u'/' + tailOf(from).toString();
    std::error_code ec;
    fs::create_symlink(toPath(from), toPath(link), ec);
    return !ec;
}

// ---- Copy and move ------------------------------------------------------------------------

FennimarFileSystemCopyResult transferItem(Transfer transfer, const QString &source, const QString &destination,
                                          bool relaxPermissions, const ConflictQuestion &askOnConflict,
                                          bool attemptToFixPaths)
{
    const bool move = transfer == Transfer::Move;
    FennimarFileSystemCopyResult result;

    QString target = destination;
    if (attemptToFixPaths && fileIsDirectory(destination))
        target = destination + u'/' + tailOf(source).toString();

    // Reading and writing the same item would destroy it: the source's own folder, the
    // source itself, or (for a folder) a place inside it.
    const bool sameFolder = QDir::cleanPath(filePath(source)) == QDir::cleanPath(destination);
    if (sameFolder || sameItem(source, target) || (fileIsDirectory(source) && isInside(target, source))) {
        qCWarning(lcFoundation).noquote() << (move ? u"Cannot move as would be reading from same file as writing: '%1'"_s
                                                   : u"Cannot copy as would be reading from same file as writing: '%1'"_s)
                                                     .arg(source);
        return result;
    }

    bool replace = false;
    if (occupied(target)) {
        if (askOnConflict) {
            switch (askOnConflict(tailOf(target).toString())) {
            case 1:
                replace = true;
                break;
            case 2:
                return result;
            case 3:
                target = inventUniqueCopyPathFor(target);
                break;
            default:
                break; // goes on; the target is in the way, so the copy fails
            }
        } else {
            replace = true;
        }
    }

    // The item in the way is set aside, not deleted, until the new one is in place.
    std::optional<QString> aside;
    bool ok = true;
    if (replace) {
        aside = siblingScratchName(target, u"replaced"_s);
        std::error_code ec;
        fs::rename(toPath(target), toPath(*aside), ec);
        if (ec) {
            aside.reset();
            ok = false;
        }
    }
    if (ok && !occupied(target))
        ok = move ? moveInto(source, target) : copyInto(source, target);
    else
        ok = false;

    if (!ok) {
        if (move) {
            qCWarning(lcFoundation, "MOVE FAILED");
            qCWarning(lcFoundation).noquote() << u"MOVE from : '%1'"_s.arg(source);
            qCWarning(lcFoundation).noquote() << u"MOVE to :'%1'"_s.arg(destination);
        } else {
            qCWarning(lcFoundation, "COPY FAILED");
            qCWarning(lcFoundation).noquote() << u"Copy from : '%1'"_s.arg(source);
            qCWarning(lcFoundation).noquote() << u"Copy to :'%1'"_s.arg(destination);
        }
        if (aside) {
            std::error_code ec;
            fs::rename(toPath(*aside), toPath(target), ec);
        }
    } else if (aside) {
        fileDelete(*aside);
    }

    // Only what was made here is opened up: never an item that was merely in the way.
    if (ok && relaxPermissions) {
        std::error_code ec;
        fs::permissions(toPath(target), fs::perms::all, fs::perm_options::replace, ec);
    }

    result.setSuccess(ok);
    result.setCreatedFilePath(target);
    return result;
}

void fileMove(const QString &source, const QString &destination)
{
    QString target = destination;
    if (fileIsDirectory(destination))
        target = destination + u'/' + tailOf(source).toString();
    if (occupied(target))
        return;
    moveInto(source, target);
}

bool fileCopy(const QString &source, const QString &destination, bool relaxPermissions)
{
    return transferItem(Transfer::Copy, source, destination, relaxPermissions, {}, true).success();
}

// ---- Names --------------------------------------------------------------------------------

QString inventUniqueCopyPathFor(const QString &path)
{
    const QString stem = fileWithoutExtension(path);
    const QString extension = fileExtension(path);
    for (int n = 1;; ++n) {
        const QString candidate = u"%1-%2.%3"_s.arg(stem).arg(n).arg(extension);
        if (!occupied(candidate))
            return candidate;
    }
}

std::optional<QString> duplicateFile(const QString &path)
{
    const QString copy = inventUniqueCopyPathFor(path);
    return copyInto(path, copy) ? std::optional(copy) : std::nullopt;
}

std::optional<QString> duplicateFile(const QString &path, const QString &withAddOn)
{
    const QString stem = fileWithoutExtension(path);
    const QString extension = fileExtension(path);
    QString copy;
    for (int n = 1;; ++n) {
        copy = u"%1-%2-%3.%4"_s.arg(stem, withAddOn).arg(n).arg(extension);
        if (!occupied(copy))
            break;
    }
    return copyInto(path, copy) ? std::optional(copy) : std::nullopt;
}

QString inventBackupPathFor(const QString &path)
{
    return u"%1-%2.%3"_s.arg(fileWithoutExtension(path), u"original"_s, fileExtension(path));
}

QString changeFileExtensionOf(const QString &path, const QString &to)
{
    return u"%1.%2"_s.arg(fileWithoutExtension(path), to);
}

QString createTempFilenameWithTail(const QString &tail)
{
    return u"/tmp/%1/%2"_s.arg(FennimarMath::randomNumber()).arg(tail);
}

QString makePath(const QString &path, const std::optional<QString> &relativeTo)
{
    if (!relativeTo || path.isEmpty() || relativeTo->isEmpty())
        return path;
    const std::optional<QString> decodedPath = FennimarWeb::unEscapeCharactersForHTMLOrHTTP(path);
    const std::optional<QString> decodedBase = FennimarWeb::unEscapeCharactersForHTMLOrHTTP(*relativeTo);
    if (!decodedPath || !decodedBase)
        return decodedPath.value_or(path);
    QStringList parts = decodedPath->split(u'/', Qt::SkipEmptyParts);
    QStringList base = decodedBase->split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty() || base.isEmpty())
        return *decodedPath;
    while (parts.size() > 1 && base.size() > 1 && parts.first() == base.first()) {
        parts.removeFirst();
        base.removeFirst();
    }
    return u"../"_s.repeated(base.size() - 1) + parts.join(u'/');
}

// ---- Dates and sizes ----------------------------------------------------------------------

std::optional<QDateTime> modificationDateForPath(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return std::nullopt;
    return info.lastModified();
}

std::optional<QDateTime> creationDateForPath(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return std::nullopt;
    const QDateTime born = info.birthTime();
    // Not every file system records a birth time; the last status change stands in.
    return born.isValid() ? born : info.metadataChangeTime();
}

std::optional<QString> localizedModificationDateStringForPath(const QString &path)
{
    const std::optional<QDateTime> date = modificationDateForPath(path);
    if (!date)
        return std::nullopt;
    const QString format = FennimarUserDefaults::objectForKey(QString(DateFormatKey)).toString();
    return format.isEmpty() ? QLocale::system().toString(*date, QLocale::ShortFormat)
                            : QLocale::system().toString(*date, format);
}

qint64 fileSize(const QString &path)
{
    const QFileInfo info(path);
    return path.isEmpty() || !info.exists() ? -1 : info.size();
}

// ---- Text encoding ------------------------------------------------------------------------

TextEncoding fileTextEncoding(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return TextEncoding::MacOSRoman;
    const QByteArray bytes = file.read(64 * 1024 * 1024);
    if (const auto marked = QStringConverter::encodingForData(bytes)) {
        const auto hasMark = [&](QByteArrayView mark) { return bytes.startsWith(mark); };
        switch (*marked) {
        case QStringConverter::Utf8:
            if (!hasMark("\xEF\xBB\xBF"))
                break; // no mark: tested as plain bytes below
            return TextEncoding::UTF8;
        case QStringConverter::Utf16BE:
            return TextEncoding::UTF16BigEndian;
        case QStringConverter::Utf16LE:
            return TextEncoding::UTF16LittleEndian;
        case QStringConverter::Utf32BE:
            return TextEncoding::UTF32BigEndian;
        case QStringConverter::Utf32LE:
            return TextEncoding::UTF32LittleEndian;
        default:
            break;
        }
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(bytes); // decode() converts only when read
    if (!utf8.hasError())
        return TextEncoding::UTF8;
    // The marker is plain ASCII, so it can be looked for in the raw bytes.
    return bytes.contains("charset=euc-jp") ? TextEncoding::JapaneseEUC : TextEncoding::MacOSRoman;
}

QString errorForFailureToOpenFileForReading(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    // As fileTextEncoding(): the first 64 MiB are what is looked at.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(file.read(64 * 1024 * 1024)); // decode() converts only when read
    if (utf8.hasError())
        return u"The file \"%1\" is not UTF-8 text."_s.arg(tailOf(path).toString());
    return QString();
}

// ---- Desktop ------------------------------------------------------------------------------

std::optional<QString> desktopEntryValue(const QString &desktopFile, const QString &key)
{
    const auto groups = readIniFile(desktopFile);
    const auto group = groups.constFind(u"Desktop Entry"_s);
    if (group == groups.cend() || !group->contains(key))
        return std::nullopt;
    return group->value(key);
}

std::optional<QString> appForFile(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    const QStringList types = mimeTypeAndParents(path);
    for (const QString &list : mimeAppsLists()) {
        const auto defaults = readIniFile(list).value(u"Default Applications"_s);
        for (const QString &type : types) {
            for (const QString &id : splitList(defaults.value(type))) {
                if (const auto entry = desktopEntryPath(id))
                    return desktopEntryValue(*entry, u"Name"_s).value_or(fileWithoutExtensionOrPath(*entry));
            }
        }
    }
    return std::nullopt;
}

std::optional<QStringList> appsForFile(const std::optional<QString> &path)
{
    if (!path)
        return std::nullopt;
    const QStringList types = mimeTypeAndParents(*path);
    QStringList apps;
    QSet<QString> removed;
    const auto add = [&](const QString &entry) {
        if (!apps.contains(entry))
            apps.append(entry);
    };
    for (const QString &list : mimeAppsLists()) {
        const auto groups = readIniFile(list);
        for (const QString &type : types) {
            for (const QString &id : splitList(groups.value(u"Removed Associations"_s).value(type)))
                removed.insert(id);
            for (const QString &group : {u"Default Applications"_s, u"Added Associations"_s})
                for (const QString &id : splitList(groups.value(group).value(type)))
                    if (const auto entry = desktopEntryPath(id))
                        add(*entry);
        }
    }
    for (const QString &folder : applicationFolders()) {
        QDirIterator entries(folder, {u"*.desktop"_s}, QDir::Files, QDirIterator::Subdirectories);
        while (entries.hasNext()) {
            const QString entry = entries.next();
            if (removed.contains(desktopEntryId(folder, entry)))
                continue;
            const QStringList handles = splitList(desktopEntryValue(entry, u"MimeType"_s).value_or(QString()));
            if (std::any_of(types.cbegin(), types.cend(), [&](const QString &t) { return handles.contains(t); }))
                add(entry);
        }
    }
    std::sort(apps.begin(), apps.end(), [](const QString &a, const QString &b) {
        return tailOf(a).compare(tailOf(b), Qt::CaseInsensitive) < 0;
    });
    return apps;
}

std::optional<QStringList> appsForTextEditing()
{
    const QString marker = u"/tmp/texteditors.txt"_s;
    fileTouch(marker);
    return appsForFile(marker);
}

bool fileIsApplication(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return false;
    if (fileIsExtension(path, u"desktop"_s))
        return desktopEntryValue(path, u"Type"_s) == u"Application"_s;
    return info.isExecutable();
}

std::optional<QString> mimeTypeForFileAtPath(const QString &path, QString *error)
{
    const QString extension = fileExtension(path).toLower();
    if (extension == u"ogv")
        return u"video/ogg"_s;
    if (extension == u"webm")
        return u"video/webm"_s;
    if (extension == u"m4v")
        return u"video/x-m4v"_s;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    if (!type.isValid() || type.isDefault()) {
        if (error)
            *error = u"No MIME type is known for \"%1\"."_s.arg(path);
        return std::nullopt;
    }
    return type.name();
}

std::optional<QString> pathToiDisk()
{
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        const QByteArray type = volume.fileSystemType().toLower();
        if (volume.isValid() && volume.isReady() && (type == "webdav" || type.contains("davfs")))
            return volume.rootPath();
    }
    return std::nullopt;
}

// ---- Colour labels ------------------------------------------------------------------------

int finderLabelForPath(const QString &path)
{
    char value[8] = {};
    const QByteArray local = QFile::encodeName(path);
    const ssize_t size = ::getxattr(local.constData(), LabelAttribute, value, sizeof value - 1);
    if (size <= 0)
        return 0;
    bool ok = false;
    const int label = QByteArray(value, size).toInt(&ok);
    return ok && label >= 0 && label <= 7 ? label : 0;
}

int finderLabelForURL(const QUrl &url)
{
    return url.isLocalFile() ? finderLabelForPath(url.toLocalFile()) : 0;
}

bool setFinderLabel(int label, const QString &forPath)
{
    qCInfo(lcFoundation, "label:%d", label);
    if (label < 0 || label > 7 || !fileExists(forPath))
        return false;
    const QByteArray local = QFile::encodeName(forPath);
    if (label == 0) {
        // No label is no attribute.
        return ::removexattr(local.constData(), LabelAttribute) == 0 || errno == ENODATA;
    }
    const QByteArray value = QByteArray::number(label);
    return ::setxattr(local.constData(), LabelAttribute, value.constData(), size_t(value.size()), 0) == 0;
}

bool setFinderLabel(int label, const QUrl &forURL)
{
    if (!forURL.isLocalFile()) {
        qCInfo(lcFoundation, "label:%d", label);
        return false;
    }
    return setFinderLabel(label, forURL.toLocalFile());
}

QStringList fileLabels()
{
    return {u"0"_s, u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s, u"6"_s, u"7"_s};
}

} // namespace FennimarFileSystem
