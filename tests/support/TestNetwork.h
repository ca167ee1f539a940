#pragma once

// The tool in the private test network made by tools/testnet.sh: its namespaces, helper
// programs in the panel namespaces, and the window brought up as the program brings it up.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

#include "WindowFixture.h"

class TUDPR;

namespace TestNet {

// Empty outside the private test network.
QString ToolNamespace();
QString ToolIp();
QStringList PanelNamespaces();
// Why a test needing `panelNamespaces` panel namespaces cannot run here, or an empty text.
QString MissingNetwork(int panelNamespaces);

// A program in a panel namespace (`ip netns exec` becomes the program, so the pid is its own).
class NetnsProcess {
  public:
    NetnsProcess(QString ns, QString program, QStringList args);
    ~NetnsProcess();
    NetnsProcess(const NetnsProcess&) = delete;
    NetnsProcess& operator=(const NetnsProcess&) = delete;

    // Starts it and waits for the line starting with "ready:"; `error` says why not.
    bool Start(QString& error);
    // Waits for it to end by itself; true when it ended cleanly, false if it had to be killed.
    bool WaitFinished(int ms);
    void Terminate();
    bool Running() const { return Process.state() != QProcess::NotRunning; }
    QStringList Lines(); // every line printed so far

  private:
    void Read();
    QString Ns, Program;
    QStringList Args;
    QProcess Process;
    QByteArray Partial;
    QStringList Seen;
};

// The window and its endpoint, as start-up makes them; shown offscreen. Message boxes are
// caught into Boxes.
class Tool {
  public:
    Tool();
    ~Tool(); // closes the window the way the user does, then destroys both
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    bool Start(); // endpoint opened and window exposed
    TForm1& Form() { return *Window; }
    const TForm1& Form() const { return *Window; }
    void Close();

    QStringList Lines() const;
    bool ButtonsEnabled() const;

    void ClickSearch();
    void ClickDelete();
    void ClickWrite();
    // Clicks the line as a user would; true when it ends up selected.
    bool SelectLine(int row);

    QList<Box> Boxes;
    int BoxesShown() const { return static_cast<int>(Boxes.size()); }

  private:
    std::unique_ptr<TForm1> Window;
    std::unique_ptr<TUDPR> Endpoint;
};

} // namespace TestNet
