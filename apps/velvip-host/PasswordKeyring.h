#pragma once

#include <QString>

// Remembered passwords in the desktop's keyring (Secret Service, KWallet) through QtKeychain,
// never in a settings file. Each call waits for the keyring's answer.
namespace PasswordKeyring {

// Keeps `password` under `login`. Returns a sentence for the user when no keyring could keep
// it (nothing is kept then), else the empty text.
QString Store(const QString &login, const QString &password);
// The password kept under `login`, empty when there is none or no keyring answers.
QString Read(const QString &login);
// Removes what is kept under `login`, if anything.
void Forget(const QString &login);

} // namespace PasswordKeyring
