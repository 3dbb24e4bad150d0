#include "acquisition/ReaderHandshake.h"

#include "acquisition/EntryQueue.h"
#include "acquisition/Workspace.h"

namespace kavel {

ReaderHandshake::ReaderHandshake(Workspace& space, TakeOver takeOver)
    : Space_(space)
    , TakeOver_(std::move(takeOver)) {
    Space_.Readers().SetMainThread(this);
}

ReaderHandshake::~ReaderHandshake() {
    if (&Space_.Readers().MainThread() == this)
        Space_.Readers().SetMainThread(nullptr);
}

void ReaderHandshake::OnReaderNotify(LogReader& reader) {
    if (Closing_) {
        return;
    }
    if (LogEntry* first = Space_.Entries().FirstNew(); first != nullptr && TakeOver_) {
        TakeOver_(*first);
    }
    if (reader.Suspended()) {
        reader.ResumeSuspended();
        return;
    }
    // The notification came before the reader's suspension: it is resumed at an idle moment
    // after it went to sleep.
    for (const Pending& pending : PendingResume_) {
        if (pending.Serial == reader.Serial()) {
            return;
        }
    }
    PendingResume_.push_back(Pending{&reader, reader.Serial()});
}

void ReaderHandshake::SuspendReader(LogReader& reader) {
    reader.Suspend();
}

platform::IdleResult ReaderHandshake::ResumePendingReader() {
    for (auto it = PendingResume_.begin(); it != PendingResume_.end();) {
        LogReader* reader = Space_.Readers().Live()->Find(it->Serial);
        if (reader == nullptr) {
            it = PendingResume_.erase(it);
            continue;
        }
        if (reader->Suspended()) {
            PendingResume_.erase(it);
            reader->ResumeSuspended();
            break;
        }
        ++it;
    }
    return platform::IdleResult::Done;
}

void TakeOverNewEntries(EntryQueue& queue, LogEntry& first, const std::function<void(LogEntry&)>& each) {
    for (LogEntry* entry = &first; entry != nullptr; entry = queue.Next(entry)) {
        if (each) {
            each(*entry);
        }
        entry->IsNew.store(false);
    }
}

} // namespace kavel
