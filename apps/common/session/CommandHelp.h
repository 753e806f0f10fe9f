#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>

// The programs' option lists and command-line complaints in Chinese (Qt's own are English).
namespace CommandHelp {

// "  --name VALUE    description" per option and for -h/--help, wrapped to `width` columns.
QString Options(const QList<QCommandLineOption> &options, int width);

// The parser's complaint after a failed parse, with the nearest option for a typo.
QString ParseError(const QCommandLineParser &parser, const QList<QCommandLineOption> &options);

} // namespace CommandHelp
