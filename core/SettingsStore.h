#pragma once

#include <QString>

// The per-user settings store: values are texts addressed by an application
// name, a section and a key. Every write reaches the disk at once, so a second
// copy of the program sees it. On POSIX the file is readable by its owner only,
// since it holds the FTP password wherever no keyring keeps it.
//
// The file lives in the user's configuration folder ($XDG_CONFIG_HOME, by
// default ~/.config) as <application>.ini with one [section] per section.
QString GetSetting(const QString& appName, const QString& section, const QString& key,
                   const QString& defaultValue = {});
void SaveSetting(const QString& appName, const QString& section, const QString& key,
                 const QString& value);

// Whether the key is stored at all (an empty text counts as stored).
bool HasSetting(const QString& appName, const QString& section, const QString& key);
// Takes the key out of the file; nothing happens when it is not there.
void RemoveSetting(const QString& appName, const QString& section, const QString& key);

// The file that holds the settings of an application name.
QString SettingsFilePath(const QString& appName);

// Forgets open settings files, so the next access reads from disk again (tests
// move the configuration folder between cases).
void ResetSettingsCache();
