#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

// Replacing a file's whole content so that, whatever happens, the path holds either the
// old content or the complete new one: never a prefix, never an empty file.
//
// The bytes go to a temporary file in the same folder. Every write is checked, the file
// is synced to the disk (fsync), its size on disk is compared with the bytes, it is
// closed (checked too), and only then renamed over the old file. The folder is synced
// afterwards so the rename itself survives a crash. An existing file's permissions are
// kept; a new file gets 0666 less the umask, as any other file the program creates.
// A symbolic link at the path is followed: its target is replaced, the link stays.
// Temporary files a killed write left beside the file (".<name>.<8 hex digits>") are
// removed by the next complete write once they are an hour old.
//
// Buffered writers (QFile, QSaveFile) are not used on purpose: a buffered flush that
// fails inside QSaveFile::commit() can still let commit() report success, leaving a
// truncated file in place of the old one on a full disk.
namespace AtomicFile {

// Writes the bytes to the path. None on success; otherwise the system's reason (e.g.
// "No space left on device"), and the file at the path is exactly as it was.
std::optional<QString> write(const QString &path, QByteArrayView bytes);

// The steps of one write, for the failure hook.
enum class Step {
    Create, // making the temporary file
    Write,  // each write() of a part of the bytes
    Sync,   // fsync of the temporary file
    Close,  // close of the temporary file
    Rename, // the rename over the old file
};

// For tests: called before each step; a non-zero return makes that step fail with that
// errno, as if the system had refused it. An empty hook (the default) fails nothing.
using FailureHook = std::function<int(Step)>;
void setFailureHookForTesting(FailureHook hook);

} // namespace AtomicFile
