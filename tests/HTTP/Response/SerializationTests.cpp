#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "HTTP/Response/DataResponseSerializer.h"
#include "HTTP/Response/DecodableResponseSerializer.h"
#include "HTTP/Response/Empty.h"
#include "HTTP/Response/GoogleXSSIPreprocessor.h"
#include "HTTP/Response/JSONResponseSerializer.h"
#include "HTTP/Response/StringResponseSerializer.h"
#include "HTTP/Response/URLResponseSerializer.h"
#include "Platform/DecodingError.h"
#include "Support/TemporaryDirectory.h"

namespace tolvane::http {
namespace {

using platform::Data;
using platform::HTTPURLResponse;
using platform::URL;
using platform::URLRequest;
using Kind = HTTPError::ResponseSerializationFailureReason::Kind;

// A manifest entry with the strict reading the installer's records have.
struct Manifest {
  std::string path;
  std::int64_t size = 0;

  static Manifest fromJSON(const nlohmann::json& json) {
    using platform::DecodingError;
    if (!json.is_object())
      throw DecodingError(DecodingError::Kind::typeMismatch, "Expected an object");
    if (!json.contains("size") || !json.contains("path"))
      throw DecodingError(DecodingError::Kind::keyNotFound, "size");
    if (!json["size"].is_number_integer()) {
      throw DecodingError(DecodingError::Kind::typeMismatch,
                          "Expected an integer for key \"size\"");
    }
    return {json["path"].get<std::string>(), json["size"].get<std::int64_t>()};
  }
};

std::optional<URLRequest> requestWithMethod(std::string method) {
  URLRequest request(URL::parse("https://127.0.0.1/manifest"));
  request.httpMethod = std::move(method);
  return request;
}

HTTPURLResponse response(int status, std::optional<std::string> charset = std::nullopt) {
  return HTTPURLResponse{*URL::parse("https://127.0.0.1/manifest"),
                         status,
                         {},
                         -1,
                         "text/plain",
                         std::move(charset),
                         "m"};
}

Kind failureKind(const HTTPError& error) {
  EXPECT_TRUE(error.isResponseSerializationError()) << error.localizedDescription();
  return error.responseSerializationReason() ? error.responseSerializationReason()->kind
                                             : Kind::customSerializationFailed;
}

class EmptyResponseRules : public ::testing::Test {
 protected:
  DecodableResponseSerializer<Manifest> manifest_;
  DecodableResponseSerializer<Empty> empty_;
  DataResponseSerializer data_;
};

TEST_F(EmptyResponseRules, EmptyCodesAndHEADAllowNoBody) {
  const auto ok = response(200);
  const auto noContent = response(204);
  const auto resetContent = response(205);

  EXPECT_TRUE(empty_.serialize(requestWithMethod("GET"), &noContent, std::nullopt, std::nullopt)
                  .isSuccess());
  EXPECT_TRUE(
      empty_.serialize(requestWithMethod("GET"), &resetContent, Data(), std::nullopt).isSuccess());
  EXPECT_TRUE(
      empty_.serialize(requestWithMethod("HEAD"), &ok, std::nullopt, std::nullopt).isSuccess());
  EXPECT_EQ(data_.serialize(requestWithMethod("HEAD"), &ok, std::nullopt, std::nullopt).value(),
            "");

  // Method names compare exactly; "head" is not HEAD.
  const auto lowerHead =
      empty_.serialize(requestWithMethod("head"), &ok, std::nullopt, std::nullopt);
  ASSERT_TRUE(lowerHead.isFailure());
  EXPECT_EQ(failureKind(lowerHead.error()), Kind::inputDataNilOrZeroLength);
}

TEST_F(EmptyResponseRules, A200WithoutBodyFailsForEveryType) {
  const auto ok = response(200);
  const auto expectNilOrZero = [](const auto& result) {
    ASSERT_TRUE(result.isFailure());
    EXPECT_EQ(failureKind(result.error()), Kind::inputDataNilOrZeroLength);
  };
  expectNilOrZero(empty_.serialize(requestWithMethod("GET"), &ok, std::nullopt, std::nullopt));
  expectNilOrZero(manifest_.serialize(requestWithMethod("GET"), &ok, Data(), std::nullopt));
  expectNilOrZero(data_.serialize(requestWithMethod("GET"), &ok, Data(), std::nullopt));
}

TEST_F(EmptyResponseRules, AnEmptyAnswerToATypeWithoutEmptyValueNamesTheType) {
  const auto noContent = response(204);
  const auto result =
      manifest_.serialize(requestWithMethod("GET"), &noContent, std::nullopt, std::nullopt);
  ASSERT_TRUE(result.isFailure());
  EXPECT_EQ(result.error().localizedDescription(),
            "Empty response could not be serialized to type: Manifest. Use Empty as the expected "
            "type for such responses.");
}

TEST(DecodableSerializerTest, EmptyDecodesFromAnyBody) {
  const auto ok = response(200);
  DecodableResponseSerializer<Empty> serializer;
  EXPECT_TRUE(
      serializer.serialize(requestWithMethod("GET"), &ok, Data("not json at all"), std::nullopt)
          .isSuccess());
  EXPECT_TRUE(
      serializer.serialize(requestWithMethod("GET"), &ok, Data("[1,2]"), std::nullopt).isSuccess());
}

TEST(DecodableSerializerTest, DecodingFailuresCarryTheDecodersError) {
  const auto ok = response(200);
  DecodableResponseSerializer<Manifest> serializer;

  const auto malformed =
      serializer.serialize(requestWithMethod("GET"), &ok, Data("{\"path\": "), std::nullopt);
  ASSERT_TRUE(malformed.isFailure());
  EXPECT_EQ(failureKind(malformed.error()), Kind::decodingFailed);
  EXPECT_TRUE(malformed.error().localizedDescription().starts_with(
      "Response could not be decoded because of error:\n"));
  const auto* corrupted =
      dynamic_cast<const platform::DecodingError*>(malformed.error().underlyingError().get());
  ASSERT_NE(corrupted, nullptr);
  EXPECT_EQ(corrupted->kind(), platform::DecodingError::Kind::dataCorrupted);

  const auto sizeAsText = serializer.serialize(
      requestWithMethod("GET"), &ok, Data(R"({"path": "a.jar", "size": "12"})"), std::nullopt);
  ASSERT_TRUE(sizeAsText.isFailure());
  EXPECT_EQ(failureKind(sizeAsText.error()), Kind::decodingFailed);
  const auto* mismatch =
      dynamic_cast<const platform::DecodingError*>(sizeAsText.error().underlyingError().get());
  ASSERT_NE(mismatch, nullptr);
  EXPECT_EQ(mismatch->kind(), platform::DecodingError::Kind::typeMismatch);
}

// The XSSI preprocessor and the string and JSON serializers: nothing in the program uses
// them, so one case each.
TEST(UnusedSerializersTest, DecodeTheirOneCommonCase) {
  EXPECT_EQ(GoogleXSSIPreprocessor().preprocess(")]}',\n)]}',\n").value(), ")]}',\n");
  const auto ok = response(200);
  JSONResponseSerializer json(std::make_shared<GoogleXSSIPreprocessor>());
  EXPECT_EQ(json.serialize(std::nullopt, &ok, Data(")]}',\n[1,2]"), std::nullopt).value(),
            nlohmann::json({1, 2}));
  // Without a charset the bytes are read as ISO Latin 1, one character per byte.
  EXPECT_EQ(
      StringResponseSerializer().serialize(std::nullopt, &ok, "gr\xC3\xBC", std::nullopt).value(),
      "gr\u00C3\u00BC");
}

TEST(DownloadSerializerTest, ReadsTheFileOrSaysWhyNot) {
  test::TemporaryDirectory folder;
  const auto file = folder.path() / "body.json";
  std::ofstream(file) << R"({"path": "a.jar", "size": 3})";
  const auto ok = response(200);
  DecodableResponseSerializer<Manifest> serializer;

  EXPECT_EQ(serializer.serializeDownload(std::nullopt, &ok, URL::fileURL(file), std::nullopt)
                .value()
                .path,
            "a.jar");

  const auto missing = serializer.serializeDownload(
      std::nullopt, &ok, URL::fileURL(folder.path() / "gone"), std::nullopt);
  ASSERT_TRUE(missing.isFailure());
  EXPECT_EQ(failureKind(missing.error()), Kind::inputFileReadFailed);
  const auto directory =
      serializer.serializeDownload(std::nullopt, &ok, URL::fileURL(folder.path()), std::nullopt);
  ASSERT_TRUE(directory.isFailure());
  EXPECT_EQ(failureKind(directory.error()), Kind::inputFileReadFailed);

  const auto noFile = serializer.serializeDownload(std::nullopt, &ok, std::nullopt, std::nullopt);
  ASSERT_TRUE(noFile.isFailure());
  EXPECT_EQ(failureKind(noFile.error()), Kind::inputFileNil);
  EXPECT_EQ(URLResponseSerializer()
                .serializeDownload(std::nullopt, &ok, URL::fileURL(file), std::nullopt)
                .value(),
            URL::fileURL(file));
}

}  // namespace
}  // namespace tolvane::http
