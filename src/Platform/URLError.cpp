#include "Platform/URLError.h"

#include <curl/curl.h>

#include "Platform/CurlErrorCode.h"

namespace tolvane::platform {

URLError::URLError(Code code, std::optional<URL> failingURL, std::optional<Data> resumeData,
                   std::string detail)
    : code_(code),
      failingURL_(std::move(failingURL)),
      resumeData_(std::move(resumeData)),
      detail_(std::move(detail)) {}

std::string URLError::localizedDescription() const {
  // The sentences desktop platforms show for these codes, so messages read the same.
  switch (code_) {
    case cancelled:
      return "cancelled";
    case badURL:
      return "unsupported URL";
    case timedOut:
      return "The request timed out.";
    case unsupportedURL:
      return "unsupported URL";
    case cannotFindHost:
      return "A server with the specified hostname could not be found.";
    case cannotConnectToHost:
      return "Could not connect to the server.";
    case networkConnectionLost:
      return "The network connection was lost.";
    case dnsLookupFailed:
      return "A server with the specified hostname could not be found.";
    case httpTooManyRedirects:
      return "too many HTTP redirects";
    case resourceUnavailable:
      return "The requested resource is unavailable.";
    case notConnectedToInternet:
      return "The Internet connection appears to be offline.";
    case redirectToNonExistentLocation:
      return "The requested URL was not found on this server.";
    case badServerResponse:
      return "The server returned a bad response.";
    case userCancelledAuthentication:
      return "The user cancelled authentication.";
    case userAuthenticationRequired:
      return "The user must authenticate.";
    case zeroByteResource:
      return "The resource is empty.";
    case cannotDecodeRawData:
      return "The data could not be decoded.";
    case cannotDecodeContentData:
      return "cannot decode content data";
    case cannotParseResponse:
      return "cannot parse response";
    case appTransportSecurityRequiresSecureConnection:
      return "The resource could not be loaded because the App Transport Security policy requires "
             "the use of a "
             "secure connection.";
    case fileDoesNotExist:
      return "The requested URL was not found on this server.";
    case fileIsDirectory:
      return "The file is a folder.";
    case noPermissionsToReadFile:
      return "You don't have permission to read the file.";
    case dataLengthExceedsMaximum:
      return "The resource exceeds the maximum size.";
    case secureConnectionFailed:
      return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case serverCertificateHasBadDate:
      return "The certificate for this server has expired.";
    case serverCertificateUntrusted:
      return "The certificate for this server is invalid.";
    case serverCertificateHasUnknownRoot:
      return "The certificate for this server was signed by an unknown certifying authority.";
    case serverCertificateNotYetValid:
      return "The certificate for this server is not yet valid.";
    case clientCertificateRejected:
      return "The server did not accept the certificate.";
    case clientCertificateRequired:
      return "The server requires a client certificate.";
    case cannotLoadFromNetwork:
      return "The resource could not be loaded from the network.";
    case cannotCreateFile:
      return "The file could not be created.";
    case cannotOpenFile:
      return "The file could not be opened.";
    case cannotCloseFile:
      return "The file could not be closed.";
    case cannotWriteToFile:
      return "The file could not be written.";
    case cannotRemoveFile:
      return "The file could not be removed.";
    case cannotMoveFile:
      return "The file could not be moved.";
    case downloadDecodingFailedMidStream:
      return "The download could not be decoded.";
    case downloadDecodingFailedToComplete:
      return "The download could not be decoded.";
    case unknown:
      break;
  }
  return "An unknown error occurred.";
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
