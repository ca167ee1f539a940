#pragma once

// Header only: for tests that link the window (ui).

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "Dialogs.h"
#include "RecordingLink.h"
#include "Unit1.h"

// A message box the window asked for, caught instead of shown: a shown box would wait for a
// user.
struct Box {
    QString Text, Title;
    int Flags;
};

// Every message box from now on goes into `boxes` (a std::vector or QList of Box) until the
// hook is cleared with Dialogs::SetHook(nullptr).
template <typename Boxes> void CatchBoxes(Boxes& boxes) {
    Dialogs::SetHook([&boxes](const QString& text, const QString& title, int flags) {
        boxes.push_back(Box{text, title, flags});
    });
}

// The window with a recording link in place of the endpoint, made afresh for every test
// function; its message boxes and status texts are caught.
class WindowFixture : public QObject {
  protected:
    void MakeWindow() {
        Boxes.clear();
        Statuses.clear();
        CatchBoxes(Boxes);
        Link = std::make_unique<RecordingLink>();
        Form = std::make_unique<TForm1>();
        connect(Form.get(), &TForm1::StatusChanged, this,
                [this](const QString& text) { Statuses << text; });
    }
    void DropWindow() {
        Form.reset(); // joins the sender thread before the link goes away
        Link.reset();
        Dialogs::SetHook(nullptr);
    }

    std::unique_ptr<RecordingLink> Link;
    std::unique_ptr<TForm1> Form;
    std::vector<Box> Boxes;
    QStringList Statuses;
};
