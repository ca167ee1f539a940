#pragma once

// The real tool in the tool namespace of the private test network, stand-in panels in the
// panel namespaces, and the user's clicks in between.

#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <memory>

#include "Unit1.h"

class TEdit;
class TUDPR;

namespace E2e {

// Empty outside the private test network.
QString ToolNamespace();
QStringList PanelNamespaces();
// Why the test cannot run here, or an empty text.
QString MissingNetwork(int panelNamespaces);

// One panel as a stand-in announced it.
struct PanelInfo {
    QString Identity;
    QString Ip;
    QString Line() const { return Identity + QStringLiteral(" - ") + Ip; }
};

// One callpanel-standin process in a panel namespace, ended by its pid.
class Standin {
  public:
    Standin(QString ns, QStringList args);
    ~Standin();
    Standin(const Standin&) = delete;
    Standin& operator=(const Standin&) = delete;

    // Starts it and waits until its socket is bound; `error` says why not.
    bool Start(QString& error);
    // SIGTERM by pid; true when it stopped cleanly by itself.
    bool Stop();

    QStringList Lines(); // every line printed so far
    QStringList LinesWith(const QString& fragment);
    QList<PanelInfo> Panels(); // in the order it answers searches

    const QString& Namespace() const { return Ns; }

  private:
    void ReadOutput();

    QString Ns;
    QStringList Args;
    QProcess Process;
    QByteArray Partial;
    QStringList Seen;
};

struct Box {
    QString Text;
    QString Title;
    int Flags;
};

// The tool brought up as the program does: the window, its endpoint, shown offscreen.
class Tool {
  public:
    Tool();
    ~Tool();
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    bool Start();
    TForm1& Form() { return *Window; }

    // Every text the status line took; Mark() returns a position for StatusesSince.
    QStringList Statuses() const;
    int Mark() const { return static_cast<int>(Status->count()); }
    QStringList StatusesSince(int mark) const;
    QString StatusLine() const;

    QStringList Lines() const;
    bool ButtonsEnabled() const;

    void ClickSearch();
    void ClickDelete();
    void ClickWrite();
    // Clicks the line as a user would; true when it ends up selected.
    bool SelectLine(int row);
    // Replaces the box's text by typing, as a user would.
    void Type(TEdit* box, const QString& text);

    QList<Box> Boxes; // message boxes, caught instead of shown

  private:
    std::unique_ptr<TForm1> Window;
    std::unique_ptr<TUDPR> Endpoint;
    std::unique_ptr<QSignalSpy> Status;
};

// True when `sequence` occurs in `list` in this order, other entries in between allowed.
bool InOrder(const QStringList& list, const QStringList& sequence);

} // namespace E2e
