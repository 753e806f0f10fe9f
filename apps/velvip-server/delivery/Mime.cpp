#include "Mime.h"

#include <QDateTime>
#include <QLocale>
#include <QUrl>

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

// The address list of a header; addresses are ASCII.
QByteArray addresses(const QStringList &list)
{
    return list.join(QStringLiteral(", ")).toUtf8();
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

QByteArray MailMessage::Render() const
{
    const QByteArray mixed = "velvip-mixed-" + messageId.toUtf8().toHex().left(24);
    const QByteArray alternative = "velvip-alt-" + messageId.toUtf8().toHex().left(24);
    QByteArray m;
    m += "From: " + from.toUtf8() + "\r\n";
    m += "To: " + addresses(to) + "\r\n";
    m += "Subject: " + headerText(subject) + "\r\n";
    m += "Date: " + QLocale::c().toString(QDateTime::currentDateTimeUtc(), u"ddd, dd MMM yyyy HH:mm:ss +0000").toUtf8()
        + "\r\n";
    m += "Message-ID: <" + messageId.toUtf8() + ">\r\n";
    m += "MIME-Version: 1.0\r\n";
    const bool attached = !attachmentName.isEmpty();
    if (attached)
        m += "Content-Type: multipart/mixed; boundary=\"" + mixed + "\"\r\n\r\n--" + mixed + "\r\n";
    m += "Content-Type: multipart/alternative; boundary=\"" + alternative + "\"\r\n\r\n";
    for (const auto &[type, body] : {std::pair{"text/plain", text}, std::pair{"text/html", html}}) {
        m += "--" + alternative + "\r\nContent-Type: " + type + "; charset=utf-8\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\n" + base64Lines(body.toUtf8());
    }
    m += "--" + alternative + "--\r\n";
    if (attached) {
        m += "--" + mixed + "\r\nContent-Type: " + attachmentType.toUtf8() + "\r\n"
             "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n "
             + fileNameParameters(attachmentName) + "\r\n\r\n" + base64Lines(attachment);
        m += "--" + mixed + "--\r\n";
    }
    return m;
}
