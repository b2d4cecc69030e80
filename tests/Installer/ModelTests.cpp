#include <gtest/gtest.h>

#include "Installer/FileModel.h"
#include "Installer/LoaderModel.h"
#include "Platform/DecodingError.h"
#include "Support/ParamName.h"

namespace tolvane {
namespace {

using platform::DecodingError;

class RejectedManifestTest : public ::testing::TestWithParam<const char*> {};

TEST_P(RejectedManifestTest, FailsToDecode) {
  EXPECT_THROW(LoaderModel::decode(GetParam()), DecodingError);
}

INSTANTIATE_TEST_SUITE_P(
    Manifests, RejectedManifestTest,
    ::testing::Values("not json", "", R"([])", R"({"file": []})", R"({"files": null})",
                      R"({"files": {}})", R"({"files": [{"path": "a", "size": 1}]})",
                      R"({"files": [{"hash": "h", "size": 1}]})",
                      R"({"files": [{"path": "a", "hash": "h"}]})",
                      R"({"files": [{"path": "a", "hash": null, "size": 1}]})",
                      R"({"files": [{"path": 1, "hash": "h", "size": 1}]})",
                      R"({"files": [{"path": "a", "hash": "h", "size": "1"}]})",
                      R"({"files": [{"path": "a", "hash": "h", "size": 1.5}]})",
                      R"({"files": [{"path": "a", "hash": "h", "size": true}]})",
                      R"({"files": [{"path": "a", "hash": "h", "size": 9223372036854775808}]})",
                      R"({"files": [{"path": "a", "hash": "h", "size": 1e19}]})",
                      R"({"files": [{"path": "a", "hash": "h", "size": 1}, 5]})"),
    [](const auto& info) { return test::paramName(info.param, info.index); });

TEST(ManifestTest, DecodesIgnoringExtraKeysAndKeepsOrder) {
  const LoaderModel manifest = LoaderModel::decode(
      R"({"version": 3, "files": [{"path": "Tolvane.jar", "hash": "AB", "size": 9223372036854775807, "x": 1},
                                  {"path": "b", "hash": "c", "size": -2.0}]})");
  ASSERT_EQ(manifest.files.size(), 2u);
  EXPECT_EQ(manifest.files[0].path, "Tolvane.jar");
  EXPECT_EQ(manifest.files[0].hash, "AB");
  EXPECT_EQ(manifest.files[0].size, INT64_MAX);
  EXPECT_EQ(manifest.files[1].size, -2);  // integral float values are integers
  EXPECT_TRUE(LoaderModel::decode(R"({"files": []})").files.empty());
}

TEST(FileModelTest, EqualityIsCanonicalForTextAndExactOtherwise) {
  const FileModel precomposed{"launcher/caf\xc3\xa9.jar", "h\xc3\xa9", 10};
  const FileModel decomposed{"launcher/cafe\xcc\x81.jar", "he\xcc\x81", 10};
  EXPECT_EQ(precomposed, decomposed);
  EXPECT_NE(precomposed, (FileModel{"launcher/cafe.jar", "h\xc3\xa9", 10}));
  EXPECT_NE((FileModel{"a", "abc", 1}), (FileModel{"a", "ABC", 1}));
  EXPECT_NE((FileModel{"a", "h", 1}), (FileModel{"a", "h", 2}));
  EXPECT_NE((FileModel{"a\xff", "h", 1}), (FileModel{"a\xfe", "h", 1}));  // not UTF-8: bytes
  // A JSON "\u0000" inside a text must not end the comparison there.
  EXPECT_NE(FileModel::decode(R"({"path":"a\u0000b","hash":"h","size":1})"),
            FileModel::decode(R"({"path":"a\u0000c","hash":"h","size":1})"));
}

TEST(FileModelTest, EncodesCompactlyInFieldOrderAndRoundTrips) {
  const FileModel model{"dir/Tolvane \"v2\".jar", "\xd0\xb0\xd0\xb1", -7};
  EXPECT_EQ(model.encode(), R"({"path":"dir/Tolvane \"v2\".jar","hash":"аб","size":-7})");
  EXPECT_EQ(FileModel::decode(*model.encode()), model);
  EXPECT_EQ((FileModel{"bad \xff", "h", 1}).encode(), std::nullopt);
}

}  // namespace
}  // namespace tolvane
