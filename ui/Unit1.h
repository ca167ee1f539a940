#pragma once

#include <QWidget>

#include "../net/Udpr.h"
#include "../protocol/CommandQueue.h"
#include "../protocol/PanelRecord.h"
#include "../protocol/ReplyDispatcher.h"
#include "../protocol/WindowMailbox.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSocketNotifier;
class TEdit;

// The tool's one window.
class TForm1 : public QWidget, public WindowSink {
    Q_OBJECT
  public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Set by start-up before the endpoint opens; kept for the whole run.
    TUDPR* Udpr = nullptr;
    Transmitter* Link = nullptr; // how the sender thread reaches Udpr

    WindowMailbox Mailbox;
    CommandQueue Queue;
    ReplyDispatcher Dispatcher{Queue, Mailbox};
    PanelDirectory Directory;
    PanelRecord PendingSettings = {};

    // Controls, named as the window definition names them.
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9,
        *Label10, *Label11, *Label12;
    TEdit *Edit1, *Edit2, *Edit3, *Edit4, *Edit5, *Edit6, *Edit7, *Edit8, *Edit9, *Edit10, *Edit11,
        *Edit12, *Edit13, *Edit14, *Edit15, *Edit16, *Edit17, *Edit18, *Edit19, *Edit20, *Edit21,
        *Edit22, *Edit23, *Edit24, *Edit25, *Edit26, *Edit27, *Edit28;
    QListWidget* ListBox1;
    QComboBox* ComboBox1;
    QPushButton *Button1, *Button2, *Button3;

    // Event handlers.
    void FormShow();
    void FormClose();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void ListBox1Click();
    void ComboBox1Change();

    // The selected line of ListBox1, -1 when none is selected. The list's current row may
    // point at a line that is not selected (after it takes the focus), so it is not used.
    int SelectedIndex() const;

  signals:
    // Every text the status line takes, in order; tests follow the protocol through it.
    void StatusChanged(const QString& text);

  public:
    // WindowSink: changes requested by the sender and receiver threads, applied here.
    void ApplyStatus(const char* text) override;
    void ApplyEnableButtons() override;
    void ApplyPanel(const PanelRecord& record) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void CreateControls();
    void DrainMailbox();
    void StopThreads();

    QSocketNotifier* MailboxNotifier = nullptr;
    bool Shown = false;
    bool Closed = false;
};

extern TForm1* Form1;
