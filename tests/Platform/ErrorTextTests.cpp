#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <ostream>
#include <string>

#include "Platform/DecodingError.h"
#include "Platform/ProcessTerminationError.h"
#include "Platform/SystemError.h"
#include "Platform/URLError.h"
#include "Support/TemporaryHome.h"

// The platform's own texts, which the alert shows after the catalogue's Russian prefix: the
// desktop's sentence in the user's language, the English ones unchanged.
namespace tolvane::platform {
namespace {

using Operation = SystemError::Operation;

struct TextRow {
  const char* name = "";
  friend void PrintTo(const TextRow& row, std::ostream* out) { *out << row.name; }
  std::function<std::string()> text;
  std::string english;
  std::string russian;
};

template <typename E>
std::function<std::string()> textOf(E error) {
  return [error] { return error.localizedDescription(); };
}

std::function<std::string()> fileError(int code, Operation operation, const char* path,
                                       const char* otherPath = nullptr) {
  if (otherPath == nullptr) return textOf(SystemError(code, operation, path));
  return textOf(SystemError(code, operation, path, otherPath));
}

class ErrorTextTest : public testing::TestWithParam<TextRow> {
 protected:
  test::TemporaryHome home_;
};

TEST_P(ErrorTextTest, FollowsTheUsersLanguage) {
  home_.setEnvironment("LANG", "en_GB.UTF-8");
  EXPECT_EQ(GetParam().text(), GetParam().english);
  home_.setEnvironment("LANG", "ru_RU.UTF-8");
  EXPECT_EQ(GetParam().text(), GetParam().russian);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ErrorTextTest,
    testing::Values(
        TextRow{"GenericText",
                [] { return genericErrorDescription("Tolvane_Apple_Silicon.ResourceError", 5); },
                "The operation couldn’t be completed. (Tolvane_Apple_Silicon.ResourceError error "
                "5.)",
                "Не удалось завершить операцию. (Tolvane_Apple_Silicon.ResourceError, ошибка 5.)"},
        TextRow{"ConnectionRefused", textOf(URLError(URLError::cannotConnectToHost)),
                "Could not connect to the server.", "Не удалось подключиться к серверу."},
        TextRow{"DownloadFileNamesTheFileAndFolder",
                textOf(URLError(URLError::cannotCreateFile, std::nullopt, std::nullopt,
                                "Permission denied",
                                makeError(SystemError(EACCES, Operation::save,
                                                      "/home/a/Tolvane/.partial/Tolvane.jar")))),
                "You don’t have permission to save the file “Tolvane.jar” in the folder "
                "“.partial”.",
                "У вас нет разрешения на сохранение файла «Tolvane.jar» в папке «.partial»."},
        TextRow{"DownloadFileWithoutCause", textOf(URLError(URLError::cannotWriteToFile)),
                "The file could not be written.", "Не удалось записать файл."},
        TextRow{"DecodingMissingKey",
                textOf(DecodingError(DecodingError::Kind::keyNotFound, "hash")),
                "The data couldn’t be read because it is missing.",
                "Не удалось прочитать данные, так как они отсутствуют."},
        TextRow{
            "ProcessExitStatus",
            textOf(ProcessTerminationError("/usr/bin/unzip", {TerminationStatus::Reason::exit, 9})),
            "\"/usr/bin/unzip\" ended with exit status 9",
            "Процесс «/usr/bin/unzip» завершился с кодом 9"},
        TextRow{"ProcessKilled",
                textOf(ProcessTerminationError("/usr/bin/unzip",
                                               {TerminationStatus::Reason::uncaughtSignal, 9})),
                "\"/usr/bin/unzip\" ended with signal 9 (Killed)",
                "Процесс «/usr/bin/unzip» завершился по сигналу 9 (SIGKILL)"},
        TextRow{"FolderNotPermitted", fileError(EACCES, Operation::createFolder, "/home/a/Tolvane"),
                "You don’t have permission to save the file “Tolvane” in the folder “a”.",
                "У вас нет разрешения на сохранение файла «Tolvane» в папке «a»."},
        TextRow{"FolderTakenByAFile", fileError(EEXIST, Operation::createFolder, "/home/a/Tolvane"),
                "The file “Tolvane” couldn’t be saved in the folder “a” because a file with the "
                "same name already exists.",
                "Не удалось сохранить файл «Tolvane» в папке «a», так как файл с таким именем уже "
                "существует."},
        TextRow{"DiskFull", fileError(ENOSPC, Operation::save, "/home/a/Tolvane/Tolvane.jar"),
                "The file “Tolvane.jar” couldn’t be saved because there isn’t enough space.",
                "Не удалось сохранить файл «Tolvane.jar», так как недостаточно места."},
        TextRow{"FileTooLarge", fileError(EFBIG, Operation::save, "/home/a/Tolvane/Tolvane.jar"),
                "The file “Tolvane.jar” couldn’t be saved because it is too large.",
                "Не удалось сохранить файл «Tolvane.jar», так как он слишком большой."},
        TextRow{"ReadOnlyVolume", fileError(EROFS, Operation::save, "/c/defaults.json"),
                "The file “defaults.json” couldn’t be saved because the volume is read only.",
                "Не удалось сохранить файл «defaults.json», так как том доступен только для "
                "чтения."},
        TextRow{"FolderMissing", fileError(ENOENT, Operation::save, "/home/a/Tolvane/x.jar"),
                "The folder “Tolvane” doesn’t exist.", "Папка «Tolvane» не существует."},
        TextRow{"SaveFailedOtherwise", fileError(EIO, Operation::save, "/home/a/Tolvane/x.jar"),
                "The file “x.jar” couldn’t be saved in the folder “Tolvane”.",
                "Не удалось сохранить файл «x.jar» в папке «Tolvane»."},
        TextRow{"ReadMissing", fileError(ENOENT, Operation::read, "/opt/t/java.zip"),
                "The file “java.zip” couldn’t be opened because there is no such file.",
                "Не удалось открыть файл «java.zip», так как такого файла нет."},
        TextRow{"ReadNotPermitted", fileError(EACCES, Operation::read, "/opt/t/java.zip"),
                "The file “java.zip” couldn’t be opened because you don’t have permission to view "
                "it.",
                "Не удалось открыть файл «java.zip», так как у вас нет разрешения на его "
                "просмотр."},
        TextRow{"CopyOntoAnItem",
                fileError(EEXIST, Operation::copy, "/opt/t/java.zip", "/home/a/Tolvane/java.zip"),
                "“java.zip” couldn’t be copied to “Tolvane” because an item with the same name "
                "already exists.",
                "Не удалось скопировать «java.zip» в «Tolvane», так как объект с таким именем уже "
                "существует."},
        TextRow{
            "MoveOntoAnItem",
            fileError(ENOTEMPTY, Operation::move, "/h/Tolvane/.staging/java", "/h/Tolvane/java"),
            "“java” couldn’t be moved to “Tolvane” because an item with the same name already "
            "exists.",
            "Не удалось переместить «java» в «Tolvane», так как объект с таким именем уже "
            "существует."},
        TextRow{"MoveNotPermitted",
                fileError(EACCES, Operation::move, "/h/Tolvane/.staging/java", "/h/Tolvane/java"),
                "“java” couldn’t be moved because you don’t have permission to access “Tolvane”.",
                "Не удалось переместить «java», так как у вас нет разрешения на доступ к "
                "«Tolvane»."},
        TextRow{"RemoveNotPermitted", fileError(EPERM, Operation::remove, "/h/Tolvane/java"),
                "“java” couldn’t be removed because you don’t have permission to access it.",
                "Не удалось удалить «java», так как у вас нет разрешения на доступ к этому "
                "объекту."},
        TextRow{"LaunchNotPermitted", fileError(EACCES, Operation::launch, "/h/java/bin/java"),
                "You don’t have permission to run the file “java” in the folder “bin”.",
                "У вас нет разрешения на запуск файла «java» в папке «bin»."},
        TextRow{"LaunchMissing", fileError(ENOENT, Operation::launch, "/h/java/bin/java"),
                "The file “java” doesn’t exist.", "Файл «java» не существует."},
        TextRow{"LaunchNotAProgram", fileError(ENOEXEC, Operation::launch, "/h/java/bin/java"),
                "The file “java” couldn’t be run.", "Не удалось запустить файл «java»."},
        TextRow{"NoItemToName", textOf(SystemError(EAGAIN, Operation::launch)),
                "The operation couldn’t be completed. (NSPOSIXErrorDomain error 11.)",
                "Не удалось завершить операцию. (NSPOSIXErrorDomain, ошибка 11.)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SystemErrorTest, DebugTextKeepsTheSystemsReasonAndFullPathsInEnglish) {
  test::TemporaryHome home;
  home.setEnvironment("LANG", "ru_RU.UTF-8");
  EXPECT_EQ(
      SystemError(EEXIST, Operation::copy, "/a/java.zip", "/h/Tolvane/java.zip").debugDescription(),
      "copy: File exists: \"/a/java.zip\" -> \"/h/Tolvane/java.zip\"");
}

}  // namespace
}  // namespace tolvane::platform
