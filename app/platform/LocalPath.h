#pragma once

#include <tallyfox/SnapshotPaths.h>

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <sys/stat.h>

namespace tallyfox {

// A path on disk is the bytes the kernel knows it by; a name need not be UTF-8. These cross
// between those bytes and the URLs the desktop takes without decoding them on the way.

// Something is there, even a dangling symbolic link: what a file manager shows and what
// would go to the Trash.
inline bool existsOnDisk(const QByteArray& path) {
  struct stat st {};
  return ::lstat(path.constData(), &st) == 0;
}

// The file URI as the desktop's URI lists carry it: every byte outside the unreserved set is
// percent-encoded. Built as bytes: QUrl turns bytes that are not UTF-8 into U+FFFD.
inline QByteArray fileUri(const QByteArray& path) {
  return "file://" + path.toPercentEncoding("/");
}

// A QUrl for Qt's own use; exact only for names that are UTF-8.
inline QUrl fileUrl(const QByteArray& path) {
  return QUrl::fromEncoded(fileUri(path), QUrl::StrictMode);
}

// The exact bytes of a file URL's path (empty for anything that is not a local file).
inline QByteArray localPath(const QUrl& url) {
  if (!url.isLocalFile()) return {};
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

// For showing only: bytes that are not UTF-8 become replacement characters.
inline QString displayPath(const QByteArray& path) {
  return QString::fromUtf8(path);
}

// The name a path ends in, for showing; "/" for the root.
inline QString displayLastComponent(const QByteArray& path) {
  return displayPath(QByteArray::fromStdString(PathText::lastComponent(path.toStdString())));
}

// The folder that holds `path`; "/" for "/" itself.
inline QByteArray parentPath(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  if (slash <= 0) return QByteArrayLiteral("/");
  return path.left(slash);
}

}  // namespace tallyfox
