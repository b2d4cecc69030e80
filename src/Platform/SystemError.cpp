#include "Platform/SystemError.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "Platform/Localization.h"

namespace tolvane::platform {
namespace {

namespace fs = std::filesystem;

// The causes the desktop explains in words; the rest get the operation's plain sentence.
enum class Cause { noPermission, noSpace, tooLarge, readOnly, taken, missing, other };

Cause causeOf(int code, SystemError::Operation operation) {
  switch (code) {
    case EACCES:
    case EPERM:
      return Cause::noPermission;
    case ENOSPC:
    case EDQUOT:
      return Cause::noSpace;
    case EFBIG:
      return Cause::tooLarge;
    case EROFS:
      return Cause::readOnly;
    case EEXIST:
    case ENOTEMPTY:
      return Cause::taken;
    case ENOENT:
      return Cause::missing;
    case ENOTDIR:
      // A file where one of the folders to make belongs.
      return operation == SystemError::Operation::createFolder ? Cause::taken : Cause::other;
    default:
      return Cause::other;
  }
}

// The name a file manager shows for the item at `path`.
std::string displayName(const fs::path& path) {
  fs::path item = path.lexically_normal();
  if (item.filename().empty() && item.has_parent_path() && item != item.root_path())
    item = item.parent_path();
  std::string name = item.filename().string();
  if (!name.empty()) return name;
  return item.empty() ? std::string(".") : item.string();
}

std::string folderName(const fs::path& path) {
  fs::path item = path.lexically_normal();
  if (item.filename().empty() && item.has_parent_path()) item = item.parent_path();
  return displayName(item.parent_path());
}

// “name” and «name»: each language's own quotation marks.
std::string en(const std::string& name) { return "\u201c" + name + "\u201d"; }
std::string ru(const std::string& name) { return "\u00ab" + name + "\u00bb"; }

std::string saveSentence(Cause cause, const std::string& name, const std::string& folder) {
  switch (cause) {
    case Cause::noPermission:
      return localized(
          "You don\u2019t have permission to save the file " + en(name) + " in the folder " +
              en(folder) + ".",
          "У вас нет разрешения на сохранение файла " + ru(name) + " в папке " + ru(folder) + ".");
    case Cause::noSpace:
      return localized(
          "The file " + en(name) + " couldn\u2019t be saved because there isn\u2019t enough space.",
          "Не удалось сохранить файл " + ru(name) + ", так как недостаточно места.");
    case Cause::tooLarge:
      return localized("The file " + en(name) + " couldn\u2019t be saved because it is too large.",
                       "Не удалось сохранить файл " + ru(name) + ", так как он слишком большой.");
    case Cause::readOnly:
      return localized(
          "The file " + en(name) + " couldn\u2019t be saved because the volume is read only.",
          "Не удалось сохранить файл " + ru(name) + ", так как том доступен только для чтения.");
    case Cause::taken:
      return localized("The file " + en(name) + " couldn\u2019t be saved in the folder " +
                           en(folder) + " because a file with the same name already exists.",
                       "Не удалось сохранить файл " + ru(name) + " в папке " + ru(folder) +
                           ", так как файл с таким именем уже существует.");
    case Cause::missing:
      return localized("The folder " + en(folder) + " doesn\u2019t exist.",
                       "Папка " + ru(folder) + " не существует.");
    case Cause::other:
      break;
  }
  return localized(
      "The file " + en(name) + " couldn\u2019t be saved in the folder " + en(folder) + ".",
      "Не удалось сохранить файл " + ru(name) + " в папке " + ru(folder) + ".");
}

std::string readSentence(Cause cause, const std::string& name) {
  switch (cause) {
    case Cause::noPermission:
      return localized("The file " + en(name) +
                           " couldn\u2019t be opened because you don\u2019t have permission to "
                           "view it.",
                       "Не удалось открыть файл " + ru(name) +
                           ", так как у вас нет разрешения на его просмотр.");
    case Cause::missing:
      return localized(
          "The file " + en(name) + " couldn\u2019t be opened because there is no such file.",
          "Не удалось открыть файл " + ru(name) + ", так как такого файла нет.");
    default:
      break;
  }
  return localized("The file " + en(name) + " couldn\u2019t be opened.",
                   "Не удалось открыть файл " + ru(name) + ".");
}

std::string copySentence(Cause cause, const std::string& name, const std::string& to) {
  if (cause == Cause::taken) {
    return localized(en(name) + " couldn\u2019t be copied to " + en(to) +
                         " because an item with the same name already exists.",
                     "Не удалось скопировать " + ru(name) + " в " + ru(to) +
                         ", так как объект с таким именем уже существует.");
  }
  return localized(en(name) + " couldn\u2019t be copied to " + en(to) + ".",
                   "Не удалось скопировать " + ru(name) + " в " + ru(to) + ".");
}

std::string moveSentence(Cause cause, const std::string& name, const std::string& to) {
  switch (cause) {
    case Cause::taken:
      return localized(en(name) + " couldn\u2019t be moved to " + en(to) +
                           " because an item with the same name already exists.",
                       "Не удалось переместить " + ru(name) + " в " + ru(to) +
                           ", так как объект с таким именем уже существует.");
    case Cause::noPermission:
      return localized(en(name) +
                           " couldn\u2019t be moved because you don\u2019t have permission to "
                           "access " +
                           en(to) + ".",
                       "Не удалось переместить " + ru(name) +
                           ", так как у вас нет разрешения на доступ к " + ru(to) + ".");
    case Cause::missing:
      return localized(en(name) + " couldn\u2019t be moved because there is no such file.",
                       "Не удалось переместить " + ru(name) + ", так как такого файла нет.");
    default:
      break;
  }
  return localized(en(name) + " couldn\u2019t be moved to " + en(to) + ".",
                   "Не удалось переместить " + ru(name) + " в " + ru(to) + ".");
}

std::string removeSentence(Cause cause, const std::string& name) {
  switch (cause) {
    case Cause::noPermission:
      return localized(en(name) +
                           " couldn\u2019t be removed because you don\u2019t have permission to "
                           "access it.",
                       "Не удалось удалить " + ru(name) +
                           ", так как у вас нет разрешения на доступ к этому объекту.");
    case Cause::missing:
      return localized(en(name) + " couldn\u2019t be removed because there is no such file.",
                       "Не удалось удалить " + ru(name) + ", так как такого файла нет.");
    default:
      break;
  }
  return localized(en(name) + " couldn\u2019t be removed.", "Не удалось удалить " + ru(name) + ".");
}

std::string launchSentence(Cause cause, const std::string& name, const std::string& folder) {
  switch (cause) {
    case Cause::noPermission:
      return localized(
          "You don\u2019t have permission to run the file " + en(name) + " in the folder " +
              en(folder) + ".",
          "У вас нет разрешения на запуск файла " + ru(name) + " в папке " + ru(folder) + ".");
    case Cause::missing:
      return localized("The file " + en(name) + " doesn\u2019t exist.",
                       "Файл " + ru(name) + " не существует.");
    default:
      break;
  }
  return localized("The file " + en(name) + " couldn\u2019t be run.",
                   "Не удалось запустить файл " + ru(name) + ".");
}

const char* operationName(SystemError::Operation operation) {
  switch (operation) {
    case SystemError::Operation::createFolder:
      return "create folder";
    case SystemError::Operation::save:
      return "save";
    case SystemError::Operation::read:
      return "read";
    case SystemError::Operation::copy:
      return "copy";
    case SystemError::Operation::move:
      return "move";
    case SystemError::Operation::remove:
      return "remove";
    case SystemError::Operation::launch:
      return "launch";
  }
  return "";
}

}  // namespace

SystemError::SystemError(int code, Operation operation, std::optional<fs::path> path,
                         std::optional<fs::path> otherPath)
    : code_(code),
      operation_(operation),
      path_(std::move(path)),
      otherPath_(std::move(otherPath)) {}

SystemError SystemError::fromErrno(Operation operation, std::optional<fs::path> path,
                                   std::optional<fs::path> otherPath) {
  return SystemError(errno, operation, std::move(path), std::move(otherPath));
}

std::string SystemError::systemMessage(int code) {
  char buffer[256];
  // GNU strerror_r: returns either our buffer or a static string, never fails.
  return strerror_r(code, buffer, sizeof buffer);
}

std::string SystemError::localizedDescription() const {
  // Without an item to name there is nothing to say beyond the platform's generic text.
  if (!path_) return genericErrorDescription("NSPOSIXErrorDomain", code_);
  const Cause cause = causeOf(code_, operation_);
  const std::string name = displayName(*path_);
  // Where copy and move were to put the item: the destination's folder.
  const std::string destination = otherPath_ ? folderName(*otherPath_) : folderName(*path_);
  switch (operation_) {
    case Operation::createFolder:
    case Operation::save:
      return saveSentence(cause, name, folderName(*path_));
    case Operation::read:
      return readSentence(cause, name);
    case Operation::copy:
      return copySentence(cause, name, destination);
    case Operation::move:
      return moveSentence(cause, name, destination);
    case Operation::remove:
      return removeSentence(cause, name);
    case Operation::launch:
      return launchSentence(cause, name, folderName(*path_));
  }
  return genericErrorDescription("NSPOSIXErrorDomain", code_);
}

std::string SystemError::debugDescription() const {
  std::string text = std::string(operationName(operation_)) + ": " + systemMessage(code_);
  if (path_) {
    text += ": \"" + path_->string() + "\"";
    if (otherPath_) text += " -> \"" + otherPath_->string() + "\"";
  }
  return text;
}

}  // namespace tolvane::platform
