#include "ReplyDispatcher.h"

#include "MessageFormat.h"
#include "StatusTexts.h"

void ReplyDispatcher::Dispatch(const char* /*sourceAddress*/, unsigned /*sourcePort*/,
                               const uint8_t* data, int length) {
    if (!Armed.load(std::memory_order_acquire)) return;
    // The receiver never hands over less than a header; refuse it all the same.
    if (length < MessageHeader::Length) return;
    if (!HasSignature(data, length, Queue.SignatureCopy())) return;

    const uint8_t command = data[MessageHeader::CommandAt];
    const uint8_t stage = data[MessageHeader::StageAt];
    if (command != CMD_SEARCH && command != CMD_WRITE && command != CMD_DELETE_CARDS) return;
    if (stage == STAGE_REQUEST) return; // our own broadcast coming back
    if (stage == STAGE_REPLY) Queue.Retire();

    const char* text = nullptr;
    if (command == CMD_SEARCH) {
        PanelRecord record;
        DecodeSearchReply(data, length, record);
        if (Arrivals != nullptr) Answered.Remember(record, Arrivals->LocalAddress);
        if (!Window.PostPanel(record)) return; // directory full (or shutting down)
        text = StatusText::SearchSuccess;
    } else if (command == CMD_WRITE) {
        text = StatusText::WriteSuccess;
    } else {
        text = StatusText::DeleteSuccess;
    }
    Window.PostStatus(text, true);
    Window.PostEnableButtons(true);
}
