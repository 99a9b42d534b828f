#pragma once

#include "app/MainModule.h"
#include "core/SettingsStore.h"

#include <QFile>
#include <QTemporaryDir>

// A private settings store and an empty program folder for the windows, for
// the lifetime of this object: the user's own settings are never read or
// written, and no pointer or skin file of the build folder is picked up.
// Header-only, so that only the tests of the windows link the windows.
class AppSandbox {
public:
    AppSandbox() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
        ResetSettingsCache();
        SetProgramFolder(programFolder_.path());
    }
    ~AppSandbox() {
        SetProgramFolder({});
        ResetSettingsCache();
    }
    AppSandbox(const AppSandbox&) = delete;
    AppSandbox& operator=(const AppSandbox&) = delete;

    QString configFolder() const { return config_.path(); }
    // A path below the program folder, where the windows look for their
    // optional pointer and skin files.
    QString programFile(const QString& relative) const { return programFolder_.filePath(relative); }

private:
    QTemporaryDir config_;
    QTemporaryDir programFolder_;
};
