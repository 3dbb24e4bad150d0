#pragma once

#include <QAbstractProxyModel>
#include <QModelIndexList>
#include <QPersistentModelIndex>
#include <utility>
#include <vector>

namespace kavel::ui {

// A source's layout change handed on by a proxy whose rows are the source's own rows: the
// proxy's persistent indexes (the selection, the current row, a held view's top row) follow
// their source rows instead of being lost to a reset.
class PassThroughLayout {
public:
    // Before the source's change: the proxy's persistent indexes and the source rows they show.
    void Remember(const QAbstractProxyModel& proxy, const QModelIndexList& persistent);
    // After it: the remembered indexes and where their rows are now (invalid when a row went).
    std::pair<QModelIndexList, QModelIndexList> Moved(const QAbstractProxyModel& proxy);
    // Remember was called and Moved not yet.
    bool Pending() const { return Pending_; }

private:
    bool Pending_ = false;
    QModelIndexList From_;
    std::vector<QPersistentModelIndex> Sources_;
};

} // namespace kavel::ui
