#pragma once

#include "app/WindowPointer.h"

#include "ftp/Session.h"

#include <QCursor>
#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QTreeWidget;

// The remote folder browser: a modal dialog that lists the folders of one
// remote folder at a time over its own session and returns the folder that was
// current at the last "OK". A link that leads to a folder is listed and
// entered as a folder; links to anything else stay out, as files do.
//
// The dialog's session is its own: opened when the dialog is shown and closed
// when it is unloaded, so browsing never touches the session a compare run
// opened for the sync run.
class Form2 : public QDialog {
    Q_OBJECT
public:
    using Pointer = WindowPointer::State;

    // The main window's connection boxes at the moment the dialog connects.
    using ConnectionSource = std::function<ConnectionSettings()>;

    explicit Form2(QWidget* parent = nullptr);

    // Where the connection settings come from when the dialog connects (the
    // main window's boxes); without a source the dialog cannot connect.
    void setConnectionSource(ConnectionSource source);

    // Shows the dialog modally, waits until it is closed, returns the folder
    // confirmed at the most recent "OK" (empty until the first one).
    QString SelectFTPFolder();

    // The dialog's own session: open from its activation until it is unloaded.
    const Session& session() const { return session_; }
    const QString& currentPath() const { return currentPath_; }
    const QString& remotePattern() const { return remotePattern_; }
    const QString& selectedFolder() const { return selectedFolder_; }
    Pointer pointerState() const { return pointer_.state(); }
    bool hasCustomPointer() const { return pointer_.hasHandCursor(); }

public slots:
    void PushButton1_Click();
    void PushButton2_Click();
    void PushButton3_Click();
    void ListView1_DblClick();
    // The close box and Esc come here: they act as "Cancel".
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void Form_Activate();
    void Form_QueryUnload();
    void ListFolders();
    // Whether the remote link at this path (ending in "/") can be entered as
    // a folder: one listing round trip.
    bool leadsToFolder(const QString& linkPath) const;
    void unloadDialog();
    int twipsToPixelsX(int twips) const;
    int twipsToPixelsY(int twips) const;

    QLabel* lblPath = nullptr;
    QPushButton* PushButton1 = nullptr;
    QTreeWidget* ListView1 = nullptr;
    QPushButton* PushButton2 = nullptr;
    QPushButton* PushButton3 = nullptr;

    QString currentPath_ = QStringLiteral("/");
    QString selectedFolder_;
    ConnectionSource source_;
    Session session_;
    // The listing pattern of the folder shown: its path followed by "*.*".
    QString remotePattern_;
    bool activationPending_ = false;
    bool unloaded_ = true;
    WindowPointer pointer_{this};
};
