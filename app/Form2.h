#pragma once

#include "app/WindowPointer.h"

#include "ftp/wininet.h"

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
// current at the last "OK".
//
// The session is opened in the shared hInternet/hConnect when the dialog is
// shown and closed when it is unloaded; the globals are cleared then, so no
// later command can use the closed handles.
class Form2 : public QDialog {
    Q_OBJECT
public:
    using Pointer = WindowPointer::State;

    // The main window's connection boxes at the moment the dialog connects.
    struct ConnectionTexts {
        QString hostName;
        QString port;
        QString userName;
        QString password;
    };
    using ConnectionSource = std::function<ConnectionTexts()>;

    explicit Form2(QWidget* parent = nullptr);

    // Shows the dialog modally, waits until it is closed, returns the folder
    // confirmed at the most recent "OK" (empty until the first one).
    QString SelectFTPFolder();

    // By default the texts come from the boxes txtHostName, txtPort,
    // txtUserName and txtPassword of the parent window.
    void setConnectionSource(ConnectionSource source);

    const QString& currentPath() const { return currentPath_; }
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
    void unloadDialog();
    ConnectionTexts connectionTexts() const;
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
    // The handles this dialog opened and has not closed yet.
    HINTERNET ownInternet_ = 0;
    HINTERNET ownConnect_ = 0;
    bool activationPending_ = false;
    bool unloaded_ = true;
    WindowPointer pointer_{this};
};
