#include "model/DeleteListExport.h"

#include "model/Background.h"
#include "model/BrowserModel.h"
#include "model/DeleteList.h"

#include <tallyfox/AtomicFile.h>
#include <tallyfox/SnapshotPaths.h>

#include <QPointer>

#include <exception>
#include <mutex>
#include <optional>

namespace tallyfox {

namespace {

// The length of the valid UTF-8 sequence at `at`, or 0 when the byte there starts none.
qsizetype utf8SequenceAt(const QByteArray& bytes, qsizetype at) {
  const auto byte = [&](qsizetype i) { return std::uint8_t(bytes[i]); };
  const std::uint8_t lead = byte(at);
  if (lead < 0x80) return 1;
  qsizetype length = 0;
  std::uint32_t min = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (bytes.size() - at < length) return 0;
  std::uint32_t code = lead & (0x7F >> length);
  for (qsizetype i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  // Overlong forms, surrogates and what lies beyond Unicode are not text either.
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

// Writes the mirror file in the thread pool, one write at a time and only the newest text:
// a burst of toggles costs one or two writes, and the main thread never waits for the disk.
struct DeleteListExport::Mirror {
  std::mutex lock;
  std::optional<std::pair<std::filesystem::path, QByteArray>> pending;
  bool running = false;

  void write(std::filesystem::path file, QByteArray text, const std::shared_ptr<Mirror>& self) {
    {
      std::lock_guard guard(lock);
      pending.emplace(std::move(file), std::move(text));
      if (running) return;
      running = true;
    }
    Background::detach([self] {
      for (;;) {
        std::pair<std::filesystem::path, QByteArray> next;
        {
          std::lock_guard guard(self->lock);
          if (!self->pending) {
            self->running = false;
            return;
          }
          next = std::move(*self->pending);
          self->pending.reset();
        }
        // The mirror is a courtesy to other tools: a home that cannot be written changes
        // nothing in the window.
        std::error_code ignored;
        std::filesystem::create_directories(next.first.parent_path(), ignored);
        try {
          writeFileAtomically(next.first, std::string_view(next.second.constData(), next.second.size()));
        } catch (const std::exception&) {
        }
      }
    });
  }
};

DeleteListExport::DeleteListExport(BrowserModel& browser, DeleteList& list)
    : QObject(&list), browser_(browser), list_(list), mirror_(std::make_shared<Mirror>()) {}

DeleteListExport::~DeleteListExport() = default;

std::filesystem::path DeleteListExport::deleteListFile() {
  const std::optional<std::string> data = PathText::dataHome();
  if (!data) return {};
  return std::filesystem::path(*data) / "tallyfox" / "delete-list.txt";
}

QByteArray DeleteListExport::listText() const {
  QByteArray text;
  for (const QByteArray& path : list_.markedFilePaths()) {
    if (path.contains('\n')) continue;
    text += path;
    text += '\n';
  }
  return text;
}

void DeleteListExport::writeMirror() {
  std::filesystem::path file = deleteListFile();
  if (file.empty()) return;
  mirror_->write(std::move(file), listText(), mirror_);
}

QString DeleteListExport::shellQuoted(const QByteArray& path) {
  QString words;
  QString quoted;
  const auto closeQuote = [&] {
    if (quoted.isNull()) return;
    words += QLatin1Char('\'') + quoted + QLatin1Char('\'');
    quoted = QString();
  };
  for (qsizetype at = 0; at < path.size();) {
    const qsizetype length = utf8SequenceAt(path, at);
    if (length == 0) {
      // A byte no text can hold: written as the shell's own escape, next to the quoted rest.
      closeQuote();
      words += QStringLiteral("$'\\x%1'").arg(std::uint8_t(path[at]), 2, 16, QLatin1Char('0'));
      ++at;
      continue;
    }
    if (quoted.isNull()) quoted = QLatin1String("");
    const QString piece = QString::fromUtf8(path.constData() + at, length);
    quoted += piece == QLatin1String("'") ? QStringLiteral("'\\''") : piece;
    at += length;
  }
  closeQuote();
  return words.isEmpty() ? QStringLiteral("''") : words;
}

void DeleteListExport::copyMarkedPaths(ListStyle style) {
  QString text;
  if (style == ListStyle::onePerLine) {
    text = list_.markedPaths().join(QLatin1Char('\n'));
  } else {
    QStringList words;
    for (const QByteArray& path : list_.markedFilePaths()) words << shellQuoted(path);
    text = words.join(QLatin1Char(' '));
  }
  if (const auto& clipboard = browser_.services().desktop.clipboard) clipboard->copyText(text);
}

void DeleteListExport::saveMarkedList() {
  const QPointer<DeleteListExport> self(this);
  auto request = std::make_shared<FileRequest>(FileRequest::Kind::save, [self](auto chosen) {
    if (!self || !chosen) return;
    // Written as the list is when the user confirms, not when the chooser opened.
    Background::run(
        self,
        [file = *chosen, text = self->listText()] {
          try {
            writeFileAtomically(file, std::string_view(text.constData(), text.size()));
            return QString();
          } catch (const std::exception& e) {
            return QString::fromLocal8Bit(e.what());
          }
        },
        [self](const QString& error) {
          if (!error.isEmpty())
            self->browser_.requests().alert(QStringLiteral("Couldn't save the delete list"), error);
        });
  });
  request->message = QStringLiteral("Save Delete List");
  request->proposedName = QStringLiteral("delete-list.txt");
  request->nameFilters = {QStringLiteral("Text files (*.txt)")};
  browser_.requests().ask(request);
}

}  // namespace tallyfox
