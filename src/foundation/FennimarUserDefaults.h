#pragma once

#include <QSettings>
#include <QString>
#include <QVariant>

#include <memory>

// The user's preferences: one settings file shared by the application and the command-line
// tool (organisation "Brisko", application "Brisko", native format, user scope; on Linux
// ~/.config/Brisko/Brisko.conf).
//
// The file holds the account's secret key, so it is kept readable and writable by its owner
// only (0600): it is created so before anything is written to it, an existing file with a
// looser mode is tightened, and the mode survives QSettings' atomic saves. A folder made for
// it is made 0700.
namespace FennimarUserDefaults {

// Where the preferences live.
QString settingsFilePath();

// A QSettings on the shared file, with the file already in place at 0600. Values written
// through it are saved when it syncs (at the latest in its destructor).
std::unique_ptr<QSettings> settings();

// Stores the object under the key. The write reaches the file before the call returns.
void setObject(const QVariant &object, const QString &key);

// The stored object; the default when nothing is stored under the key. Values written by
// another process come back in the form the settings file keeps them (numbers and booleans
// as their text, which QVariant converts back with toInt()/toBool()).
QVariant objectForKey(const QString &key, const QVariant &defaultValue = QVariant());

// Typed writes: a 32-bit signed integer, a boolean.
void setInt(int value, const QString &forKey);
void setBool(bool value, const QString &forKey);

// Typed reads; the default when nothing is stored under the key. A stored value is
// converted as a number of its kind would convert itself: numbers and booleans by their
// value, text by its leading part ("12" and " 12abc" give 12, "yes", "true" and "7" are
// true, "no", "0" and "" false), anything else 0 and false.
int intForKey(const QString &key, int defaultValue);
bool boolForKey(const QString &key, bool defaultValue);

} // namespace FennimarUserDefaults
