#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

class QColor;
class QImage;

// Path and file helpers. Paths use "/" as separator. A path's tail is its last component
// (trailing slashes are not components); its extension is the text after the last dot of
// the tail, "" when the tail has no dot.
//
// Everything here needs QtCore only, except the functions marked (brisko_foundation_gui):
// they ask the user or the desktop and are defined in the interface half of the library.

// The outcome of a copy or move: whether it worked and the path it created (or meant to).
class FennimarFileSystemCopyResult
{
public:
    bool success() const { return _success; }
    void setSuccess(bool success) { _success = success; }
    // None until a target was chosen.
    const std::optional<QString> &createdFilePath() const { return _createdFilePath; }
    void setCreatedFilePath(const std::optional<QString> &path) { _createdFilePath = path; }

private:
    bool _success = false;
    std::optional<QString> _createdFilePath;
};

namespace FennimarFileSystem {

// ---- Core path parts ---------------------------------------------------------------------

// True when anything (file or folder; links followed) exists at the path.
bool fileExists(const QString &path);

// Creates one folder at the path. The parent must exist; no intermediate folders are made.
// Failure is silent.
void fileMakeDir(const QString &path);

// True when the path's extension equals the given one exactly (case-sensitive).
bool fileIsExtension(const QString &path, const QString &extension);

// The tail without its extension: "/x/y/Report.final.txt" gives "Report.final".
QString fileWithoutExtensionOrPath(const QString &path);

// The last path component. None, with the log line
// "FennimarFileSystem.fileTail - could not get tail:<path>", for a path without a named
// component ("" and "/").
std::optional<QString> fileTail(const QString &path);

// The extension ("" when there is none).
QString fileExtension(const QString &path);

// The path without its extension, folder kept: "/d/report.txt" gives "/d/report".
QString fileWithoutExtension(const QString &path);
QString fileStripFileExtension(const QString &path);

// The path without its last component ("/d/report.txt" gives "/d"; "/a" gives "/").
QString filePath(const QString &path);
QString pathToFile(const QString &path);

// The name of the folder that holds the item ("/a/b/c.txt" gives "b").
QString penultimatePathComponent(const QString &path);

// True when the extension equals the given one ignoring case.
bool file(const QString &path, const QString &hasExtension);

// The paths whose tail (extension) equals the given text exactly, in order.
QStringList filePathsWithTail(const QString &tail, const QStringList &fromArray);
QStringList filePathsWithExtension(const QString &extension, const QStringList &fromArray);

// ---- Standard folders --------------------------------------------------------------------

// The home folder.
QString pathToHomeDirectory();
// Where per-user settings live (~/.config).
QString pathToPreferencesFolder();
// The running program's executable.
QString pathToThisApplication();
// Where programs keep their support folders (~/.local/share).
QString pathToApplicationSupportFolder();

// ---- Tests -------------------------------------------------------------------------------

bool fileIsDirectory(const QString &path);
// The tail begins with ".".
bool fileIsHidden(const QString &path);
// Any component, the last one included, begins with ".".
bool fileIsInHiddenFolder(const QString &path);
bool isPathSymbolicLink(const QString &path);
// Something exists at "<directory>/<child>".
bool doesDirectory(const QString &directory, const QString &containChild);
// The folder part of the file equals the folder exactly.
bool parentFolderTheSame(const QString &folder, const QString &forFile);
// The tail holds ".", "/" or a backslash.
bool filenameHasRiskyCharacters(const QString &path);
// The whole file can be read.
bool canFileBeOpenedForReading(const QString &path);
// The modification date lies more than the given seconds in the past.
bool isPath(const QString &path, qint64 moreThanSecondsOld);
// The extension, lower-cased, is one of the video extensions.
bool isFilesExtensionAMovie(const QString &path);
QStringList movieExtensions();

// ---- Listing -----------------------------------------------------------------------------

// The names in the folder (not recursive, sorted by name). None for an empty path or a
// folder that cannot be listed. Names beginning with "." only with `hidden`; with
// `fullPath` each name is prefixed with the folder and "/".
std::optional<QStringList> fileList(const QString &path, bool hidden = false, bool fullPath = false);

// The number of visible names in the folder.
int fileCount(const QString &path);

// Appends the items below fromPath to `list`, a folder's contents before the folder
// itself, while currentLevel is below stopAtLevel. Folders with the extension "app" are
// entered only with goInsideApps; with onlyAddApps only applications are added.
void recursePathToList(QStringList &list, const QString &fromPath, bool goInsideApps, bool onlyAddApps,
                       int stopAtLevel, int currentLevel = 0);

// ---- Creating and deleting ---------------------------------------------------------------

// Creates every missing folder of the path; true when at least one was created.
bool fileEnsurePathExists(const QString &path);

// Removes a file, a link or a whole folder tree. Silent.
void fileDelete(const QString &path);

// Runs "/usr/bin/touch <path>" and waits for it (at most ten seconds).
void fileTouch(const QString &path);

// A symbolic link at `to` pointing to `from`; when `to` is a folder and `from` is not,
// the link is made inside it under from's tail. True when the link was made.
bool createSymlinkFrom(const QString &from, const QString &to);

// ---- Copy and move -----------------------------------------------------------------------
//
// When attemptToFixPaths is set and the destination is an existing folder the target is
// "<destination>/<source tail>", otherwise the destination itself. A copy or move into
// the source's own folder, onto the source itself, or of a folder into itself is refused
// and logged ("Cannot copy as would be reading from same file as writing: '<source>'").
//
// An item already at the target is replaced only once the new one is in place: it is set
// aside first and put back when the copy or move fails, so a failure never loses it.

// How an item already at the target is dealt with: the answer to the question
// "Overwrite" (1), "Don't Copy"/"Don't Move" (2), "Make Unique" (3); anything else goes
// on without replacing (and so fails). No question replaces silently.
using ConflictQuestion = std::function<int(const QString &targetTail)>;

enum class Transfer { Copy, Move };

// The copy or move itself; the functions below all come here.
FennimarFileSystemCopyResult transferItem(Transfer transfer, const QString &source, const QString &destination,
                                          bool relaxPermissions, const ConflictQuestion &askOnConflict,
                                          bool attemptToFixPaths);

// A move (into the folder when the destination is one) that leaves anything already at
// the target alone and then does nothing. Silent.
void fileMove(const QString &source, const QString &destination);

// A copy replacing what is there; with relaxPermissions the copy is made readable,
// writable and executable by everyone (0777).
bool fileCopy(const QString &source, const QString &destination, bool relaxPermissions = false);

// The same with the question shown when something is in the way (dialogIfRequired),
// titled with the localised "FileExists_Main" (the tail), "FileExists_Sub", "Overwrite",
// "Don't Copy"/"Don't Move" and "Make Unique". (brisko_foundation_gui)
FennimarFileSystemCopyResult fileCopy(const QString &source, const QString &destination, bool relaxPermissions,
                                      bool dialogIfRequired, bool attemptToFixPaths = true);
FennimarFileSystemCopyResult fileMove(const QString &source, const QString &destination, bool relaxPermissions,
                                      bool dialogIfRequired, bool attemptToFixPaths = true);

// ---- Names -------------------------------------------------------------------------------

// "<path without extension>-<n>.<extension>" for the first n = 1, 2, ... that is free.
// A path without extension keeps the dot: "/d/README" gives "/d/README-1.".
QString inventUniqueCopyPathFor(const QString &path);

// Copies the file to inventUniqueCopyPathFor(path), or to the first free
// "<path without extension>-<addOn>-<n>.<extension>"; the new path, none when the copy
// failed.
std::optional<QString> duplicateFile(const QString &path);
std::optional<QString> duplicateFile(const QString &path, const QString &withAddOn);

// "<path without extension>-original.<extension>", free or not.
QString inventBackupPathFor(const QString &path);

// "<path without extension>.<extension>".
QString changeFileExtensionOf(const QString &path, const QString &to);

// "/tmp/<random>.tmp" (or the given extension) that is free when asked for; nothing is
// created. (brisko_foundation_gui)
QString createTempFilename();
QString createTempFilenameWithExtension(const QString &extension);
// A new folder at a createTempFilename() path; the path. (brisko_foundation_gui)
QString createTemporaryFolder();
// "/tmp/<random>/<tail>"; the numbered folder is not created.
QString createTempFilenameWithTail(const QString &tail);

// The path relative to the base (taken to name a file): "/a/b/c.html" relative to
// "/a/d/e.html" is "../b/c.html". Both are percent-decoded first. The path as it came for
// no base or an empty path or base; the decoded path when either has no components or
// does not decode.
QString makePath(const QString &path, const std::optional<QString> &relativeTo);

// ---- Dates and sizes ---------------------------------------------------------------------

std::optional<QDateTime> modificationDateForPath(const QString &path);
std::optional<QDateTime> creationDateForPath(const QString &path);

// The preference holding the date format (Qt's date-time format text) for file dates.
inline constexpr QLatin1StringView DateFormatKey{"DateFormat"};

// The modification date in the preferred format, else the locale's short format.
std::optional<QString> localizedModificationDateStringForPath(const QString &path);

// The size in bytes (links followed); -1 when the item does not exist.
qint64 fileSize(const QString &path);

// The size as a short text ("512b", "1k", "1.5MB"); none when the item does not exist.
// (brisko_foundation_gui)
std::optional<QString> prettyFileSize(const QString &path);

// ---- Text encoding -----------------------------------------------------------------------

// Encodings by the numbers the library has always used for them.
enum class TextEncoding : quint32 {
    JapaneseEUC = 3,
    UTF8 = 4,
    MacOSRoman = 30,
    UTF16 = 10,
    UTF16BigEndian = 0x90000100,
    UTF16LittleEndian = 0x94000100,
    UTF32BigEndian = 0x98000100,
    UTF32LittleEndian = 0x9c000100,
};

// The file's encoding: the one its byte-order mark names, else UTF-8 when its bytes are
// UTF-8; otherwise Japanese EUC when the text holds "charset=euc-jp", else Mac OS Roman.
// Only the first 64 MiB are looked at.
TextEncoding fileTextEncoding(const QString &path);

// The reason the file cannot be read as UTF-8 text; empty when it can.
QString errorForFailureToOpenFileForReading(const QString &path);

// ---- Desktop -----------------------------------------------------------------------------

// Opens the file with its default application. (brisko_foundation_gui)
bool fileOpen(const QString &path);

// Shows the item selected in the file manager (org.freedesktop.FileManager1), falling
// back to opening its folder. (brisko_foundation_gui)
bool revealInFinder(const QString &path);

// The name of the file's default application; none when the desktop names none.
std::optional<QString> appForFile(const QString &path);

// The desktop entries of every application that can open the file, without duplicates,
// sorted by file name ignoring case. None for no path.
std::optional<QStringList> appsForFile(const std::optional<QString> &path);

// appsForFile of "/tmp/texteditors.txt" (touched first).
std::optional<QStringList> appsForTextEditing();

// A desktop entry of type Application, or an executable regular file.
bool fileIsApplication(const QString &path);

// One value of the [Desktop Entry] group of a .desktop file (untranslated).
std::optional<QString> desktopEntryValue(const QString &desktopFile, const QString &key);

// "video/ogg", "video/webm", "video/x-m4v" for ogv, webm and m4v (any case), else the
// MIME database's type for the file; none (error set) when it knows none.
std::optional<QString> mimeTypeForFileAtPath(const QString &path, QString *error = nullptr);

// The root of the first mounted WebDAV file system; none when there is none.
std::optional<QString> pathToiDisk();

// ---- Colour labels -----------------------------------------------------------------------
//
// A label is a number 0 (none) to 7, kept in the item's extended attribute
// "user.fennimar.label". Where the file system has no extended attributes, reading gives
// 0 and writing does nothing.

inline constexpr const char *LabelAttribute = "user.fennimar.label";

int finderLabelForPath(const QString &path);
// 0 when the URL is not a local file.
int finderLabelForURL(const QUrl &url);
// Logs "label:<label>" and stores it; false when it could not be stored.
bool setFinderLabel(int label, const QString &forPath);
bool setFinderLabel(int label, const QUrl &forURL);
// "0" to "7".
QStringList fileLabels();

// 1 grey, 2 green, 3 purple, 4 blue, 5 yellow, 6 red, 7 orange; anything else is fully
// transparent. (brisko_foundation_gui)
QColor colorForFinderLabel(int label);
QList<QColor> fileLabelColors();
// A 17 by 17 image of the label: a rounded swatch of its colour casting the standard
// shadow, filled with a fade from the colour darkened by a fifth up to the colour, and
// outlined in the darker colour. Label 0 gives a clear image. (brisko_foundation_gui)
QImage imageForFinderLabel(int label);

} // namespace FennimarFileSystem
