#pragma once

#include <QString>

// The per-user settings store: values are texts addressed by an application
// name, a section and a key. Every write reaches the disk at once, so a second
// copy of the program sees it. On POSIX the file is readable by its owner only,
// since it holds the FTP password.
//
// The file lives in the user's configuration folder ($XDG_CONFIG_HOME, by
// default ~/.config) as <application>.ini with one [section] per section.
QString GetSetting(const QString& appName, const QString& section, const QString& key,
                   const QString& defaultValue = {});
void SaveSetting(const QString& appName, const QString& section, const QString& key,
                 const QString& value);

// The file that holds the settings of an application name.
QString SettingsFilePath(const QString& appName);

// Forgets open settings files, so the next access reads from disk again (tests
// move the configuration folder between cases).
void ResetSettingsCache();
