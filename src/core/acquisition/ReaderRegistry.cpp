#include "acquisition/ReaderRegistry.h"

#include "platform/Dispatcher.h"

#include <thread>

namespace kavel {

namespace {

// Without a handshake nobody takes entries over: a reader does not sleep after its
// notifications, but still waits for activation and, with its log missing, for its stop.
class NoHandshake final : public ReaderMainThread {
public:
    void OnReaderNotify(LogReader&) override {}
    void SuspendReader(LogReader& reader) override {
        if (reader.CurrentHoldReason() != HoldReason::Notification) {
            reader.Suspend();
        }
    }
};

} // namespace

std::uint64_t LiveReaders::Add(LogReader& reader) {
    std::lock_guard lock(Lock_);
    const std::uint64_t serial = ++LastSerial_;
    BySerial_.emplace(serial, &reader);
    return serial;
}

void LiveReaders::Remove(std::uint64_t serial) {
    std::lock_guard lock(Lock_);
    BySerial_.erase(serial);
}

LogReader* LiveReaders::Find(std::uint64_t serial) const {
    std::lock_guard lock(Lock_);
    const auto found = BySerial_.find(serial);
    return found != BySerial_.end() ? found->second : nullptr;
}

ReaderRegistry::ReaderRegistry(Workspace& space)
    : Space_(space) {}

ReaderRegistry::~ReaderRegistry() {
    Clear();
    // A parked reader's thread waits on its object until the process ends, so the object must
    // stay; one whose thread ended before it came to rest is freed.
    for (std::unique_ptr<LogReader>& parked : Parked_)
        if (!parked->Finished())
            static_cast<void>(parked.release());
}

ReaderMainThread& ReaderRegistry::MainThread() const {
    static NoHandshake none;
    ReaderMainThread* handshake = MainThread_.load(std::memory_order_acquire);
    return handshake != nullptr ? *handshake : none;
}

void ReaderRegistry::ResetNotificationMemory() {
    LastBeepSecond_.store(-1);
    LastPopupSerial_.store(0);
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

LogReader& ReaderRegistry::Start(Server& server) {
    std::vector<ReaderSlot>& slots = Slots_;
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
    auto thread = std::make_unique<LogReader>(Space_);
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

void ReaderRegistry::StopServer(Server& server) {
    for (ReaderSlot& slot : Slots_) {
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

void ReaderRegistry::StopAll(const std::function<void(const std::string&)>& showStatus) {
    // Every reader is asked first, so that they all end at the same time: waiting for each
    // before asking the next made thousands of readers take minutes.
    for (ReaderSlot& slot : Slots_) {
        if (slot.Used && slot.Thread) {
            slot.Thread->Terminate();
        }
    }
    for (ReaderSlot& slot : Slots_) {
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

void ReaderRegistry::ParkAll(const std::function<void(const std::string&)>& showStatus) {
    for (ReaderSlot& slot : Slots_) {
        if (slot.Used && slot.Thread) {
            slot.Thread->Park();
        }
    }
    for (ReaderSlot& slot : Slots_) {
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
        Parked_.push_back(std::move(slot.Thread));
        slot.Used = false;
        slot.Server = nullptr;
    }
}

std::string ReaderStateText(const LogReader& thread) {
    return thread.State();
}

} // namespace kavel
