#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

class QCommandLineParser;
struct DeliveryOptions;

// Adds the service's options for scheduled deliveries (mail server, catch-up, retries) and
// returns them.
QList<QCommandLineOption> AddDeliveryOptions(QCommandLineParser &parser);
// Reads them; the sentence of what is wrong, or empty.
QString ReadDeliveryOptions(const QCommandLineParser &parser, DeliveryOptions &options);

// velvip-server schedule add|list|run-now|disable …
int ScheduleMain(const QStringList &args);
