#pragma once

#include "velhost_export.h"

#include <QString>

#include <cstddef>

// A file written the safe way: into a temporary file beside the target, renamed onto it only
// when everything was written. The target is a new path or a regular file (a symbolic link is
// followed to its file); a device node, a directory or anything else is refused, so writing
// never replaces one. Until Commit() the target is untouched; a file never committed is removed.
// Errors are VelError texts in Chinese; a full disk reads "磁盘空间不足".
class VELHOST_EXPORT AtomicFile
{
public:
    // Throws VelError when the target cannot be written.
    explicit AtomicFile(const QString &target);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // For writers that open the file by its name (XLSX, PDF).
    const QString &TemporaryPath() const { return m_temp; }
    const QString &Target() const { return m_target; }
    // Appends bytes to the temporary file; throws VelError on failure.
    void Write(const char *data, size_t size);
    // Empties the temporary file, to write it again from its start; throws VelError.
    void Restart();
    // Flushes to disk and renames onto the target. Throws VelError; the temporary file is gone
    // either way.
    void Commit();

    // The text for a failed write of `path`: "磁盘空间不足" when the disk is full.
    static QString WriteError(const QString &path, int error);

private:
    void discard();

    QString m_target;   // symbolic links resolved
    QString m_temp;
    int m_fd = -1;
    bool m_done = false;
};

// Throws VelError when `path` exists and is not a regular file (a FIFO, a device, a folder):
// reading one could wait or go on for ever. A symbolic link is judged by its file.
VELHOST_EXPORT void RequireRegularFile(const QString &path);
