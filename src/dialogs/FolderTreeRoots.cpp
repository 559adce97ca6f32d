#include "dialogs/FolderTreeRoots.h"

#include <unistd.h>

#include <QStandardPaths>

#include "dialogs/ByteText.h"
#include "dialogs/FileUtil.h"
#include "dialogs/FolderListing.h"
#include "dialogs/FolderOrder.h"
#include "platform/Environment.h"
#include "platform/PathText.h"
#include "platform/PseudoFileSystems.h"
#include "platform/WinePaths.h"

namespace {

QString baseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return fromBytes(path.substr(slash == std::string::npos ? 0 : slash + 1));
}

}  // namespace

FolderRootSources FolderRootSources::current() {
  FolderRootSources sources;
  sources.home = StripTrailingBackslash(homeFolder());
  for (const auto location :
       {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
        QStandardPaths::DownloadLocation, QStandardPaths::MusicLocation,
        QStandardPaths::PicturesLocation, QStandardPaths::MoviesLocation,
        QStandardPaths::PublicShareLocation, QStandardPaths::TemplatesLocation}) {
    const QString folder = QStandardPaths::writableLocation(location);
    if (!folder.isEmpty()) sources.userFolders.push_back(toBytes(folder));
  }
  const std::string login = loginName();
  // Without a login name these would list every user's disks, or none.
  if (!login.empty() && login.find('/') == std::string::npos) {
    sources.diskParents.push_back("/media/" + login);
    sources.diskParents.push_back("/run/media/" + login);
  }
  sources.diskParents.push_back("/mnt");
  return sources;
}

std::vector<FolderRoot> folderTreeRoots(const FolderRootSources& sources) {
  std::vector<FolderRoot> roots;
  auto add = [&roots](std::string path, QString label, FolderRoot::Kind kind) {
    path = StripTrailingBackslash(path);
    if (path.empty() || path.front() != '/' || !IsExistingFolder(path)) return;
    // A hand-edited user-dirs.dirs may name "/" itself, which has no name to show.
    if (label.isEmpty()) return;
    for (const FolderRoot& root : roots)
      if (root.path == path) return;
    roots.push_back({path, label, kind});
  };

  add(sources.home, QStringLiteral("Carpeta personal"), FolderRoot::Kind::Home);
  for (const std::string& folder : sources.userFolders)
    add(folder, baseName(StripTrailingBackslash(folder)), FolderRoot::Kind::UserFolder);

  PseudoFileSystems pseudo;
  for (const std::string& parent : sources.diskParents) {
    std::vector<std::string> disks =
        listSubfolders(parent, false, pseudo).value_or(std::vector<std::string>{});
    sortByDisplayName(disks);
    for (const std::string& disk : disks)
      add(joinPath(parent, disk), fromBytes(disk), FolderRoot::Kind::Disk);
  }

  add("/", QStringLiteral("Sistema de archivos"), FolderRoot::Kind::FileSystem);
  return roots;
}
