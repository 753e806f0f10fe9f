// The saved filter schemes' file: whatever the file holds, listing and loading never crash.
#include "Dictionary.h"
#include "SchemeStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

namespace {
QTemporaryDir *folder = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    new QCoreApplication(*argc, *argv);
    folder = new QTemporaryDir;
    std::atexit([] { delete folder; });   // the fuzzer ends through exit(), never through a scope
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QDir dir(folder->path());
    for (const QString &name : dir.entryList(QDir::Files))
        dir.remove(name);
    const QString path = dir.filePath(QStringLiteral("schemes.sqlite"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    SchemeStore store(path, 0);
    for (qint32 rptId = 10901; rptId <= 10906; ++rptId) {
        for (const QString &name : store.Names(rptId))
            store.Load(rptId, name);
        store.LoadLast(rptId);
    }
    return 0;
}
