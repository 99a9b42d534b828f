#include "BrowseForFolder.h"

#include <QDir>
#include <QFileDialog>

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
    const QString chosen = QFileDialog::getExistingDirectory(owner, prompt, startFolder);
    return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen);
}
