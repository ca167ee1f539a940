#include "Form1Logic.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "BroadcastInterfaces.h"
#include "ComputerAddresses.h"
#include "Form1View.h"
#include "MessageFormat.h"
#include "PanelLine.h"
#include "PanelTexts.h"
#include "SettingsChecks.h"
#include "StatusTexts.h"
#include "WriteRecord.h"

namespace {

using enum Control;

constexpr Control MacBoxes[3] = {Edit3, Edit4, Edit5};
constexpr Control IpBoxes[4] = {Edit7, Edit8, Edit9, Edit10};
constexpr Control SubnetBoxes[4] = {Edit13, Edit14, Edit15, Edit16};
constexpr Control GatewayBoxes[4] = {Edit18, Edit19, Edit20, Edit21};
constexpr Control ServerBoxes[4] = {Edit23, Edit24, Edit25, Edit26};

constexpr const char* FaultTitle = "Fault";
constexpr const char* InputAgainTitle = "Pls input again";
// An edited address, facility or unlocking time with a character no GBK byte stands for.
constexpr const char* UnwritableText = "Invalid character！";

// The boxes of each field a write can change; the type is ComboBox1's.
struct FieldBoxes {
    WriteField Field;
    std::vector<Control> Boxes;
};
const std::vector<FieldBoxes>& BoxesOfFields() {
    static const std::vector<FieldBoxes> fields = {{AddressField, {Edit1}},
                                                   {FacilityField, {Edit6}},
                                                   {MacField, {Edit3, Edit4, Edit5}},
                                                   {IpField, {Edit7, Edit8, Edit9, Edit10}},
                                                   {MaskField, {Edit13, Edit14, Edit15, Edit16}},
                                                   {GatewayField, {Edit18, Edit19, Edit20, Edit21}},
                                                   {ServerField, {Edit23, Edit24, Edit25, Edit26}},
                                                   {UnlockField, {Edit28}}};
    return fields;
}

// A panel's line in ListBox1, as the boxes show panel bytes (GBK).
std::string LineOf(const PanelRecord& record) {
    char line[PanelLineSize];
    const int length = FormatPanelLine(record, line);
    return GbkToUtf8(std::string_view(line, size_t(length)));
}

template <std::size_t N>
void ShowTexts(Form1View& view, const Control (&boxes)[N], const std::string (&texts)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        view.SetText(boxes[i], texts[i]);
}

template <std::size_t N>
void ReadTexts(const Form1View& view, const Control (&boxes)[N], std::string (&texts)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        texts[i] = view.Text(boxes[i]);
}

// The filled "10" goes into the boxes that were empty, and stays there whatever follows.
template <std::size_t N>
void ShowFilled(Form1View& view, const Control (&boxes)[N], const std::string (&texts)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        if (view.Text(boxes[i]).empty()) view.SetText(boxes[i], texts[i]);
}

// The box a failed check points at.
Control BoxOf(const CheckFailure& failure) {
    switch (failure.Box) {
    case SettingsBox::Address:
        return Edit1;
    case SettingsBox::Facility:
        return Edit6;
    case SettingsBox::Mac:
        return MacBoxes[failure.Index];
    case SettingsBox::Ip:
        return IpBoxes[failure.Index];
    case SettingsBox::Subnet:
        return SubnetBoxes[failure.Index];
    case SettingsBox::Gateway:
        return GatewayBoxes[failure.Index];
    case SettingsBox::Server:
        return ServerBoxes[failure.Index];
    case SettingsBox::Unlock:
        break;
    }
    return Edit28;
}

} // namespace

Form1Logic::~Form1Logic() {
    // The sender and receiver threads reach into the members; stop them first. A window that
    // was never shown never runs its close handler.
    if (HasShown && !Closed)
        FormClose();
    else if (!HasShown)
        StopThreads();
}

void Form1Logic::Shown() {
    if (HasShown) return;
    HasShown = true;
    FormShow();
}

void Form1Logic::Closing() {
    if (HasShown && !Closed) FormClose();
}

void Form1Logic::Run(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        View.ShowError("");
    }
}

void Form1Logic::FormShow() {
    View.SetComboIndex(0);
    if (Link) {
        const bool started = Queue.Setup(*Link, Mailbox);
        Dispatcher.Arm();
        if (!started) {
            std::fputs("无法UDP发送线程\n", stdout);
            std::fflush(stdout);
            return;
        }
    }
    View.SetEnabled(Button1, true);
    ApplyStatus(StatusText::Empty);
    Directory.Count = 0;
}

