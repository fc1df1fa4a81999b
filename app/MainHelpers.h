#pragma once
// Small helpers shared by the main window's source files: text conversion between the
// program's byte strings and Qt, tree navigation, and a scope guard.
#include <QByteArray>
#include <QFile>
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
// A tree node's name as the file system gives it (bytes); its text is only for display.
inline constexpr int kRawNameRole = Qt::UserRole + 2;

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

// Names and paths are shown the way the system decodes file names (on Windows the platform
// layer hands over UTF-8 made from the system's UTF-16 names). A name that does not decode
// cleanly is shown with replacement characters, so file operations use the bytes themselves
// (kRawNameRole), never a text turned back into bytes.
inline QString Q(const std::string& text) {
#ifdef _WIN32
    return QString::fromStdString(text);
#else
    return QFile::decodeName(QByteArray::fromStdString(text));
#endif
}
inline std::string S(const QString& text) {
#ifdef _WIN32
    return text.toStdString();
#else
    return QFile::encodeName(text).toStdString();
#endif
}

inline void SetRawName(QTreeWidgetItem* node, const std::string& name) {
    node->setData(0, kRawNameRole, QByteArray::fromStdString(name));
}
inline std::string RawName(const QTreeWidgetItem* node) {
    const QVariant raw = node->data(0, kRawNameRole);
    return raw.isValid() ? raw.toByteArray().toStdString() : S(node->text(0));
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

// A drive's text: its root path without backslashes, upper-cased ("e:\\" -> "E:").
inline std::string DriveText(const std::string& rootPath) {
    std::string text;
    for (char c : rootPath)
        if (c != '\\')
            text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

inline bool IsDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

inline QFileIconProvider& IconProvider() {
    static QFileIconProvider provider;
    return provider;
}

} // namespace th
