#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace tallyfox {

// A path on disk is the bytes the kernel knows it by; a name need not be UTF-8. These cross
// between those bytes and the URLs the desktop takes without decoding them on the way.

// Every byte outside the unreserved set is percent-encoded, so no name is reinterpreted.
inline QUrl fileUrl(const QByteArray& path) {
  return QUrl::fromEncoded("file://" + QUrl::toPercentEncoding(path, "/"), QUrl::StrictMode);
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

// The folder that holds `path`; "/" for "/" itself.
inline QByteArray parentPath(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  if (slash <= 0) return QByteArrayLiteral("/");
  return path.left(slash);
}

}  // namespace tallyfox