void Form1Logic::FormClose() {
    Closed = true;
    StopThreads();
}

void Form1Logic::StopThreads() {
    // Wake a receiver that waits for room, then join the receiver and the sender.
    Mailbox.Close();
    if (Udpr) Udpr->Close();
    Queue.Stop();
}

void Form1Logic::DisableButtons(bool all) {
    View.SetEnabled(Button1, false);
    View.SetEnabled(Button2, false);
    if (all) View.SetEnabled(Button3, false);
}

void Form1Logic::ApplyStatus(const char* text) {
    View.SetStatus(text);
}

void Form1Logic::ApplyEnableButtons() {
    View.SetEnabled(Button1, true);
    View.SetEnabled(Button2, true);
    View.SetEnabled(Button3, true);
}

void Form1Logic::ApplyPanel(const PanelRecord& record) {
    if (Directory.Count >= DirectoryCapacity) return;
    // The record is complete before its line can be selected.
    Directory.Records[Directory.Count] = record;
    View.AppendLine(LineOf(record));
    ++Directory.Count;
}

void Form1Logic::Button2Click() {
    // Panels still on their way belong to the previous search: let them land, then start over.
    // A search that leaves by several routes may reach a panel by more than one of them (two
    // subnets on one switch, two cables into one), and the panel answers each: then one line
    // per panel (DuplicateRule.h).
    Mailbox.ResetDirectory(*this, CurrentBroadcastRoutes().size() > 1);
    View.ClearList();
    ShownLine = -1;
    Directory.Count = 0;
    ApplyStatus(StatusText::Empty);
    DisableButtons(false);
    Queue.Queue(CMD_SEARCH, CommandQueue::DestinationPort, -1, Directory, PendingSettings);
}

void Form1Logic::Button3Click() {
    const int i = View.SelectedIndex();
    if (i < 0 || i >= DirectoryCapacity) {
        View.ShowMessage("Pls select a camera ！", FaultTitle, CheckIconError);
        return;
    }
    ApplyStatus(StatusText::Empty);
    DisableButtons(true);
    Queue.Queue(CMD_DELETE_CARDS, CommandQueue::DestinationPort, i, Directory, PendingSettings);
}

void Form1Logic::ListBox1Click() {
    const int i = View.SelectedIndex();
    if (i < 0 || i >= DirectoryCapacity) return;
    const PanelRecord& r = Directory.Records[i];

    // The texts the command-line tool shows and checks too: device type and address follow
    // the panel's bytes before they are decoded.
    const SettingsTexts t = TextsOf(r);
    View.SetComboIndex(t.Type);
    View.SetText(Edit1, GbkToUtf8(t.Address));
    View.SetText(Edit6, GbkToUtf8(t.Facility)); // empty for a zero byte
    ShowTexts(View, MacBoxes, t.Mac);
    ShowTexts(View, IpBoxes, t.Ip);
    ShowTexts(View, SubnetBoxes, t.Subnet);
    ShowTexts(View, GatewayBoxes, t.Gateway);
    ShowTexts(View, ServerBoxes, t.Server);
    View.SetText(Edit27, FieldText(r.Version, sizeof r.Version));
    View.SetText(Edit28, t.Unlock);

    ShownLine = i;
    ShownRecord = r;
    ShownCombo = View.ComboIndex();
    ShownTexts.clear();
    for (const FieldBoxes& field : BoxesOfFields())
        for (const Control box : field.Boxes)
            ShownTexts[box] = View.Text(box);
}

WriteFields Form1Logic::EditedFields(int selected) const {
    WriteFields edited;
    if (selected != ShownLine ||
        std::memcmp(&ShownRecord, &Directory.Records[selected], sizeof ShownRecord) != 0)
        return edited.set();
    edited[TypeField] = View.ComboIndex() != ShownCombo;
    for (const FieldBoxes& field : BoxesOfFields())
        for (const Control box : field.Boxes)
            if (View.Text(box) != ShownTexts.at(box)) edited[field.Field] = true;
    return edited;
}

void Form1Logic::ComboBox1Change() {
    switch (View.ComboIndex()) {
    case int(DeviceType::Flat):
        View.SetMaxLength(Edit1, 10);
        View.SetEnabled(Edit6, true);
        break;
    case int(DeviceType::Help):
        View.SetMaxLength(Edit1, 4);
        View.SetText(Edit6, "0");
        View.SetEnabled(Edit6, false);
        break;
    default:
        View.SetMaxLength(Edit1, 4);
        View.SetEnabled(Edit6, true);
        break;
    }
}

