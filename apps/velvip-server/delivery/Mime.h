#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// An e-mail message: a plain-text and an HTML body (UTF-8) and at most one attachment, as
// multipart MIME. Header texts outside ASCII are RFC 2047 encoded words; the attachment's name
// is given in RFC 2231 form (UTF-8, split into continuations) with an ASCII fallback.
struct MailMessage
{
    QString from;
    QStringList to;
    QString subject;
    QString text;
    QString html;
    QString attachmentName;     // none when empty
    QString attachmentType;     // "text/csv", "application/pdf", …
    QByteArray attachment;
    QString messageId;          // without angle brackets; the same for a resend of one delivery

    QByteArray Render() const;
};
