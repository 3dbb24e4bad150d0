#include "acquisition/EntryPipeline.h"

#include <exception>
#include <utility>

namespace kavel {

EntryPipeline::EntryPipeline(Server& server, const EntrySettings& settings, std::function<void()> threadStart)
    : Server_(server)
    , Settings_(settings) {
    Thread_ = std::thread([this, start = std::move(threadStart)] { Run(start); });
}

EntryPipeline::~EntryPipeline() {
    {
        const std::lock_guard lock(Mutex_);
        Stopping_ = true;
    }
    Sent_.notify_all();
    Thread_.join();
}

void EntryPipeline::Run(const std::function<void()>& threadStart) {
    if (threadStart)
        threadStart();
    std::unique_lock lock(Mutex_);
    for (;;) {
        Sent_.wait(lock, [this] { return Stopping_ || NextToMake_ < OnTheirWay_.size(); });
        if (Stopping_)
            return;
        Batch* batch = OnTheirWay_[NextToMake_].get();
        lock.unlock();
        MakeBatch(*batch);
        lock.lock();
        batch->Done = true;
        ++NextToMake_;
        MadeOne_.notify_all();
    }
}

void EntryPipeline::MakeBatch(Batch& batch) {
    batch.Made.resize(batch.Lines.size());
    for (std::size_t i = 0; i < batch.Lines.size(); ++i) {
        const LineSpan& span = batch.Lines[i];
        try {
            batch.Made[i] = MakeUnvisitedEntry(std::string_view(batch.Bytes).substr(span.Offset, span.Size),
                                               Server_, Settings_);
        } catch (const std::exception& error) {
            batch.Errors.emplace_back(i, error.what());
        } catch (...) {
            batch.Errors.emplace_back(i, "unknown error");
        }
    }
}

void EntryPipeline::Take(std::string_view line, std::int64_t mark, const Deliver& deliver) {
    if (!Open_) {
        if (Spare_.empty()) {
            Open_ = std::make_unique<Batch>();
            Open_->Bytes.reserve(BatchBytes);
            Open_->Lines.reserve(BatchLines);
            Open_->Made.reserve(BatchLines);
        } else {
            Open_ = std::move(Spare_.back());
            Spare_.pop_back();
        }
    }
    Open_->Lines.push_back(LineSpan{static_cast<std::uint32_t>(Open_->Bytes.size()),
                                    static_cast<std::uint32_t>(line.size()), mark});
    Open_->Bytes.append(line);
    ++Pending_;
    if (Open_->Lines.size() < BatchLines && Open_->Bytes.size() < BatchBytes)
        return;
    Send();
    // What is made already is handed on; the oldest is waited for only when too many are out.
    while (HandOnOldest(false, deliver)) {
    }
    std::size_t onTheirWay = 0;
    {
        const std::lock_guard lock(Mutex_);
        onTheirWay = OnTheirWay_.size();
    }
    if (onTheirWay > MaxBatchesOnTheirWay)
        HandOnOldest(true, deliver);
}

void EntryPipeline::Flush(const Deliver& deliver) {
    if (Open_)
        Send();
    // A failed hand-over stops none of the batches after it.
    std::exception_ptr failure;
    while (Pending_ > 0) {
        try {
            HandOnOldest(true, deliver);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

void EntryPipeline::Send() {
    {
        const std::lock_guard lock(Mutex_);
        OnTheirWay_.push_back(std::move(Open_));
    }
    Sent_.notify_one();
}

bool EntryPipeline::HandOnOldest(bool wait, const Deliver& deliver) {
    std::unique_ptr<Batch> batch;
    {
        std::unique_lock lock(Mutex_);
        if (OnTheirWay_.empty())
            return false;
        if (wait)
            MadeOne_.wait(lock, [this] { return OnTheirWay_.front()->Done; });
        else if (!OnTheirWay_.front()->Done)
            return false;
        batch = std::move(OnTheirWay_.front());
        OnTheirWay_.pop_front();
        --NextToMake_;
    }
    // Every line of the batch is handed on; the first failure of a hand-over is thrown after.
    std::exception_ptr failure;
    auto error = batch->Errors.begin();
    for (std::size_t i = 0; i < batch->Lines.size(); ++i) {
        --Pending_;
        Made made;
        made.Mark = batch->Lines[i].Mark;
        if (error != batch->Errors.end() && error->first == i)
            made.Error = std::move((error++)->second);
        try {
            if (made.Error.empty()) {
                ApplyRevisitRule(batch->Made[i], Settings_);
                made.Entry = std::move(batch->Made[i].Entry);
            }
            deliver(made);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    batch->Bytes.clear();
    batch->Lines.clear();
    batch->Made.clear();
    batch->Errors.clear();
    batch->Done = false;
    Spare_.push_back(std::move(batch));
    if (failure)
        std::rethrow_exception(failure);
    return true;
}

} // namespace kavel
