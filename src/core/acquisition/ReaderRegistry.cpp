#include "acquisition/ReaderRegistry.h"

#include "platform/Dispatcher.h"

#include <thread>

namespace kavel {

ReaderRegistry& Readers() {
    static ReaderRegistry table;
    return table;
}

LogReader* ReaderRegistry::ReaderOf(const Server& server) const {
    for (const ReaderSlot& slot : Slots_) {
        if (slot.Used && slot.Server == &server) {
            return slot.Thread.get();
        }
    }
    return nullptr;
}

std::size_t ReaderRegistry::UsedCount() const {
    std::size_t count = 0;
    for (const ReaderSlot& slot : Slots_) {
        count += slot.Used ? 1 : 0;
    }
    return count;
}

void ReaderRegistry::Clear() {
    for (ReaderSlot& slot : Slots_) {
        if (slot.Thread) {
            slot.Thread->Terminate();
        }
    }
    for (ReaderSlot& slot : Slots_) {
        if (slot.Used && slot.Server != nullptr && slot.Server->Thread() == slot.Thread.get()) {
            slot.Server->SetThread(nullptr);
        }
        if (slot.Thread) {
            StopReader(std::move(slot.Thread));
        }
    }
    Slots_.clear();
}

LogReader& StartReader(Server& server) {
    std::vector<ReaderSlot>& slots = Readers().Slots();
    ReaderSlot* slot = nullptr;
    for (ReaderSlot& candidate : slots) {
        if (!candidate.Used) {
            slot = &candidate;
            break;
        }
    }
    if (slot == nullptr) {
        slot = &slots.emplace_back();
    }
    auto thread = std::make_unique<LogReader>();
    thread->SetServer(server);
    server.SetThread(thread.get());
    thread->Start();
    slot->Server = &server;
    slot->Thread = std::move(thread);
    slot->Used = true;
    return *slot->Thread;
}

void StopReader(std::unique_ptr<LogReader> thread) {
    if (!thread) {
        return;
    }
    // The stop wins over every sleep: a suspended or paused reader wakes up and ends.
    thread->Terminate();
    thread->WaitFor();
    thread.reset();
}

void StopServerReaders(Server& server) {
    for (ReaderSlot& slot : Readers().Slots()) {
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

std::string StoppingReaderStatusText(const Server& server) {
    return std::string(StoppingReaderStatusHead) + server.Name() + std::string(StoppingReaderStatusTail);
}

void StopAllReaders(const std::function<void(const std::string&)>& showStatus) {
    // Every reader is asked first, so that they all end at the same time: waiting for each
    // before asking the next made thousands of readers take minutes.
    for (ReaderSlot& slot : Readers().Slots()) {
        if (slot.Used && slot.Thread) {
            slot.Thread->Terminate();
        }
    }
    for (ReaderSlot& slot : Readers().Slots()) {
        if (!slot.Used || slot.Server == nullptr) {
            continue;
        }
        if (showStatus) {
            showStatus(StoppingReaderStatusText(*slot.Server));
        }
        if (slot.Server->Thread() == slot.Thread.get()) {
            slot.Server->SetThread(nullptr);
        }
        StopReader(std::move(slot.Thread));
        slot.Used = false;
        slot.Server = nullptr;
    }
}

void ParkAllReaders(const std::function<void(const std::string&)>& showStatus) {
    // Never freed: a parked reader's thread waits on its object until the process ends.
    static auto* const parked = new std::vector<std::unique_ptr<LogReader>>;
    for (ReaderSlot& slot : Readers().Slots()) {
        if (slot.Used && slot.Thread) {
            slot.Thread->Park();
        }
    }
    for (ReaderSlot& slot : Readers().Slots()) {
        if (!slot.Used || slot.Server == nullptr) {
            continue;
        }
        if (showStatus) {
            showStatus(StoppingReaderStatusText(*slot.Server));
        }
        if (slot.Server->Thread() == slot.Thread.get()) {
            slot.Server->SetThread(nullptr);
        }
        LogReader* reader = slot.Thread.get();
        // A reader may wait for a synchronized call before it reaches a place to stand still.
        if (platform::HasMainDispatcher() && platform::MainDispatcher().IsMainThread()) {
            platform::MainDispatcher().WaitProcessingSynchronized([reader] { return reader->Parked(); });
        }
        while (!reader->Parked()) {
            std::this_thread::yield();
        }
        reader->LetGoOfThread();
        parked->push_back(std::move(slot.Thread));
        slot.Used = false;
        slot.Server = nullptr;
    }
}

std::string ReaderStateText(const LogReader& thread) {
    return thread.State();
}

} // namespace kavel
