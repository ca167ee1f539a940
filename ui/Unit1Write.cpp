#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <initializer_list>
#include <optional>

#include "Conversions.h"
#include "Dialogs.h"
#include "TEdit.h"
#include "Unit1.h"

namespace {

const QString RangeText = QStringLiteral("Pls input a number between 0 - 255！");
const QString InvalidIpText = QStringLiteral("Invalid IP！");
const QString InputAgainTitle = QStringLiteral("Pls input again");
const QString ErrorTitle = QStringLiteral("Error");
constexpr const char* SegmentText = "IP and Gateway must be in same network segment";
constexpr int FlatCamera = 0;
constexpr int VillaCamera = 2;
constexpr int AddressLength = 10;
constexpr int ShortAddressLength = 4;

// The first failed check: its box, message and what happens to the box afterwards.
struct Failure {
    TEdit* Box;
    QString Text;
    QString Title;
    int Flags;
    bool SelectAll;
};

bool InByteRange(int value) {
    return value >= 0 && value <= 255;
}
// A host byte of 0 or 255 would name the network or the broadcast.
bool IsNetworkOrBroadcast(int value) {
    return value == 0 || value == 255;
}

// One address box: its fourth byte first, then every byte's range.
std::optional<Failure> CheckAddress(TEdit* const (&bytes)[4]) {
    if (IsNetworkOrBroadcast(StrToInt(bytes[3]->text())))
        return Failure{bytes[3], InvalidIpText, InputAgainTitle, Dialogs::IconError, false};
    for (TEdit* box : bytes)
        if (!InByteRange(StrToInt(box->text())))
            return Failure{box, RangeText, InputAgainTitle, Dialogs::IconError, true};
    return std::nullopt;
}

uint8_t LowByte(TEdit* box) {
    return static_cast<uint8_t>(StrToInt(box->text()));
}

} // namespace

void TForm1::Button1Click() {
    const int selected = SelectedIndex();
    if (selected < 0 || selected > DirectoryCapacity - 1) {
        Dialogs::MessageBox(this, QStringLiteral("Pls select a pannel ！"), QStringLiteral("Fault"),
                            Dialogs::IconError);
        return;
    }

    for (TEdit* box :
         {Edit3,  Edit4,  Edit5,  Edit7,  Edit8,  Edit9,  Edit10, Edit13, Edit14, Edit15,
          Edit16, Edit18, Edit19, Edit20, Edit21, Edit23, Edit24, Edit25, Edit26, Edit28})
        if (box->text().isEmpty()) box->setText(QStringLiteral("10"));

    TEdit* const ip[4] = {Edit7, Edit8, Edit9, Edit10};
    TEdit* const subnet[4] = {Edit13, Edit14, Edit15, Edit16};
    TEdit* const gateway[4] = {Edit18, Edit19, Edit20, Edit21};
    TEdit* const server[4] = {Edit23, Edit24, Edit25, Edit26};
    TEdit* const mac[3] = {Edit3, Edit4, Edit5};
    const int type = ComboBox1->currentIndex();
    // Lengths and comparisons are of the bytes the panel receives.
    const QByteArray address = ToWireBytes(Edit1->text());
    const QByteArray facility = ToWireBytes(Edit6->text());
    const QByteArray unlockTime = ToWireBytes(Edit28->text());

    const auto firstFailure = [&]() -> std::optional<Failure> {
        for (TEdit* const(*bytes)[4] : {&ip, &gateway, &server})
            if (std::optional<Failure> failure = CheckAddress(*bytes)) return failure;
        if (type == FlatCamera && address.size() != AddressLength)
            return Failure{Edit1,
                           QStringLiteral("Invalid Address bits ，10 bits for Flat station！"),
                           ErrorTitle, Dialogs::IconInformation, false};
        if (type != FlatCamera && address.size() != ShortAddressLength)
            return Failure{
                Edit1,
                QStringLiteral("Invalid Address bits ，4 bits for Help station & Villa camera！"),
                ErrorTitle, Dialogs::IconInformation, false};
        if (facility.isEmpty())
            return Failure{Edit6, QStringLiteral("Invalid facility NO."), ErrorTitle,
                           Dialogs::IconInformation, false};
        if (CompareBytes(facility, "0") < 0 || CompareBytes(facility, "1") > 0)
            return Failure{Edit6, QStringLiteral("Facility NO. between 0-1"), ErrorTitle,
                           Dialogs::IconInformation, false};
        if (type == FlatCamera &&
            (CompareBytes(unlockTime, "1") < 0 || CompareBytes(unlockTime, "9") > 0))
            return Failure{Edit28, QStringLiteral("Unlocking time between 1-9"), ErrorTitle,
                           Dialogs::IconInformation, false};
        // A MAC byte that holds no hexadecimal digit has no value to send.
        for (TEdit* box : mac)
            if (!HexByte(box->text()))
                return Failure{box, QStringLiteral("Invalid MAC！"), InputAgainTitle,
                               Dialogs::IconError, true};
        return std::nullopt;
    };
    if (const std::optional<Failure> failure = firstFailure()) {
        Dialogs::MessageBox(this, failure->Text, failure->Title, failure->Flags);
        failure->Box->setFocus();
        if (failure->SelectAll) failure->Box->selectAll();
        return;
    }

    // Field by field: a conversion error below leaves the fields before it staged.
    PanelRecord& pending = PendingSettings;
    pending.TypeLetter = (type == FlatCamera || type == VillaCamera) ? 'H' : 'P';
    for (int at = 0; at < address.size() && at < AddressLength; ++at)
        pending.Address[at] = address[at];
    if (address.size() == ShortAddressLength)
        for (int at = ShortAddressLength; at < AddressLength; ++at)
            pending.Address[at] = '0';
    pending.Facility = facility[0];
    pending.Terminator = 0;
    pending.Mac[0] = 0x00;
    pending.Mac[1] = 0x50;
    pending.Mac[2] = 0x2A;
    for (int at = 0; at < 3; ++at)
        pending.Mac[3 + at] = *HexByte(mac[at]->text());
    for (int at = 0; at < 4; ++at)
        pending.Ip[at] = LowByte(ip[at]);
    for (int at = 0; at < 4; ++at)
        pending.Subnet[at] = LowByte(subnet[at]);
    for (int at = 0; at < 4; ++at)
        pending.Gateway[at] = LowByte(gateway[at]);
    for (int at = 0; at < 4; ++at)
        pending.Server[at] = LowByte(server[at]);
    pending.UnlockTime = static_cast<uint8_t>(unlockTime[0]);

    for (int at = 0; at < 4; ++at) {
        if ((pending.Ip[at] & pending.Subnet[at]) != (pending.Gateway[at] & pending.Subnet[at])) {
            ApplyStatus(SegmentText);
            return;
        }
    }

    ApplyStatus("");
    Button1->setEnabled(false);
    Button2->setEnabled(false);
    Button3->setEnabled(false);
    Queue.Queue(CMD_WRITE, CommandQueue::DestinationPort, selected, Directory, PendingSettings);
}
