#pragma once

#include <optional>
#include <string>

#include "Platform/Data.h"
#include "Platform/Error.h"
#include "Platform/URL.h"

namespace tolvane::platform {

// A transport failure, identified by the URL-loading error codes desktop platforms use
// (negative numbers, see Code). Interrupted downloads carry resume data.
class URLError final : public Error {
 public:
  enum Code : int {
    unknown = -1,
    cancelled = -999,
    badURL = -1000,
    timedOut = -1001,
    unsupportedURL = -1002,
    cannotFindHost = -1003,
    cannotConnectToHost = -1004,
    networkConnectionLost = -1005,
    dnsLookupFailed = -1006,
    httpTooManyRedirects = -1007,
    resourceUnavailable = -1008,
    notConnectedToInternet = -1009,
    redirectToNonExistentLocation = -1010,
    badServerResponse = -1011,
    userCancelledAuthentication = -1012,
    userAuthenticationRequired = -1013,
    zeroByteResource = -1014,
    cannotDecodeRawData = -1015,
    cannotDecodeContentData = -1016,
    cannotParseResponse = -1017,
    appTransportSecurityRequiresSecureConnection = -1022,
    fileDoesNotExist = -1100,
    fileIsDirectory = -1101,
    noPermissionsToReadFile = -1102,
    dataLengthExceedsMaximum = -1103,
    secureConnectionFailed = -1200,
    serverCertificateHasBadDate = -1201,
    serverCertificateUntrusted = -1202,
    serverCertificateHasUnknownRoot = -1203,
    serverCertificateNotYetValid = -1204,
    clientCertificateRejected = -1205,
    clientCertificateRequired = -1206,
    cannotLoadFromNetwork = -2000,
    cannotCreateFile = -3000,
    cannotOpenFile = -3001,
    cannotCloseFile = -3002,
    cannotWriteToFile = -3003,
    cannotRemoveFile = -3004,
    cannotMoveFile = -3005,
    downloadDecodingFailedMidStream = -3006,
    downloadDecodingFailedToComplete = -3007,
  };

  URLError(Code code, std::optional<URL> failingURL = std::nullopt,
           std::optional<Data> resumeData = std::nullopt, std::string detail = {},
           ErrorPtr underlyingError = nullptr);

  [[nodiscard]] Code code() const { return code_; }
  [[nodiscard]] const std::optional<URL>& failingURL() const { return failingURL_; }
  // Bytes from which an interrupted download can continue (download tasks only).
  [[nodiscard]] const std::optional<Data>& downloadTaskResumeData() const { return resumeData_; }
  // What the transport itself said (libcurl's message), for diagnostics.
  [[nodiscard]] const std::string& detail() const { return detail_; }
  // The file system's error behind a file code (the download's file could not be made or
  // written), when there is one.
  [[nodiscard]] const ErrorPtr& underlyingError() const { return underlyingError_; }

  // The platform-style sentence for the code in the user's language, e.g. "The request timed
  // out."; for a file code with an underlying error, that error's sentence, which names the
  // file and says why.
  [[nodiscard]] std::string localizedDescription() const override;
  // Domain, code and detail, e.g. "NSURLErrorDomain -1001 (Operation timed out after ...)".
  [[nodiscard]] std::string debugDescription() const override;

 private:
  Code code_;
  std::optional<URL> failingURL_;
  std::optional<Data> resumeData_;
  std::string detail_;
  ErrorPtr underlyingError_;

  [[nodiscard]] bool isFileError() const;
};

}  // namespace tolvane::platform
