#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class MimeReader;

// Where mail goes: "smtp://HOST:PORT" (STARTTLS when the server offers it, required when a
// password is given) or "smtps://HOST:PORT" (TLS from the start).
struct SmtpSettings
{
    QString url;
    QString user;
    QByteArray password;    // read from a file; never printed
    QString from;
    QString caFile;         // trusted certificates for the server, beside the system's
    int timeoutSeconds = 120;   // each stage: connecting, every reply, the message going out

    bool Configured() const { return !url.isEmpty(); }
};

struct SmtpResult
{
    enum Outcome { Sent, Transient, Permanent };
    Outcome outcome = Sent;
    QString reply;          // the server's last reply line, as it gave it ("550 5.1.1 no such user")
    QString error;          // a sentence without the password
};

// Sends one message to one recipient through libcurl, every stage bounded by the settings'
// time-out. `record` gets the outcome as soon as the server has answered the message, before
// QUIT and the connection's close: a process that dies after the server's 250 has then most
// likely logged it already.
SmtpResult SendMail(const SmtpSettings &settings, const QString &recipient, MimeReader &message,
                    const std::function<void(const SmtpResult &)> &record);

// The service's stop: sends waiting for the reply to QUIT, now and later, end at once (their
// outcome is logged already); a message still going out is not touched.
void AbandonQuits();
