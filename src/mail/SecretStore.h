#pragma once

#include <QString>

#include <optional>

namespace brisko {

// Where the account's secrets (the SES secret key, the SMTP password) are kept.
//
// When a Secret Service runs on the session bus (org.freedesktop.secrets has an owner) they
// live in the desktop keyring, as items of the service "Brisko" named by their preference
// key. Otherwise the preferences file (0600) keeps them, under the same keys. Secrets left in
// the preferences file from a session without a keyring move into the keyring the first
// time one is there: written, read back, and only then removed from the file.
//
// Keyring calls are asynchronous underneath; each call here waits for its answer in a local
// event loop, at most timeoutMs(). Values read from the keyring are remembered for the rest
// of the process. Nothing here logs a secret.
namespace SecretStore {

enum class Place {
    Keyring,
    PreferencesFile,
};

inline constexpr QStringView ServiceName = u"Brisko";

// The keyring when a Secret Service runs on the session bus now, else the preferences file.
Place place();
// One line for the account panel: where secrets are kept now.
QString placeDescription(Place where = place());

// The secret stored under the key: from the keyring (or, when an earlier move did not
// finish, from the preferences file), else from the preferences file. None when nothing
// is stored; *error is set when the keyring failed to answer.
std::optional<QString> read(const QString &key, QString *error = nullptr);

// Stores the secret (none removes it) in the place in use. When the keyring refuses it,
// the secret goes to the preferences file and the call returns false with the reason.
bool write(const QString &key, const std::optional<QString> &value, QString *error = nullptr);

// Moves the secrets named by the keys from the preferences file to the keyring, when a
// keyring runs and the file still holds them. False, with the reason, when one could not be
// moved (it then stays in the file).
bool moveFromPreferences(const QStringList &keys, QString *error = nullptr);

// How long one keyring call may take (30 s); tests shorten it.
int timeoutMs();
void setTimeoutMs(int milliseconds);

// Forgets the values remembered from the keyring (tests, after changing it from outside).
void clearCache();

} // namespace SecretStore

} // namespace brisko
