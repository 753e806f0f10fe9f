#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

// An e-mail message: a plain-text and an HTML body (UTF-8) and at most one attachment, as
// multipart MIME. Header texts outside ASCII are RFC 2047 encoded words; the attachment's name
// is given in RFC 2231 form (UTF-8, split into continuations) with an ASCII fallback. Addresses
// and the message id are checked before they get here (DeliveryCheck); Render refuses any that
// could end a header line all the same.
struct MailMessage
{
    QString from;
    QString to;
    QString subject;
    QString text;
    QString html;
    QString attachmentName;     // none when empty
    QString attachmentType;     // "text/csv", "application/pdf", …
    QString attachmentPath;     // the file, read while the message is sent
    QString messageId;          // without angle brackets; the same for a resend of one delivery
};

// The message as a stream: headers and bodies from memory, the attachment base64-encoded from
// its file in small pieces, so a message needs no more memory than one piece.
class MimeReader
{
public:
    // Throws VelError when a header value holds a line break or the file cannot be opened.
    explicit MimeReader(const MailMessage &message);
    // Up to `size` bytes of the message; 0 at its end, -1 when the file cannot be read.
    qint64 Read(char *buffer, qint64 size);
    // Back to the start, for another recipient.
    void Rewind();

private:
    bool refill();

    QByteArray m_head, m_tail, m_chunk;
    QFile m_file;
    bool m_attached = false;
    qsizetype m_at = 0;
    int m_stage = 0;   // 0 head, 1 attachment, 2 tail, 3 done
};
