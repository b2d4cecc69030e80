#include "Installer/LoaderModel.h"

#include "Platform/DecodingError.h"

namespace tolvane {

using platform::DecodingError;

LoaderModel LoaderModel::fromJSON(const nlohmann::json& json) {
  if (!json.is_object()) {
    throw DecodingError(DecodingError::Kind::typeMismatch, "Expected an object for the manifest");
  }
  const auto it = json.find("files");
  if (it == json.end())
    throw DecodingError(DecodingError::Kind::keyNotFound, "No value for key \"files\"");
  if (it->is_null())
    throw DecodingError(DecodingError::Kind::valueNotFound, "Null value for key \"files\"");
  if (!it->is_array())
    throw DecodingError(DecodingError::Kind::typeMismatch, "Expected an array for key \"files\"");
  LoaderModel model;
  model.files.reserve(it->size());
  for (const auto& entry : *it) model.files.push_back(FileModel::fromJSON(entry));
  return model;
}

LoaderModel LoaderModel::decode(std::string_view jsonText) {
  nlohmann::json parsed = nlohmann::json::parse(jsonText, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) {
    throw DecodingError(DecodingError::Kind::dataCorrupted, "The given data was not valid JSON");
  }
  return fromJSON(parsed);
}

nlohmann::ordered_json LoaderModel::toJSON() const {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const auto& file : files) list.push_back(file.toJSON());
  nlohmann::ordered_json object;
  object["files"] = std::move(list);
  return object;
}

}  // namespace tolvane
