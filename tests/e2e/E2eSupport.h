#pragma once

// The real tool in the tool namespace of the private test network, stand-in panels in the
// panel namespaces, and the user's clicks in between.

#include <QList>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "TestNetwork.h"

class TEdit;

namespace E2e {

using TestNet::MissingNetwork;
using TestNet::PanelNamespaces;

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

    // Starts it and waits until its socket is bound; `error` says why not.
    bool Start(QString& error) { return Process.Start(error); }
    // SIGTERM by pid; true when it stopped cleanly by itself.
    bool Stop();

    QStringList Lines() { return Process.Lines(); } // every line printed so far
    QStringList LinesWith(const QString& fragment);
    QList<PanelInfo> Panels(); // in the order it answers searches

    const QString& Namespace() const { return Ns; }

  private:
    QString Ns;
    TestNet::NetnsProcess Process;
};

// The tool brought up as the program does, with every text its status line took.
class Tool : public TestNet::Tool {
  public:
    Tool();

    // Every text the status line took; Mark() returns a position for StatusesSince.
    QStringList Statuses() const;
    int Mark() const { return static_cast<int>(Status->count()); }
    QStringList StatusesSince(int mark) const;
    QString StatusLine() const;

    // Replaces the box's text by typing, as a user would.
    void Type(TEdit* box, const QString& text);

  private:
    std::unique_ptr<QSignalSpy> Status;
};

// The segment of each panel namespace, in the order of PanelNamespaces() (all 0 when the test
// network has one segment).
QList<int> PanelSegments();

// How many of the tool's routes reach each segment, one per subnet of each of its interfaces
// there (1 unless the test network says): how many copies of one request the segment gets.
int RoutesOn(int segment);

// A plain socket on port 8300 in a panel namespace, beside the stand-in there (both reuse the
// address): it sees every broadcast that reaches that namespace's segment.
class SegmentListener {
  public:
    explicit SegmentListener(const QString& ns);
    ~SegmentListener();
    SegmentListener(const SegmentListener&) = delete;
    SegmentListener& operator=(const SegmentListener&) = delete;

    bool Ok() const { return Fd >= 0; }
    struct Datagram {
        int Length = 0;
        int Command = -1; // byte 6
        int Stage = -1;   // byte 7
        QString From;
    };
    // Everything received since the last call, without waiting.
    QList<Datagram> Take();

  private:
    int Fd = -1;
};

// A stand-in in every panel namespace and a listener on every segment.
struct Site {
    std::vector<std::unique_ptr<Standin>> Standins;
    std::map<int, std::unique_ptr<SegmentListener>> Listeners; // by segment
    QStringList Lines;                                         // of every panel

    bool Start(QString& error);
    // What each segment received since the last call, one Describe() per datagram.
    std::map<int, QStringList> Received();
    static QString Describe(int length, int command, int stage);
    // The lines of the panels on these segments, sorted.
    QStringList LinesOn(const std::set<int>& segments) const;
};

// True when `sequence` occurs in `list` in this order, other entries in between allowed.
bool InOrder(const QStringList& list, const QStringList& sequence);

} // namespace E2e
