// libFuzzer target: one received datagram through the receiver's length rule, the reply
// dispatcher and the window mailbox into a headless window that keeps a panel directory and
// formats list lines. Every outcome is checked against what the protocol says it must be.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CommandQueue.h"
#include "MessageFormat.h"
#include "PanelLine.h"
#include "PanelRecord.h"
#include "ReplyDispatcher.h"
#include "StatusTexts.h"
#include "Transmitter.h"
#include "Udpr.h"
#include "WindowMailbox.h"

namespace {

// Nothing is queued, so the sender thread never transmits; it only has to exist.
class NoTransmitter final : public Transmitter {
  public:
    void Transmit(const char*, int, const uint8_t*, int, const char*) override {}
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "reply fuzzer: %s\n", what);
    std::abort();
}

// The window as the tool keeps it, without widgets: the directory and the list's lines.
class HeadlessWindow final : public WindowSink {
  public:
    enum class Change { Status, Enable, Panel };

    void ApplyStatus(const char* text) override {
        Changes.push_back(Change::Status);
        Statuses.push_back(text);
    }
    void ApplyEnableButtons() override { Changes.push_back(Change::Enable); }
    void ApplyPanel(const PanelRecord& record) override {
        Changes.push_back(Change::Panel);
        if (Directory.Count >= DirectoryCapacity) Fail("a 101st panel reached the window");
        Directory.Records[Directory.Count] = record;
        char line[PanelLineSize];
        const int n = FormatPanelLine(record, line);
        if (n < 0 || n >= PanelLineSize || line[n] != '\0' || std::strlen(line) != size_t(n))
            Fail("list line length does not match its text");
        Lines[Directory.Count] = line;
        ++Directory.Count;
    }

    void Forget() {
        Changes.clear();
        Statuses.clear();
    }

    PanelDirectory Directory;
    std::string Lines[DirectoryCapacity];
    std::vector<Change> Changes;
    std::vector<const char*> Statuses;
};

struct Harness {
    NoTransmitter Link;
    WindowMailbox Mailbox;
    CommandQueue Queue;
    ReplyDispatcher Dispatcher{Queue, Mailbox};
    HeadlessWindow Window;
    unsigned Inputs = 0;
    unsigned long PanelsStored = 0, FullDirectory = 0; // reported at exit

    Harness() {
        if (!Queue.Setup(Link, Mailbox)) Fail("sender thread did not start");
        Dispatcher.Arm();
    }
};

Harness* Instance = nullptr;

void ReportAtExit() {
    std::fprintf(stderr,
                 "reply-fuzzer stats: %lu panels stored, %lu search replies met a full "
                 "directory\n",
                 Instance->PanelsStored, Instance->FullDirectory);
}

Harness& TheHarness() {
    // Kept for the whole run, as the window keeps its engine.
    if (Instance == nullptr) {
        Instance = new Harness;
        std::atexit(ReportAtExit);
    }
    return *Instance;
}

// Often enough that the fuzzer reaches a full directory between resets.
constexpr unsigned ResetEvery = 250;

uint8_t ByteAt(const uint8_t* data, size_t length, size_t offset) {
    return offset < length ? data[offset] : 0; // short replies read as zero-filled
}

// The record a search reply must give, worked out byte by byte from the reply layout.
void ExpectRecord(const PanelRecord& r, const uint8_t* data, size_t length) {
    const auto same = [&](const void* field, size_t size, size_t offset) {
        const auto* bytes = static_cast<const uint8_t*>(field);
        for (size_t i = 0; i < size; ++i)
            if (bytes[i] != ByteAt(data, length, offset + i)) return false;
        return true;
    };
    if (!same(&r.TypeLetter, 1, 10) || !same(r.Address, 10, 11) || !same(&r.Facility, 1, 21))
        Fail("identity not taken from bytes 10 to 21");
    if (r.Terminator != 0) Fail("identity terminator written");
    if (!same(r.Mac, 6, 30) || !same(r.Ip, 4, 36) || !same(r.Subnet, 4, 40) ||
        !same(r.Gateway, 4, 44) || !same(r.Server, 4, 48))
        Fail("panel block fields misplaced");
    if (!same(r.Version, 16, 52) || !same(&r.Spare, 1, 68) || !same(&r.UnlockTime, 1, 69))
        Fail("version, spare or unlocking time misplaced");
}

std::string ExpectLine(const uint8_t* data, size_t length) {
    std::string line;
    for (size_t i = 0; i < PanelIdentityLength; ++i) {
        const uint8_t c = ByteAt(data, length, 10 + i);
        if (c == 0) break;
        line += static_cast<char>(c);
    }
    line += " -";
    for (size_t i = 0; i < 4; ++i)
        line += (i == 0 ? " " : ".") + std::to_string(ByteAt(data, length, 36 + i));
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    Harness& h = TheHarness();
    if (++h.Inputs % ResetEvery == 0) {
        // As "Search all" does: what is on its way lands, then the directory starts over.
        h.Mailbox.ResetDirectory(h.Window);
        h.Window.Directory.Count = 0;
    }
    h.Window.Forget();

    if (!AcceptDatagramLength(static_cast<ssize_t>(size))) return 0;

    // Exactly the datagram and the zero byte the receiver puts after it, on the heap so that a
    // read past them is caught.
    const auto length = static_cast<int>(size);
    std::unique_ptr<uint8_t[]> datagram(new uint8_t[size + 1]);
    std::memcpy(datagram.get(), input, size);
    datagram[size] = 0;

    const int countBefore = h.Window.Directory.Count;
    h.Dispatcher.Dispatch("10.83.0.11", 8300, datagram.get(), length);
    h.Mailbox.Drain(h.Window);

    if (std::memcmp(datagram.get(), input, size) != 0 || datagram[size] != 0)
        Fail("the dispatcher changed the receive buffer");
    if (h.Queue.ActiveSlots() != 0) Fail("a slot became active without a command");

    using C = HeadlessWindow::Change;
    const bool signed_ = std::memcmp(input, "XXXCID", 6) == 0;
    const uint8_t command = input[6], stage = input[7];
    const bool reply =
        signed_ && stage != STAGE_REQUEST &&
        (command == CMD_SEARCH || command == CMD_WRITE || command == CMD_DELETE_CARDS);
    std::vector<C> expected;
    const char* text = nullptr;
    if (reply && command == CMD_SEARCH) {
        if (countBefore < DirectoryCapacity) {
            expected = {C::Panel, C::Status, C::Enable};
            text = StatusText::SearchSuccess;
            ++h.PanelsStored;
        } else {
            ++h.FullDirectory;
        }
    } else if (reply) {
        expected = {C::Status, C::Enable};
        text = command == CMD_WRITE ? StatusText::WriteSuccess : StatusText::DeleteSuccess;
    }
    if (h.Window.Changes != expected) Fail("window changes differ from the reply's effects");
    if (text != nullptr && std::strcmp(h.Window.Statuses.at(0), text) != 0)
        Fail("wrong status text");

    if (!expected.empty() && expected[0] == C::Panel) {
        if (h.Window.Directory.Count != countBefore + 1) Fail("panel not counted once");
        ExpectRecord(h.Window.Directory.Records[countBefore], input, size);
        if (h.Window.Lines[countBefore] != ExpectLine(input, size)) Fail("wrong list line");
    } else if (h.Window.Directory.Count != countBefore) {
        Fail("directory changed by a datagram that is no search reply");
    }
    return 0;
}
