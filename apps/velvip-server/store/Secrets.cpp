#include "Secrets.h"

#include "VelError.h"

#include <sodium.h>

namespace Password {

namespace {
void init()
{
    if (sodium_init() < 0)
        throw VelError(QStringLiteral("无法初始化密码库"));
}
} // namespace

QByteArray Hash(const QByteArray &password)
{
    init();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.constData(), quint64(password.size()), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw VelError(QStringLiteral("计算密码散列时内存不足"));
    return QByteArray(out);
}

bool Verify(const QByteArray &hash, const QByteArray &password)
{
    init();
    return !hash.isEmpty()
        && crypto_pwhash_str_verify(hash.constData(), password.constData(), quint64(password.size())) == 0;
}

} // namespace Password

QByteArray RandomSecret()
{
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    return QByteArray(reinterpret_cast<const char *>(bytes), sizeof bytes)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray SecretHash(const QByteArray &secret)
{
    unsigned char hash[crypto_generichash_BYTES];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char *>(secret.constData()),
                       quint64(secret.size()), nullptr, 0);
    return QByteArray(reinterpret_cast<const char *>(hash), sizeof hash);
}
