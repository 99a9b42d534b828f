#include "app/BrowseForFolder.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {
FolderDialog& injected() {
    static FolderDialog d;
    return d;
}
} // namespace

FolderDialog SetFolderDialog(FolderDialog dialog) {
    FolderDialog previous = std::move(injected());
    injected() = std::move(dialog);
    return previous;
}

QString BrowseForFolder(QWidget* owner, const QString& prompt, const QString& startFolder) {
    if (injected())
        return injected()(owner, prompt, startFolder);
    // A remembered folder that has since gone would leave the dialog in an
    // empty view; the dialog's own default start is more useful then.
    const QString start =
        !startFolder.isEmpty() && QFileInfo(startFolder).isDir() ? startFolder : QString();
    const QString chosen = QFileDialog::getExistingDirectory(owner, prompt, start);
    return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen);
}
