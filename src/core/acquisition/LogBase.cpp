#include "acquisition/LogBase.h"

namespace kavel {

TReaderTable& ReaderTable() {
    static TReaderTable table;
    return table;
}

TLogThread* TReaderTable::ReaderOf(const TServer& server) const {
    for (const TReaderSlot& slot : Slots_) {
        if (slot.Used && slot.Server == &server) {
            return slot.Thread.get();
        }
    }
    return nullptr;
}

std::size_t TReaderTable::UsedCount() const {
    std::size_t count = 0;
    for (const TReaderSlot& slot : Slots_) {
        count += slot.Used ? 1 : 0;
    }
    return count;
}

void TReaderTable::Clear() {
    for (TReaderSlot& slot : Slots_) {
        if (slot.Used && slot.Server != nullptr && slot.Server->Thread() == slot.Thread.get()) {
            slot.Server->SetThread(nullptr);
        }
        if (slot.Thread) {
            StopReader(std::move(slot.Thread));
        }
    }
    Slots_.clear();
}

TLogThread& StartReader(TServer& server) {
    std::vector<TReaderSlot>& slots = ReaderTable().Slots();
    TReaderSlot* slot = nullptr;
    for (TReaderSlot& candidate : slots) {
        if (!candidate.Used) {
            slot = &candidate;
            break;
        }
    }
    if (slot == nullptr) {
        slot = &slots.emplace_back();
    }
    auto thread = std::make_unique<TLogThread>();
    thread->SetServer(server);
    server.SetThread(thread.get());
    thread->Start();
    slot->Server = &server;
    slot->Thread = std::move(thread);
    slot->Used = true;
    return *slot->Thread;
}

void StopReader(std::unique_ptr<TLogThread> thread) {
    if (!thread) {
        return;
    }
    // The stop wins over every sleep: a suspended or paused reader wakes up and ends.
    thread->Terminate();
    thread->WaitFor();
    thread.reset();
}

void StopServerReaders(TServer& server) {
    for (TReaderSlot& slot : ReaderTable().Slots()) {
        if (!slot.Used || slot.Server != &server) {
            continue;
        }
        if (server.Thread() == slot.Thread.get()) {
            server.SetThread(nullptr);
        }
        StopReader(std::move(slot.Thread));
        slot.Used = false;
        slot.Server = nullptr;
    }
}

std::string StoppingReaderStatusText(const TServer& server) {
    return "Die Verbindung zu der Protokolldatei \"" + server.Name() + "\" wird gelöst...";
}

void StopAllReaders(const std::function<void(const std::string&)>& showStatus) {
    for (TReaderSlot& slot : ReaderTable().Slots()) {
        if (!slot.Used || slot.Server == nullptr) {
            continue;
        }
        if (showStatus) {
            showStatus(StoppingReaderStatusText(*slot.Server));
        }
        StopServerReaders(*slot.Server);
    }
}

std::string GetState(const TLogThread& thread) {
    return thread.State();
}

} // namespace kavel
