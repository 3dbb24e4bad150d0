#pragma once

#include "acquisition/Server.h"
#include "ui/Icon.h"

#include <QPoint>
#include <QString>
#include <QTreeWidget>
#include <QTreeWidgetItem>

namespace kavel::ui {

// Roles of a node's two images (Icon values), for whoever wants to know without looking at
// the pictures.
inline constexpr int NodeImageRole = Qt::UserRole + 10;
inline constexpr int NodeSelectedImageRole = Qt::UserRole + 11;

// One node of the server tree: the root "Alle Webserver" (no server) or a server's node,
// which the server reaches as its ServerNode. Each node has an image and a separate image
// shown while it is selected.
class ServerTreeItem final : public QTreeWidgetItem, public ServerNode {
public:
    explicit ServerTreeItem(Server* server);

    Server* ServerRef() const { return Server_; }
    // The server's SetActive: the image changes, the selected image stays.
    void SetServerStatus(ServerStatus status) override;
    void SetImages(Icon image, Icon selectedImage);
    Icon Image() const { return Image_; }
    Icon SelectedImage() const { return SelectedImage_; }
    // Forgets the server (the node is about to go, or the server is).
    void DetachServer() { Server_ = nullptr; }
    // Whether the node shows its server's count, since new entries arrived.
    bool ShowsCount() const { return ShowsCount_; }
    void SetShowsCount(bool shows) { ShowsCount_ = shows; }

    // Locale-aware order of the node texts.
    bool operator<(const QTreeWidgetItem& other) const override;
    // The node's whole text as its tip (a long name is cut at the tree's edge), never markup.
    QVariant data(int column, int role) const override;

private:
    void ApplyIcon();

    Server* Server_;
    Icon Image_ = Icon::None;
    Icon SelectedImage_ = Icon::None;
    bool ShowsCount_ = false;
};

// TreeViewServers. A press selects the node under the mouse (or nothing) before
// NodePressed tells the window; moving to another node by keyboard reports a left press on it
// (without a position). Finishing an in-place edit reports NodeEdited, whether or not the text
// changed.
class ServerTreeView final : public QTreeWidget {
    Q_OBJECT

public:
    explicit ServerTreeView(QWidget* parent = nullptr);
    ~ServerTreeView() override;

    // Empties the tree and adds the root node "Alle Webserver".
    void Rebuild();
    // Removes every node; the servers forget their nodes.
    void ClearNodes();
    ServerTreeItem* Root() const;
    // A node for the server under the root (image 1/3 when active, 29 when not), the whole
    // tree sorted and expanded afterwards; with sort false the caller sorts once when all
    // nodes are in (thousands of servers loaded at the start).
    ServerTreeItem* AddServerNode(Server& server, bool sort = true);
    void RemoveServerNode(Server& server);
    ServerTreeItem* NodeOf(const Server& server) const;
    // Bold, with the text "%s (%d)" of the name and the server's QueueCount.
    void MarkServerNodeNew(Server& server);
    // A node that shows its server's count shows the count of now (entries left the queue);
    // its bold state stays.
    void UpdateServerCount(Server& server);
    static void SetNodeBold(QTreeWidgetItem* node, bool bold);
    static bool NodeBold(const QTreeWidgetItem* node);
    // Sorts every level by the locale's comparison of the node texts and expands all.
    void SortNodes();

    ServerTreeItem* SelectedNode() const;
    Server* SelectedServer() const;
    // Makes the node the selected one (none: no selection).
    void SelectNode(QTreeWidgetItem* node);
    // Where a context menu asked for by the keyboard opens: below the current node, or at the
    // top of the tree (global coordinates).
    QPoint ContextMenuPosition() const;

Q_SIGNALS:
    void NodePressed(Qt::MouseButton button, QPoint globalPosition);
    void NodeEdited(QTreeWidgetItem* node, const QString& text);
    // Shift+F10 or the menu key: the tree's context menu, at ContextMenuPosition.
    void ContextMenuRequested(QPoint globalPosition);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};

} // namespace kavel::ui
