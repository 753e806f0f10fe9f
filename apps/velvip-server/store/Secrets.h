#pragma once

#include <QByteArray>

// Password hashes (Argon2id through libsodium) and the random secrets of sessions and bearer
// tokens, as the store keeps them.
namespace Password {
// Throws VelError when libsodium cannot start or runs out of memory.
QByteArray Hash(const QByteArray &password);
bool Verify(const QByteArray &hash, const QByteArray &password);
} // namespace Password

// A random secret as URL-safe Base64, and the hash it is stored under.
QByteArray RandomSecret();
QByteArray SecretHash(const QByteArray &secret);
