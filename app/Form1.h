#pragma once

#include "app/WindowPointer.h"

#include "compare/ResultListModel.h"
#include "compare/RunHost.h"
#include "compare/RunProgress.h"
#include "core/PasswordStore.h"
#include "ftp/RemoteTree.h"
#include "ftp/SessionPool.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <optional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;
class Form2;
class RuleChoices;

// The main window. Its event procedures are thin adapters: the runs live in
// compare/ and sync/ and reach the window through RunHost.
class Form1 : public QWidget, public RunHost {
    Q_OBJECT
public:
    using Pointer = WindowPointer::State;

    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up: colours, pointer, caption, title, both settings passes, columns.
    void Form_Load();

    // Twips (1440 to the inch) to pixels at the screen's logical resolution.
    int twipsToPixelsX(int twips) const;
    int twipsToPixelsY(int twips) const;

    Pointer pointerState() const { return pointer_.state(); }
    bool hasCustomPointer() const { return pointer_.hasHandCursor(); }

    // RunHost
    QString hostNameText() const override;
    QString portText() const override;
    QString userNameText() const override;
    QString passwordText() const override;
    QString remoteFolderText() const override;
    QString localFolderText() const override;
    ResultListModel& resultList() override { return model_; }
    void recreateColumns() override;
    void makeRowVisible(int row) override;
    void setListOption(bool on) override;
    FolderQueue& folderQueue() override { return FolderQueue_; }
    Session& session() override { return session_; }
    int transfers() const override;
    SessionPool* sessionPool() override { return &pool_; }
    RunProgress* progress() override { return &progress_; }
    CompareRules compareRules() const override;
    bool isBusy() const override { return IsBusy; }
    void setBusy(bool busy) override { IsBusy = busy; }
    void setHourglass(bool on) override;

public slots:
    void PushButton1_Click();
    void PushButton2_Click();
    void PushButton3_Click();
    void PushButton5_Click();
    void PushButton6_Click();
    void PushButton7_Click();
    void PushButton8_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    // A control's place in twips, relative to its frame or the window.
    struct Geometry {
        int left, top, width, height;
    };
    void buildControls();
    void buildResultList();
    void buildProgressLine();
    void showProgress(const QString& text);
    void buildRuleChoices();
    void place(QWidget* widget, const Geometry& at) const;
    void setColumnCaptions();
    void setColumnWidths();
    void connectChangeHandlers();
    void LoadConnectionSettings();
    void openPasswordStore();
    QString serverKey() const;
    void keepPasswordForServer();
    void finishPasswordWrites();
    void showPasswordPlace();
    void scrollToPendingRow();
    void Form_Unload();
    template <typename Run> void runGuarded(Run&& run);

    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* txtHostName = nullptr;
    QLineEdit* txtPort = nullptr;
    QLineEdit* txtUserName = nullptr;
    QLineEdit* txtPassword = nullptr;
    QLineEdit* txtRemoteFolder = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* PushButton1 = nullptr;
    QPushButton* PushButton2 = nullptr;
    QPushButton* PushButton3 = nullptr;
    QPushButton* PushButton5 = nullptr;
    QPushButton* PushButton6 = nullptr;
    QPushButton* PushButton7 = nullptr;
    QPushButton* PushButton8 = nullptr;
    QTreeView* ListView3 = nullptr;
    // Below the designed controls: what the run under way is doing, or what
    // the last one did.
    QLabel* progressLine_ = nullptr;
    // The compare rules, beside the title of the remote folder's frame, just
    // above the compare button.
    RuleChoices* ruleChoices_ = nullptr;

    ResultListModel model_;
    RunProgress progress_;
    FolderQueue FolderQueue_;
    // The main session: opened by a compare run (or "Test Connection"), used by
    // the sync run.
    Session session_;
    // The extra sessions of the runs, kept between them like the main one and
    // logged out when the window goes.
    SessionPool pool_{SessionPool::Keep::Sessions};
    Form2* form2_ = nullptr;
    bool IsBusy = false;
    WindowPointer pointer_{this};

    // Where the password goes: the desktop's keyring, else the settings file.
    PasswordStore passwords_;
    // Runs once the server boxes have stayed unchanged for a moment, so that
    // a host name typed letter by letter leaves one keyring entry, not one
    // per letter.
    QTimer serverSettled_;

    QElapsedTimer sinceScroll_;
    int pendingScrollRow_ = -1;
    bool scrollQueued_ = false;
};
