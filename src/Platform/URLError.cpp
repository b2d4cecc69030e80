#include "Platform/URLError.h"

#include <curl/curl.h>

#include "Platform/CurlErrorCode.h"
#include "Platform/Localization.h"

namespace tolvane::platform {

URLError::URLError(Code code, std::optional<URL> failingURL, std::optional<Data> resumeData,
                   std::string detail, ErrorPtr underlyingError)
    : code_(code),
      failingURL_(std::move(failingURL)),
      resumeData_(std::move(resumeData)),
      detail_(std::move(detail)),
      underlyingError_(std::move(underlyingError)) {}

bool URLError::isFileError() const {
  switch (code_) {
    case cannotCreateFile:
    case cannotOpenFile:
    case cannotCloseFile:
    case cannotWriteToFile:
    case cannotRemoveFile:
    case cannotMoveFile:
      return true;
    default:
      return false;
  }
}

std::string URLError::localizedDescription() const {
  // The file system's own sentence names the file and says why.
  if (underlyingError_ && isFileError()) return underlyingError_->localizedDescription();
  // The sentences desktop platforms show for these codes, so messages read the same.
  switch (code_) {
    case cancelled:
      return localized("cancelled", "отменено");
    case badURL:
    case unsupportedURL:
      return localized("unsupported URL", "неподдерживаемый URL");
    case timedOut:
      return localized("The request timed out.", "Время ожидания запроса истекло.");
    case cannotFindHost:
    case dnsLookupFailed:
      return localized("A server with the specified hostname could not be found.",
                       "Не удалось найти сервер с указанным именем.");
    case cannotConnectToHost:
      return localized("Could not connect to the server.", "Не удалось подключиться к серверу.");
    case networkConnectionLost:
      return localized("The network connection was lost.", "Сетевое соединение потеряно.");
    case httpTooManyRedirects:
      return localized("too many HTTP redirects", "слишком много перенаправлений HTTP");
    case resourceUnavailable:
      return localized("The requested resource is unavailable.", "Запрошенный ресурс недоступен.");
    case notConnectedToInternet:
      return localized("The Internet connection appears to be offline.",
                       "Похоже, нет подключения к интернету.");
    case redirectToNonExistentLocation:
    case fileDoesNotExist:
      return localized("The requested URL was not found on this server.",
                       "Запрошенный URL не найден на этом сервере.");
    case badServerResponse:
      return localized("The server returned a bad response.", "Сервер вернул неверный ответ.");
    case userCancelledAuthentication:
      return localized("The user cancelled authentication.",
                       "Пользователь отменил аутентификацию.");
    case userAuthenticationRequired:
      return localized("The user must authenticate.", "Требуется аутентификация пользователя.");
    case zeroByteResource:
      return localized("The resource is empty.", "Ресурс пуст.");
    case cannotDecodeRawData:
      return localized("The data could not be decoded.", "Не удалось декодировать данные.");
    case cannotDecodeContentData:
      return localized("cannot decode content data", "не удается декодировать содержимое");
    case cannotParseResponse:
      return localized("cannot parse response", "не удается разобрать ответ");
    case appTransportSecurityRequiresSecureConnection:
      return localized(
          "The resource could not be loaded because the App Transport Security policy requires "
          "the use of a "
          "secure connection.",
          "Не удалось загрузить ресурс, так как политика App Transport Security требует "
          "защищенного соединения.");
    case fileIsDirectory:
      return localized("The file is a folder.", "Файл является папкой.");
    case noPermissionsToReadFile:
      return localized("You don't have permission to read the file.",
                       "У вас нет разрешения на чтение файла.");
    case dataLengthExceedsMaximum:
      return localized("The resource exceeds the maximum size.",
                       "Ресурс превышает максимальный размер.");
    case secureConnectionFailed:
      return localized(
          "An SSL error has occurred and a secure connection to the server cannot be made.",
          "Произошла ошибка SSL, и установить защищенное соединение с сервером невозможно.");
    case serverCertificateHasBadDate:
      return localized("The certificate for this server has expired.",
                       "Срок действия сертификата этого сервера истек.");
    case serverCertificateUntrusted:
      return localized("The certificate for this server is invalid.",
                       "Сертификат этого сервера недействителен.");
    case serverCertificateHasUnknownRoot:
      return localized(
          "The certificate for this server was signed by an unknown certifying authority.",
          "Сертификат этого сервера подписан неизвестным центром сертификации.");
    case serverCertificateNotYetValid:
      return localized("The certificate for this server is not yet valid.",
                       "Сертификат этого сервера еще не действителен.");
    case clientCertificateRejected:
      return localized("The server did not accept the certificate.",
                       "Сервер не принял сертификат.");
    case clientCertificateRequired:
      return localized("The server requires a client certificate.",
                       "Сервер требует сертификат клиента.");
    case cannotLoadFromNetwork:
      return localized("The resource could not be loaded from the network.",
                       "Не удалось загрузить ресурс из сети.");
    case cannotCreateFile:
      return localized("The file could not be created.", "Не удалось создать файл.");
    case cannotOpenFile:
      return localized("The file could not be opened.", "Не удалось открыть файл.");
    case cannotCloseFile:
      return localized("The file could not be closed.", "Не удалось закрыть файл.");
    case cannotWriteToFile:
      return localized("The file could not be written.", "Не удалось записать файл.");
    case cannotRemoveFile:
      return localized("The file could not be removed.", "Не удалось удалить файл.");
    case cannotMoveFile:
      return localized("The file could not be moved.", "Не удалось переместить файл.");
    case downloadDecodingFailedMidStream:
    case downloadDecodingFailedToComplete:
      return localized("The download could not be decoded.",
                       "Не удалось декодировать загруженные данные.");
    case unknown:
      break;
  }
  return localized("An unknown error occurred.", "Произошла неизвестная ошибка.");
}

std::string URLError::debugDescription() const {
  std::string text = "NSURLErrorDomain " + std::to_string(static_cast<int>(code_));
  if (!detail_.empty()) text += " (" + detail_ + ")";
  return text;
}

URLError::Code urlErrorCodeFromCurl(int curlCode) {
  switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_OPERATION_TIMEDOUT:
      return URLError::timedOut;
    case CURLE_COULDNT_CONNECT:
      return URLError::cannotConnectToHost;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return URLError::cannotFindHost;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
      return URLError::networkConnectionLost;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
      return URLError::secureConnectionFailed;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
      return URLError::serverCertificateUntrusted;
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CLIENTCERT:
      return URLError::clientCertificateRejected;
    case CURLE_URL_MALFORMAT:
      return URLError::badURL;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return URLError::unsupportedURL;
    case CURLE_TOO_MANY_REDIRECTS:
      return URLError::httpTooManyRedirects;
    case CURLE_WRITE_ERROR:
      return URLError::cannotWriteToFile;
    case CURLE_BAD_CONTENT_ENCODING:
      return URLError::cannotDecodeContentData;
    case CURLE_ABORTED_BY_CALLBACK:
      return URLError::cancelled;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_RANGE_ERROR:
    case CURLE_BAD_DOWNLOAD_RESUME:
      return URLError::badServerResponse;
    case CURLE_LOGIN_DENIED:
    case CURLE_AUTH_ERROR:
      return URLError::userAuthenticationRequired;
    case CURLE_FILESIZE_EXCEEDED:
      return URLError::dataLengthExceedsMaximum;
    case CURLE_OUT_OF_MEMORY:
    case CURLE_FAILED_INIT:
      return URLError::cannotLoadFromNetwork;
    default:
      break;
  }
  return URLError::unknown;
}

}  // namespace tolvane::platform
