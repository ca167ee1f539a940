#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <string>

#include "Conversions.h"
#include "Dialogs.h"
#include "SettingsChecks.h"
#include "TEdit.h"
#include "Unit1.h"

namespace {

// A conversion error of the shared checks, as the window's exception display shows it.
template <typename Step> void Converting(Step step) {
    try {
        step();
    } catch (const ConvertError& error) {
        throw EConvertError(error);
    }
}

std::string Utf8(const TEdit* box) {
    return box->text().toStdString();
}

} // namespace

void TForm1::Button1Click() {
    const int selected = SelectedIndex();
    if (selected < 0 || selected > DirectoryCapacity - 1) {
        Dialogs::MessageBox(this, QStringLiteral("Pls select a pannel ！"), QStringLiteral("Fault"),
                            Dialogs::IconError);
        return;
    }

    TEdit* const mac[3] = {Edit3, Edit4, Edit5};
    TEdit* const ip[4] = {Edit7, Edit8, Edit9, Edit10};
    TEdit* const subnet[4] = {Edit13, Edit14, Edit15, Edit16};
    TEdit* const gateway[4] = {Edit18, Edit19, Edit20, Edit21};
    TEdit* const server[4] = {Edit23, Edit24, Edit25, Edit26};

    SettingsTexts texts;
    texts.Type = ComboBox1->currentIndex();
    // Lengths and comparisons are of the bytes the panel receives.
    texts.Address = ToWireBytes(Edit1->text()).toStdString();
    texts.Facility = ToWireBytes(Edit6->text()).toStdString();
    for (int at = 0; at < 3; ++at)
        texts.Mac[at] = Utf8(mac[at]);
    for (int at = 0; at < 4; ++at) {
        texts.Ip[at] = Utf8(ip[at]);
        texts.Subnet[at] = Utf8(subnet[at]);
        texts.Gateway[at] = Utf8(gateway[at]);
        texts.Server[at] = Utf8(server[at]);
    }
    texts.Unlock = ToWireBytes(Edit28->text()).toStdString();

    // The filled texts stay in the boxes whatever follows.
    FillEmpty(texts);
    const auto showFilled = [](TEdit* box, const std::string& text) {
        if (box->text().isEmpty()) box->setText(QString::fromStdString(text));
    };
    for (int at = 0; at < 3; ++at)
        showFilled(mac[at], texts.Mac[at]);
    for (const auto& [boxes, filled] :
         {std::pair{&ip, &texts.Ip}, std::pair{&subnet, &texts.Subnet},
          std::pair{&gateway, &texts.Gateway}, std::pair{&server, &texts.Server}})
        for (int at = 0; at < 4; ++at)
            showFilled((*boxes)[at], (*filled)[at]);
    showFilled(Edit28, texts.Unlock);

    std::optional<CheckFailure> failure;
    Converting([&] { failure = FirstFailedCheck(texts, ComputerAddresses()); });
    if (failure) {
        TEdit* box = nullptr;
        switch (failure->Box) {
        case SettingsBox::Address:
            box = Edit1;
            break;
        case SettingsBox::Facility:
            box = Edit6;
            break;
        case SettingsBox::Mac:
            box = mac[failure->Index];
            break;
        case SettingsBox::Ip:
            box = ip[failure->Index];
            break;
        case SettingsBox::Subnet:
            box = subnet[failure->Index];
            break;
        case SettingsBox::Gateway:
            box = gateway[failure->Index];
            break;
        case SettingsBox::Server:
            box = server[failure->Index];
            break;
        case SettingsBox::Unlock:
            box = Edit28;
            break;
        }
        Dialogs::MessageBox(this, QString::fromStdString(failure->Text),
                            QString::fromStdString(failure->Title), failure->Flags);
        box->setFocus();
        if (failure->SelectAll) box->selectAll();
        return;
    }

    // Field by field: a conversion error leaves the fields before it staged.
    Converting([&] { StageSettings(texts, PendingSettings); });
    if (!SameSegment(PendingSettings)) {
        ApplyStatus(SegmentText);
        return;
    }

    ApplyStatus("");
    Button1->setEnabled(false);
    Button2->setEnabled(false);
    Button3->setEnabled(false);
    Queue.Queue(CMD_WRITE, CommandQueue::DestinationPort, selected, Directory, PendingSettings);
}
