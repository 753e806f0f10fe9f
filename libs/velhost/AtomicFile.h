#pragma once

#include "velhost_export.h"

#include <QString>

#include <cstddef>

// A file written the safe way: into a temporary file beside the target, put onto the target
// only when everything was written. The target is a new path or a regular file (a symbolic link
// is followed to its file); a device node, a directory or anything else is refused, so writing
// never replaces one. Until Commit() the target is untouched; a file never committed is removed.
// Errors are VelError texts in Chinese; a full disk reads "磁盘空间不足".
//
// The temporary file has no name (Linux O_TMPFILE) where the file system allows it, so a
// process killed while writing leaves nothing behind. A named one (`Temp::Named`, or where
// unnamed files are not supported) is called ".<target name>.velvip-<pid>-XXXXXX"; one whose
// process is gone is removed by the next AtomicFile made in its folder.
class VELHOST_EXPORT AtomicFile
{
public:
    // Named: for writers that make files of their own beside theirs (SQLite's journal).
    enum class Temp { Unnamed, Named };

    // Throws VelError when the target cannot be written.
    explicit AtomicFile(const QString &target, Temp temp = Temp::Unnamed);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // For writers that open the file by its name (XLSX, PDF): an unnamed file's
    // /proc/self/fd link, which opens the same file.
    const QString &TemporaryPath() const { return m_temp; }
    const QString &Target() const { return m_target; }
    // Appends bytes to the temporary file; throws VelError on failure.
    void Write(const char *data, size_t size);
    // Empties the temporary file, to write it again from its start; throws VelError.
    void Restart();
    // Flushes to disk and puts the file onto the target. Throws VelError; the temporary file is
    // gone either way.
    void Commit();

    // The text for a failed write of `path`: "磁盘空间不足" when the disk is full.
    static QString WriteError(const QString &path, int error);
    // Removes the named temporary files in `folder` whose process has ended; returns how many.
    static int RemoveStale(const QString &folder);

private:
    void discard();

    QString m_target;   // symbolic links resolved
    QString m_temp;
    int m_fd = -1;
    long long m_written = 0;       // bytes since the last Restart
    long long m_writtenBack = 0;   // bytes whose writeback has been started
    bool m_unnamed = false;
    bool m_done = false;
};

// Throws VelError when `path` exists and is not a regular file (a FIFO, a device, a folder):
// reading one could wait or go on for ever. A symbolic link is judged by its file.
VELHOST_EXPORT void RequireRegularFile(const QString &path);
