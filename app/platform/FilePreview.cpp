#include "platform/FilePreview.h"

#include "platform/LocalPath.h"

#include <QFile>
#include <QImageReader>
#include <QMimeDatabase>
#include <QSize>
#include <QStringDecoder>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace tallyfox {

namespace {

constexpr qint64 textPreviewBytes = 64 * 1024;
const QSize largestPicture(900, 700);

// Opened by its bytes: QFile would take the name as text and miss a name that is not UTF-8.
bool openByBytes(const QByteArray& path, QFile& file) {
  const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return false;
  }
  return true;
}

bool isRegularFile(const QByteArray& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::path(path.toStdString()), error);
}

std::optional<QImage> pictureOf(const QByteArray& path) {
  QFile file;
  if (!isRegularFile(path) || !openByBytes(path, file)) return std::nullopt;
  QImageReader reader(&file);
  if (!reader.canRead()) return std::nullopt;
  QSize size = reader.size();
  if (size.isValid() && (size.width() > largestPicture.width() || size.height() > largestPicture.height())) {
    size.scale(largestPicture, Qt::KeepAspectRatio);
    reader.setScaledSize(size);
  }
  QImage picture = reader.read();
  if (picture.isNull()) return std::nullopt;
  return picture;
}

std::optional<QString> textOf(const QByteArray& path) {
  QFile file;
  if (!isRegularFile(path) || !openByBytes(path, file)) return std::nullopt;
  const QByteArray head = file.read(textPreviewBytes);
  if (head.contains('\0')) return std::nullopt;
  QStringDecoder decoder(QStringDecoder::Utf8);
  QString text = decoder.decode(head);
  // A cut in the middle of a character is fine; bytes that are not UTF-8 anywhere else are not.
  if (decoder.hasError() && head.size() < textPreviewBytes) return std::nullopt;
  if (file.size() > textPreviewBytes) text += QStringLiteral("\n…");
  return text;
}

void readFacts(const QByteArray& path, FilePreview& preview) {
  const std::filesystem::path onDisk(path.toStdString());
  std::error_code error;
  const auto status = std::filesystem::symlink_status(onDisk, error);
  const QString name = displayLastComponent(path);
  if (std::filesystem::is_symlink(status)) {
    const auto target = std::filesystem::read_symlink(onDisk, error);
    preview.description =
        QStringLiteral("Symbolic link to ") + displayPath(QByteArray::fromStdString(target.native()));
  } else if (std::filesystem::is_directory(status)) {
    preview.description = QStringLiteral("Folder");
  } else {
    QFile file;
    const bool readable = std::filesystem::is_regular_file(status) && openByBytes(path, file);
    preview.description = (readable ? QMimeDatabase().mimeTypeForFileNameAndData(name, &file)
                                    : QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension))
                              .comment();
  }
  if (std::filesystem::is_regular_file(status)) {
    const auto size = std::filesystem::file_size(onDisk, error);
    if (!error) preview.size = std::uint64_t(size);
  }
  struct stat facts {};
  if (::lstat(path.constData(), &facts) == 0)
    preview.modified = QDateTime::fromSecsSinceEpoch(facts.st_mtim.tv_sec);
}

}  // namespace

FilePreview FilePreview::read(const QByteArray& path) {
  FilePreview preview;
  if (auto picture = pictureOf(path)) {
    preview.kind = Kind::image;
    preview.image = std::move(*picture);
  } else if (auto text = textOf(path)) {
    preview.kind = Kind::text;
    preview.text = std::move(*text);
  } else {
    readFacts(path, preview);
  }
  return preview;
}

}  // namespace tallyfox
