#pragma once

#include <QDialog>
#include <QString>

// The remote folder browser: a modal dialog that lists the folders of one
// remote folder at a time over its own session and returns the folder that was
// current at the last "OK".
class Form2 : public QDialog {
    Q_OBJECT
public:
    explicit Form2(QWidget* parent = nullptr);

    // Shows the dialog modally, waits until it is closed, returns the folder
    // confirmed at the most recent "OK" (empty until the first one).
    QString SelectFTPFolder();

private:
    QString currentPath_ = QStringLiteral("/");
    QString selectedFolder_;
};
