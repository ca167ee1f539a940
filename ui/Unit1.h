#pragma once

#include <QWidget>

#include "logic/Form1Logic.h"
#include "logic/Form1View.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSocketNotifier;
class TEdit;

// The tool's one window on Linux: draws the controls of the shared layout and forwards its
// events to the shared decisions, which act on it through Form1View.
class TForm1 : public QWidget, public Form1View {
    Q_OBJECT
  public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The decisions and the engine they drive.
    Form1Logic Logic{*this};
    // The engine's parts under the names start-up and the tests use.
    TUDPR*& Udpr = Logic.Udpr;
    Transmitter*& Link = Logic.Link;
    WindowMailbox& Mailbox = Logic.Mailbox;
    CommandQueue& Queue = Logic.Queue;
    ReplyDispatcher& Dispatcher = Logic.Dispatcher;
    PanelDirectory& Directory = Logic.Directory;
    PanelRecord& PendingSettings = Logic.PendingSettings;

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
    void FormShow() { Logic.FormShow(); }
    void FormClose() { Logic.FormClose(); }
    void Button1Click() { Logic.Button1Click(); }
    void Button2Click() { Logic.Button2Click(); }
    void Button3Click() { Logic.Button3Click(); }
    void ListBox1Click() { Logic.ListBox1Click(); }
    void ComboBox1Change() { Logic.ComboBox1Change(); }

    // Changes requested by the sender and receiver threads, applied on the window thread.
    void ApplyStatus(const char* text) { Logic.ApplyStatus(text); }
    void ApplyEnableButtons() { Logic.ApplyEnableButtons(); }
    void ApplyPanel(const PanelRecord& record) { Logic.ApplyPanel(record); }

    // Form1View. The selected line of ListBox1, -1 when none is selected: the list's current
    // row may point at a line that is not selected (after it takes the focus), so it is not used.
    int SelectedIndex() const override;
    std::string Text(Control box) const override;
    void SetText(Control box, const std::string& text) override;
    void SetMaxLength(Control box, int maxLength) override;
    void SelectAll(Control box) override;
    void SetEnabled(Control control, bool enabled) override;
    void Focus(Control control) override;
    void ShowMessage(const std::string& text, const std::string& title, int flags) override;
    void ShowError(const std::string& message) override;
    void SetStatus(const std::string& text) override;
    void ClearList() override;
    void AppendLine(const std::string& line) override;
    int ComboIndex() const override;
    void SetComboIndex(int index) override;

  signals:
    // Every text the status line takes, in order; tests follow the protocol through it.
    void StatusChanged(const QString& text);

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void CreateControls();
    QWidget* Widget(Control control) const { return Widgets[int(control)]; }
    TEdit* Box(Control box) const;

    QWidget* Widgets[ControlCount] = {};
    QSocketNotifier* MailboxNotifier = nullptr;
};

extern TForm1* Form1;
