#include "acquisition/ReaderHandshake.h"

#include "acquisition/Queue.h"

namespace kavel {

ReaderHandshake::ReaderHandshake(TTakeOver takeOver)
    : TakeOver_(std::move(takeOver)) {}

void ReaderHandshake::OnReaderNotify(TLogThread& reader) {
    if (Closing_) {
        return;
    }
    if (TQueue* first = EntryQueue().FirstNew(); first != nullptr && TakeOver_) {
        TakeOver_(*first);
    }
    if (reader.Suspended()) {
        reader.ResumeSuspended();
        return;
    }
    // The notification came before the reader's suspension: it is resumed at an idle moment
    // after it went to sleep.
    for (const TPending& pending : PendingResume_) {
        if (pending.Serial == reader.Serial()) {
            return;
        }
    }
    PendingResume_.push_back(TPending{&reader, reader.Serial()});
}

void ReaderHandshake::SuspendReader(TLogThread& reader) {
    reader.Suspend();
}

platform::IdleResult ReaderHandshake::ResumePendingReader() {
    for (auto it = PendingResume_.begin(); it != PendingResume_.end();) {
        TLogThread* reader = TLogThread::FindLive(it->Serial);
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

void TakeOverNewEntries(TQueue& first, const std::function<void(TQueue&)>& each) {
    TEntryQueue& queue = EntryQueue();
    for (TQueue* entry = &first; entry != nullptr; entry = queue.GetNext(entry)) {
        if (each) {
            each(*entry);
        }
        entry->IsNew.store(false);
    }
}

} // namespace kavel
