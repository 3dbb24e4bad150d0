#include "ui/ServerTree.h"

#include "ui/DisplayText.h"
#include "ui/IconSet.h"

#include <QCollator>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <algorithm>

namespace kavel::ui {
namespace {

const QString RootText = QStringLiteral("Alle Webserver");

QIcon NodeIcon(Icon image, Icon selectedImage) {
    QIcon icon;
    if (image == Icon::None)
        return icon;
    const Icon selected = selectedImage == Icon::None ? image : selectedImage;
    for (const int size : {16, 32}) {
        icon.addPixmap(IconFor(image).pixmap(size, size), QIcon::Normal);
        icon.addPixmap(IconFor(selected).pixmap(size, size), QIcon::Selected);
    }
    return icon;
}

QString ServerName(const Server& server) {
    return DisplayText(server.Name());
}

// Reports the end of every in-place edit to the tree, also when the text stayed the same.
class NodeEditDelegate final : public QStyledItemDelegate {
public:
    explicit NodeEditDelegate(ServerTreeView* tree)
        : QStyledItemDelegate(tree)
        , Tree_(tree) {}

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
        QStyledItemDelegate::setModelData(editor, model, index);
        const auto* line = qobject_cast<QLineEdit*>(editor);
        QTreeWidgetItem* node = Tree_->itemFromIndex(index);
        if (line != nullptr && node != nullptr)
            Q_EMIT Tree_->NodeEdited(node, line->text());
    }

private:
    ServerTreeView* Tree_;
};

} // namespace

ServerTreeItem::ServerTreeItem(Server* server)
    : Server_(server) {
    setFlags(flags() | Qt::ItemIsEditable);
    if (server == nullptr) {
        setText(0, RootText);
        SetImages(Icon::AllServers, Icon::AllServers);
    } else {
        setText(0, ServerName(*server));
        const auto [image, selectedImage] =
            NodeIconsOf(server->Active() ? ServerStatus::Idle : ServerStatus::Paused);
        SetImages(image, selectedImage);
    }
}

void ServerTreeItem::SetServerStatus(ServerStatus status) {
    Image_ = NodeIconsOf(status).first;
    ApplyIcon();
}

void ServerTreeItem::SetImages(Icon image, Icon selectedImage) {
    Image_ = image;
    SelectedImage_ = selectedImage;
    ApplyIcon();
}

void ServerTreeItem::ApplyIcon() {
    setIcon(0, NodeIcon(Image_, SelectedImage_));
    setData(0, NodeImageRole, IconIndex(Image_));
    setData(0, NodeSelectedImageRole, IconIndex(SelectedImage_));
}

bool ServerTreeItem::operator<(const QTreeWidgetItem& other) const {
    static const QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator.compare(text(0), other.text(0)) < 0;
}

QVariant ServerTreeItem::data(int column, int role) const {
    if (role == Qt::ToolTipRole && column == 0)
        return ToolTipText(text(0));
    return QTreeWidgetItem::data(column, role);
}

