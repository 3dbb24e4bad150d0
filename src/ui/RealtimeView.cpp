#include "ui/RealtimeView.h"

#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "acquisition/Workspace.h"
#include "base/LineBlocks.h"
#include "base/Text.h"
#include "config/AppSettings.h"
#include "platform/Clock.h"
#include "ui/AccessLists.h"

#include <QApplication>
#include <QToolTip>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kavel::ui {

RealtimeView::RealtimeView(AccessLists& lists, QObject* timerParent)
    : Lists_(lists)
    , Timer_(timerParent) {
    Timer_.setObjectName(QStringLiteral("TimerRealtimeMode"));
    Timer_.setSingleShot(true);
    QObject::connect(&Timer_, &QTimer::timeout, &Timer_, [this] { DropExpiredRows(); });
}

void RealtimeView::SetViews(QWidget* log, QWidget* exceptions) {
    LogView_ = log;
    ExceptionsView_ = exceptions;
}

void RealtimeView::MarkViews(bool realtime) {
    for (QWidget* view : {LogView_, ExceptionsView_}) {
        if (view == nullptr)
            continue;
        QPalette palette = view->palette();
        const QColor base = realtime ? QToolTip::palette().color(QPalette::ToolTipBase)
                                     : QApplication::palette(view).color(QPalette::Base);
        if (palette.color(QPalette::Base) == base)
            continue;
        palette.setColor(QPalette::Base, base);
        view->setPalette(palette);
    }
}

std::int32_t RealtimeView::WindowMinutes() const {
    if (const Server* current = Lists_.CurrentServer())
        return current->TimeRevisitorAfterMinutes();
    std::int32_t minutes = OptionTimeRevisitorAfterMinutes(Lists_.Space().Options());
    for (const auto& server : Lists_.Space().Servers())
        minutes = std::min(minutes, server->TimeRevisitorAfterMinutes());
    return minutes;
}

void RealtimeView::Build() {
    const std::uint64_t stamp = Lists_.NewUpdate();
    MarkViews(true);
    const std::int32_t window = WindowMinutes();
    const DateTime now = platform::Now();
    bool changed = false;
    DateTime oldest = now;
    Timer_.stop();
    std::vector<LogEntry*> set;
    // Newest document access per host among the entries walked so far (all newer than the
    // current one), so that each entry asks one look-up instead of walking the newer ones.
    // Keys are copies: the lines they were read from need not stay readable.
    std::unordered_map<std::string, std::int64_t, TextHash, std::equal_to<>> latestDocument;
    LinePin pin;
    const Server* current = Lists_.CurrentServer();
    EntryQueue& queue = Lists_.Space().Entries();
    for (LogEntry* entry = queue.Last(); entry != nullptr; entry = queue.Prev(entry)) {
        if (Lists_.UpdateStamp() != stamp)
            break;
        const std::int64_t age = WholeMinutesBetween(entry->Time, now);
        const AccessRecord* access = entry->Access();
        if (window <= age) {
            if (Hooks_.MarkUseMeter)
                Hooks_.MarkUseMeter(entry->Time, true);
            entry->DisplayState = DisplayState::Hidden;
        } else {
            bool laterVisit = false;
            if (access != nullptr) {
                pin.Reach(*entry);
                const auto found = latestDocument.find(access->HostName());
                laterVisit = found != latestDocument.end() && found->second >= entry->Time.Ms;
            }
            if (!laterVisit && (current == nullptr || entry->Server == current)) {
                changed = true;
                set.push_back(entry);
                oldest = std::min(oldest, entry->Time);
            }
        }
        if (access != nullptr && access->IsDocument) {
            pin.Reach(*entry);
            const std::string_view host = access->HostName();
            if (const auto found = latestDocument.find(host); found != latestDocument.end())
                found->second = std::max(found->second, entry->Time.Ms);
            else
                latestDocument.emplace(std::string(host), entry->Time.Ms);
        }
    }
    Apply(std::move(set));
    if (changed) {
        const std::int64_t rest =
            std::int64_t{window} * 60 - (std::max(now.Ms - oldest.Ms, std::int64_t{0}) / MsPerSecond);
        Timer_.setInterval(static_cast<int>(std::clamp<std::int64_t>(rest, 1, 24 * 3600) * 1000));
        Timer_.start();
    }
}

bool RealtimeView::Apply(std::vector<LogEntry*> set) {
    if (set == Rows_)
        return false;
    Rows_ = set;
    Applying_ = std::move(set);
    Lists_.ClearLists();
    // The lists keep their rows in time order; handing the set over oldest first appends each
    // row instead of moving every row before it. The list shows the set's order all the same.
    for (auto entry = Applying_.rbegin(); entry != Applying_.rend(); ++entry)
        Lists_.AddEntryToLists(**entry, RowPlacement::End);
    Applying_.clear();
    Lists_.Publish();
    return true;
}

void RealtimeView::Forget(const LogEntry& entry) {
    const auto drop = [&entry](std::vector<LogEntry*>& entries) {
        entries.erase(std::remove(entries.begin(), entries.end(), &entry), entries.end());
    };
    drop(Rows_);
    drop(Applying_);
}

void RealtimeView::DropExpiredRows() {
    Timer_.stop();
    if (!Hooks_.Enabled || !Hooks_.Enabled())
        return;
    const DateTime now = platform::Now();
    AccessListModel& log = Lists_.Log();
    for (int row = static_cast<int>(log.rowCount()) - 1; row >= 0; --row) {
        const LogEntry* entry = log.EntryAt(row);
        if (entry == nullptr || entry->Server == nullptr)
            continue;
        if (WholeMinutesBetween(entry->Time, now) >= entry->Server->TimeRevisitorAfterMinutes())
            log.RemoveRow(row);
    }
}

} // namespace kavel::ui
