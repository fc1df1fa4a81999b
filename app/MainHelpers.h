#pragma once
// Small helpers shared by the main window's source files: text conversion between the
// program's byte strings and Qt, tree navigation, and a scope guard.
#include <QFileIconProvider>
#include <QString>
#include <QTreeWidgetItem>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

namespace th {

inline constexpr int kImageRole = Qt::UserRole;
inline constexpr int kSelectedImageRole = Qt::UserRole + 1;

// Runs `fn` when the scope ends, also when an error leaves it.
template <typename F> class AtExit {
public:
    explicit AtExit(F fn) : fn_(std::move(fn)) {}
    ~AtExit() { fn_(); }
    AtExit(const AtExit&) = delete;
    AtExit& operator=(const AtExit&) = delete;

private:
    F fn_;
};

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}
inline std::string S(const QString& text) {
    return text.toStdString();
}

inline int Level(const QTreeWidgetItem* node) {
    int level = 0;
    for (const QTreeWidgetItem* p = node->parent(); p; p = p->parent())
        ++level;
    return level;
}

inline bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

inline bool IsDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

// The node after `node` in tree order: its first child, else its next sibling, else the
// next sibling of the nearest ancestor that has one.
inline QTreeWidgetItem* NextInTree(QTreeWidgetItem* node) {
    if (node->childCount() > 0)
        return node->child(0);
    for (QTreeWidgetItem* n = node; n; n = n->parent()) {
        QTreeWidgetItem* parent = n->parent();
        if (!parent)
            return nullptr;
        const int i = parent->indexOfChild(n);
        if (i + 1 < parent->childCount())
            return parent->child(i + 1);
    }
    return nullptr;
}

inline QFileIconProvider& IconProvider() {
    static QFileIconProvider provider;
    return provider;
}

} // namespace th
