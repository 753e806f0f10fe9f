#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Where mail goes: "smtp://HOST:PORT" (STARTTLS when the server offers it, required when a
// password is given) or "smtps://HOST:PORT" (TLS from the start).
struct SmtpSettings
{
    QString url;
    QString user;
    QByteArray password;    // read from a file; never printed
    QString from;
    QString caFile;         // trusted certificates for the server, beside the system's
    int timeoutSeconds = 120;

    bool Configured() const { return !url.isEmpty(); }
};

struct SmtpResult
{
    enum Outcome { Sent, Transient, Permanent };
    Outcome outcome = Sent;
    QString error;          // a sentence without the password
};

// Sends one rendered message to the recipients, through libcurl.
SmtpResult SendMail(const SmtpSettings &settings, const QStringList &recipients, const QByteArray &message);
