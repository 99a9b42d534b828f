#pragma once

#include "app/WindowPointer.h"

#include "compare/ResultListModel.h"
#include "compare/RunHost.h"
#include "ftp/RemoteTree.h"

#include <QCursor>
#include <QElapsedTimer>
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
    void buildRuleChoices();
    void place(QWidget* widget, const Geometry& at) const;
    void setColumnCaptions();
    void setColumnWidths();
    void connectChangeHandlers();
    void LoadConnectionSettings();
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
    // The compare rules, beside the title of the remote folder's frame, just
    // above the compare button.
    RuleChoices* ruleChoices_ = nullptr;

    ResultListModel model_;
    FolderQueue FolderQueue_;
    // The main session: opened by a compare run (or "Test Connection"), used by
    // the sync run.
    Session session_;
    Form2* form2_ = nullptr;
    bool IsBusy = false;
    WindowPointer pointer_{this};

    QElapsedTimer sinceScroll_;
    int pendingScrollRow_ = -1;
    bool scrollQueued_ = false;
};
