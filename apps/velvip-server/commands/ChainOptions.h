#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>

class QCommandLineParser;

// --db FILE, --props TEXT and --props-file FILE: the chain a command reads, as the service and
// its user commands take it.
struct ChainOptions
{
    QCommandLineOption db{QStringLiteral("db"), QStringLiteral("连锁数据库（SQLite 文件）"), QStringLiteral("FILE")};
    QCommandLineOption props{QStringLiteral("props"), QStringLiteral("连锁数据库的连接文本"), QStringLiteral("TEXT")};
    QCommandLineOption propsFile{QStringLiteral("props-file"), QStringLiteral("从文件读入连接文本（不让密码出现在命令行上）"),
                                 QStringLiteral("FILE")};

    QList<QCommandLineOption> All() const { return {db, props, propsFile}; }
    // How many of the three were given.
    int Given(const QCommandLineParser &parser) const;
    // The connection text of the one given (the first of --db, --props, --props-file); empty when
    // none was. Throws VelError when the file cannot be read or is too large to be one.
    QString Text(const QCommandLineParser &parser) const;
};
