#include "Mime.h"

#include "VelError.h"

#include <QDateTime>
#include <QLocale>
#include <QUrl>

#include <cstring>

namespace {

// Base64 in lines of 76 characters.
QByteArray base64Lines(const QByteArray &data)
{
    const QByteArray encoded = data.toBase64();
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / 76 * 2 + 2);
    for (qsizetype i = 0; i < encoded.size(); i += 76)
        out += encoded.mid(i, 76) + "\r\n";
    return out;
}

bool isAscii(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x80 || c.unicode() < 0x20)
            return false;
    return true;
}

// RFC 2047 encoded words of at most 75 characters, cut between characters.
QByteArray headerText(const QString &text)
{
    if (isAscii(text))
        return text.toUtf8();
    QByteArray out;
    QString piece;
    auto flush = [&] {
        if (piece.isEmpty())
            return;
        out += (out.isEmpty() ? "" : "\r\n ") + QByteArray("=?UTF-8?B?") + piece.toUtf8().toBase64() + "?=";
        piece.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype step = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        if ((piece + text.mid(i, step)).toUtf8().size() > 45)
            flush();
        piece += text.mid(i, step);
        i += step - 1;
    }
    flush();
    return out;
}

// filename*0*=UTF-8''…; filename*1*=… in pieces that keep lines short and "%XX" whole, then
// the name as an encoded word for readers that know only "filename".
QByteArray fileNameParameters(const QString &name)
{
    const QByteArray encoded = QUrl::toPercentEncoding(name, {}, "*'()");
    QByteArray out;
    qsizetype at = 0;
    for (int part = 0; at < encoded.size(); ++part) {
        qsizetype size = std::min<qsizetype>(48, encoded.size() - at);
        while (size < encoded.size() - at && (encoded.at(at + size - 1) == '%' || encoded.at(at + size - 2) == '%'))
            --size;
        out += (part ? ";\r\n " : "") + QByteArray("filename*") + QByteArray::number(part) + "*="
            + (part == 0 ? "UTF-8''" : "") + encoded.mid(at, size);
        at += size;
    }
    return out + ";\r\n filename=\"" + headerText(name).replace("\r\n ", " ") + "\"";
}

} // namespace

MimeReader::MimeReader(const MailMessage &message)
{
    for (const QString &value : {message.from, message.to, message.messageId, message.attachmentType})
        if (value.contains(u'\r') || value.contains(u'\n') || value.contains(u'>') || value.contains(u'<'))
            throw VelError(QStringLiteral("邮件头中不能有换行或尖括号"));
    const QByteArray mixed = "velvip-mixed-" + message.messageId.toUtf8().toHex().left(24);
    const QByteArray alternative = "velvip-alt-" + message.messageId.toUtf8().toHex().left(24);
    QByteArray &m = m_head;
    m += "From: <" + message.from.toUtf8() + ">\r\n";
    m += "To: <" + message.to.toUtf8() + ">\r\n";
    m += "Subject: " + headerText(QString(message.subject).replace(u'\r', u' ').replace(u'\n', u' ')) + "\r\n";
    m += "Date: " + QLocale::c().toString(QDateTime::currentDateTimeUtc(), u"ddd, dd MMM yyyy HH:mm:ss +0000").toUtf8()
        + "\r\n";
    m += "Message-ID: <" + message.messageId.toUtf8() + ">\r\n";
    m += "MIME-Version: 1.0\r\n";
    m_attached = !message.attachmentName.isEmpty();
    if (m_attached)
        m += "Content-Type: multipart/mixed; boundary=\"" + mixed + "\"\r\n\r\n--" + mixed + "\r\n";
    m += "Content-Type: multipart/alternative; boundary=\"" + alternative + "\"\r\n\r\n";
    for (const auto &[type, body] : {std::pair{"text/plain", message.text}, std::pair{"text/html", message.html}}) {
        m += "--" + alternative + "\r\nContent-Type: " + type + "; charset=utf-8\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\n" + base64Lines(body.toUtf8());
    }
    m += "--" + alternative + "--\r\n";
    if (m_attached) {
        m += "--" + mixed + "\r\nContent-Type: " + message.attachmentType.toUtf8() + "\r\n"
             "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n "
             + fileNameParameters(message.attachmentName) + "\r\n\r\n";
        m_tail = "--" + mixed + "--\r\n";
        m_file.setFileName(message.attachmentPath);
        if (!m_file.open(QIODevice::ReadOnly))
            throw VelError(QStringLiteral("无法读取要附上的文件 %1").arg(message.attachmentPath));
    }
}

void MimeReader::Rewind()
{
    m_stage = 0;
    m_at = 0;
    m_chunk.clear();
    if (m_attached)
        m_file.seek(0);
}

bool MimeReader::refill()
{
    // 57 bytes make one line of 76 characters; 1,000 lines at a time.
    m_chunk = m_file.read(57 * 1000);
    m_at = 0;
    if (m_chunk.isEmpty())
        return false;
    m_chunk = base64Lines(m_chunk);
    return true;
}

qint64 MimeReader::Read(char *buffer, qint64 size)
{
    qint64 done = 0;
    while (done < size && m_stage < 3) {
        const QByteArray *source = m_stage == 0 ? &m_head : m_stage == 1 ? &m_chunk : &m_tail;
        if (m_at >= source->size()) {
            if (m_stage == 1 && refill())
                continue;
            if (m_stage == 1 && m_file.error() != QFileDevice::NoError)
                return -1;
            m_stage = m_stage == 0 && !m_attached ? 3 : m_stage + 1;
            m_at = 0;
            continue;
        }
        const qint64 n = std::min<qint64>(size - done, source->size() - m_at);
        std::memcpy(buffer + done, source->constData() + m_at, size_t(n));
        m_at += n;
        done += n;
    }
    return done;
}