ServerTreeView::ServerTreeView(QWidget* parent)
    : QTreeWidget(parent) {
    setObjectName(QStringLiteral("TreeViewServers"));
    setColumnCount(1);
    header()->hide();
    setIndentation(19);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setItemDelegate(new NodeEditDelegate(this));
    setIconSize(QSize(16, 16));
    setTextElideMode(Qt::ElideRight);
    // The one column is as wide as the tree: a long name is cut at its end, never scrolled.
    header()->setStretchLastSection(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

ServerTreeView::~ServerTreeView() {
    ClearNodes();
}

void ServerTreeView::ClearNodes() {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = topLevelItem(i);
        for (int j = 0; j < top->childCount(); ++j) {
            auto* node = dynamic_cast<ServerTreeItem*>(top->child(j));
            if (node != nullptr && node->ServerRef() != nullptr) {
                if (node->ServerRef()->TreeNode() == node)
                    node->ServerRef()->SetTreeNode(nullptr);
                node->DetachServer();
            }
        }
    }
    clear();
}

void ServerTreeView::Rebuild() {
    ClearNodes();
    addTopLevelItem(new ServerTreeItem(nullptr));
}

ServerTreeItem* ServerTreeView::Root() const {
    return topLevelItemCount() > 0 ? dynamic_cast<ServerTreeItem*>(topLevelItem(0)) : nullptr;
}

ServerTreeItem* ServerTreeView::AddServerNode(Server& server, bool sort) {
    if (Root() == nullptr)
        Rebuild();
    auto* node = new ServerTreeItem(&server);
    Root()->addChild(node);
    server.SetTreeNode(node);
    if (sort)
        SortNodes();
    return node;
}

void ServerTreeView::RemoveServerNode(Server& server) {
    ServerTreeItem* node = NodeOf(server);
    if (node == nullptr)
        return;
    server.SetTreeNode(nullptr);
    node->DetachServer();
    delete node;
}

ServerTreeItem* ServerTreeView::NodeOf(const Server& server) const {
    return dynamic_cast<ServerTreeItem*>(server.TreeNode());
}

void ServerTreeView::MarkServerNodeNew(Server& server) {
    ServerTreeItem* node = NodeOf(server);
    if (node == nullptr)
        return;
    SetNodeBold(node, true);
    node->SetShowsCount(true);
    node->setText(0, QStringLiteral("%1 (%2)").arg(ServerName(server)).arg(server.QueueCount()));
    viewport()->update();
}

void ServerTreeView::UpdateServerCount(Server& server) {
    ServerTreeItem* node = NodeOf(server);
    if (node == nullptr || !node->ShowsCount())
        return;
    node->setText(0, QStringLiteral("%1 (%2)").arg(ServerName(server)).arg(server.QueueCount()));
}

void ServerTreeView::SetNodeBold(QTreeWidgetItem* node, bool bold) {
    if (node == nullptr)
        return;
    QFont font = node->font(0);
    if (font.bold() == bold)
        return;
    font.setBold(bold);
    node->setFont(0, font);
}

bool ServerTreeView::NodeBold(const QTreeWidgetItem* node) {
    return node != nullptr && node->font(0).bold();
}

void ServerTreeView::SortNodes() {
    sortItems(0, Qt::AscendingOrder);
    expandAll();
}

ServerTreeItem* ServerTreeView::SelectedNode() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? nullptr : dynamic_cast<ServerTreeItem*>(selected.front());
}

Server* ServerTreeView::SelectedServer() const {
    ServerTreeItem* node = SelectedNode();
    return node != nullptr ? node->ServerRef() : nullptr;
}

void ServerTreeView::SelectNode(QTreeWidgetItem* node) {
    if (node == nullptr) {
        clearSelection();
        setCurrentItem(nullptr);
        return;
    }
    setCurrentItem(node);
    node->setSelected(true);
}

QPoint ServerTreeView::ContextMenuPosition() const {
    QTreeWidgetItem* node = currentItem();
    if (node == nullptr)
        node = SelectedNode();
    const QRect rect = node != nullptr ? visualItemRect(node) : QRect();
    if (!rect.isValid() || !viewport()->rect().intersects(rect))
        return viewport()->mapToGlobal(QPoint(0, 0));
    const int x = std::clamp(rect.left(), 0, std::max(viewport()->width() - 1, 0));
    return viewport()->mapToGlobal(QPoint(x, rect.bottom()));
}

void ServerTreeView::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((event->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier) ||
        (event->key() == Qt::Key_Menu && modifiers == Qt::NoModifier)) {
        Q_EMIT ContextMenuRequested(ContextMenuPosition());
        event->accept();
        return;
    }
    const QTreeWidgetItem* before = currentItem();
    QTreeWidget::keyPressEvent(event);
    // Moving to another node by keyboard is what a click on it would be.
    if (currentItem() != before && currentItem() != nullptr && currentItem()->isSelected())
        Q_EMIT NodePressed(Qt::LeftButton, QPoint());
}

void ServerTreeView::contextMenuEvent(QContextMenuEvent* event) {
    // A right click already opened the menu with its press; the keyboard asks here.
    if (event->reason() == QContextMenuEvent::Keyboard)
        Q_EMIT ContextMenuRequested(ContextMenuPosition());
    event->accept();
}

void ServerTreeView::mousePressEvent(QMouseEvent* event) {
    QTreeWidget::mousePressEvent(event);
    QTreeWidgetItem* node = itemAt(event->position().toPoint());
    if (node == nullptr || !node->isSelected())
        SelectNode(node);
    Q_EMIT NodePressed(event->button(), event->globalPosition().toPoint());
}

} // namespace kavel::ui