namespace {

// What the boxes say, with empty boxes filled (and shown filled) as the window fills them.
SettingsTexts ReadBoxes(Form1View& view) {
    SettingsTexts texts;
    texts.Type = view.ComboIndex();
    texts.Address = view.Text(Edit1);
    texts.Facility = view.Text(Edit6);
    ReadTexts(view, MacBoxes, texts.Mac);
    ReadTexts(view, IpBoxes, texts.Ip);
    ReadTexts(view, SubnetBoxes, texts.Subnet);
    ReadTexts(view, GatewayBoxes, texts.Gateway);
    ReadTexts(view, ServerBoxes, texts.Server);
    texts.Unlock = view.Text(Edit28);

    FillEmpty(texts);
    ShowFilled(view, MacBoxes, texts.Mac);
    ShowFilled(view, IpBoxes, texts.Ip);
    ShowFilled(view, SubnetBoxes, texts.Subnet);
    ShowFilled(view, GatewayBoxes, texts.Gateway);
    ShowFilled(view, ServerBoxes, texts.Server);
    if (view.Text(Edit28).empty()) view.SetText(Edit28, texts.Unlock);
    return texts;
}

// Lengths and comparisons are of the bytes the panel receives. A box left as shown stands for
// the panel's own bytes (a "\uFFFD" there is a byte no GBK character holds); an edited text
// goes out as it reads or not at all. False once the user has been told which box cannot.
bool ToPanelBytes(Form1View& view, const PanelRecord& reported, const WriteFields& edited,
                  SettingsTexts& texts) {
    const SettingsTexts shown = TextsOf(reported);
    for (const auto& [field, box, text, own] :
         {std::tuple{AddressField, Edit1, &texts.Address, &shown.Address},
          std::tuple{FacilityField, Edit6, &texts.Facility, &shown.Facility},
          std::tuple{UnlockField, Edit28, &texts.Unlock, &shown.Unlock}}) {
        if (!edited[field]) {
            *text = *own;
        } else if (auto gbk = Utf8ToGbk(*text)) {
            *text = std::move(*gbk);
        } else {
            view.ShowMessage(UnwritableText, InputAgainTitle, CheckIconError);
            view.Focus(box);
            view.SelectAll(box);
            return false;
        }
    }
    return true;
}

} // namespace

bool Form1Logic::StageChecked(const SettingsTexts& texts, const WriteFields& edited) {
    // A text that is no integer ends the handler through the exception display; the focus
    // stays where it is. A check speaks of what the user edited: what the panel already holds
    // goes back to it as it is.
    try {
        if (const std::optional<CheckFailure> failure =
                FirstFailedCheck(texts, ComputerAddresses(),
                                 [&](const CheckFailure& f) { return Concerns(f, edited); })) {
            const Control box = BoxOf(*failure);
            View.ShowMessage(failure->Text, failure->Title, failure->Flags);
            View.Focus(box);
            if (failure->SelectAll) View.SelectAll(box);
            return false;
        }
        // The staging goes field by field, so a conversion error leaves the fields before it
        // staged.
        StageSettings(texts, PendingSettings);
    } catch (const ConvertError& error) {
        View.ShowError(error.what());
        return false;
    }
    return true;
}

void Form1Logic::Button1Click() {
    const int selected = View.SelectedIndex();
    if (selected < 0 || selected > DirectoryCapacity - 1) {
        View.ShowMessage("Pls select a pannel ！", FaultTitle, CheckIconError);
        return;
    }

    const PanelRecord& reported = Directory.Records[selected];
    const WriteFields edited = EditedFields(selected);
    SettingsTexts texts = ReadBoxes(View);
    if (!ToPanelBytes(View, reported, edited, texts) || !StageChecked(texts, edited)) return;
    KeepUnchanged(reported, edited, PendingSettings);
    if (SegmentConcerned(edited) && !SameSegment(PendingSettings)) {
        ApplyStatus(SegmentText);
        return;
    }

    ApplyStatus(StatusText::Empty);
    DisableButtons(true);
    Queue.Queue(CMD_WRITE, CommandQueue::DestinationPort, selected, Directory, PendingSettings);
}
