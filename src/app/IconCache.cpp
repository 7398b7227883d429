// The file-type icon cache of the application object: each type is asked of the desktop's icon
// theme once per run.

#include <QApplication>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStandardPaths>
#include <QStyle>

#include "app/BackupApp.h"

namespace corvane {

namespace {

std::string AfterLast(const std::string& text, const char* separators) {
    const auto at = text.find_last_of(separators);
    return at == std::string::npos ? text : text.substr(at + 1);
}

bool SameKey(const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

// Under a plain window manager no icon theme is named, and Qt looks only in hicolor, which
// holds no pictures of file types (under some platforms not even in the system's icon
// folders): the system's icon folders are searched, and an installed theme with such
// pictures is used.
bool UseAnInstalledThemeWhenNoneIsNamed() {
    const QString named = QIcon::themeName();
    if (!named.isEmpty() && named != QLatin1String("hicolor")) return false;
    QStringList folders = QIcon::themeSearchPaths();
    for (const QString& folder : QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                                          QStringLiteral("icons"), QStandardPaths::LocateDirectory))
        if (!folders.contains(folder)) folders.append(folder);
    QIcon::setThemeSearchPaths(folders);
    for (const char* theme : {"Adwaita", "breeze", "Tango", "gnome"})
        for (const QString& folder : folders)
            if (QFileInfo::exists(folder + QLatin1Char('/') + QLatin1String(theme) + QLatin1String("/index.theme"))) {
                QIcon::setThemeName(QLatin1String(theme));
                return true;
            }
    return false;
}

// The theme's icon for the MIME type the name suggests, else a plain file picture. A bare
// extension (".txt") stands for a file of that type.
QIcon DesktopIconFor(const std::string& path) {
    static const bool themed = UseAnInstalledThemeWhenNoneIsNamed();
    static_cast<void>(themed);
    QString name = QString::fromStdString(AfterLast(path, "\\/"));
    if (name.startsWith(QLatin1Char('.'))) name.prepend(QStringLiteral("file"));
    const QMimeType type = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    if (icon.isNull()) icon = QIcon::fromTheme(QStringLiteral("text-x-generic"));
    if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return icon;
}

}  // namespace

int CBackupApp::LookupFileIcon(std::string path) {
    // Shortcut files (".lnk") of the platform the backups may come from cannot be followed:
    // the backed-up file is not on disk. "lnk" keeps a key and an icon of its own.
    std::string key = AfterLast(path, ".");
    if (SameKey(key, "exe")) key = AfterLast(path, "\\/");
    for (std::size_t i = 0; i < iconKeys.size(); ++i)
        if (SameKey(iconKeys[i], key)) return iconImages[i];
    const int index = imageList.Add(DesktopIconFor(path));
    if (!key.empty()) {
        iconKeys.push_back(key);
        iconImages.push_back(index);
    }
    return index;
}

}  // namespace corvane
