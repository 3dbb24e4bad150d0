#include "ui/PassThroughLayout.h"

namespace kavel::ui {

void PassThroughLayout::Remember(const QAbstractProxyModel& proxy, const QModelIndexList& persistent) {
    From_ = persistent;
    Sources_.clear();
    Sources_.reserve(static_cast<std::size_t>(persistent.size()));
    for (const QModelIndex& index : persistent)
        Sources_.emplace_back(proxy.mapToSource(index));
    Pending_ = true;
}

std::pair<QModelIndexList, QModelIndexList> PassThroughLayout::Moved(const QAbstractProxyModel& proxy) {
    QModelIndexList to;
    to.reserve(From_.size());
    for (qsizetype i = 0; i < From_.size(); ++i) {
        const QPersistentModelIndex& source = Sources_[static_cast<std::size_t>(i)];
        to.push_back(source.isValid() ? proxy.index(source.row(), From_[i].column()) : QModelIndex());
    }
    Pending_ = false;
    Sources_.clear();
    return {std::exchange(From_, {}), to};
}

} // namespace kavel::ui
