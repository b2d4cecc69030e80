#include "HTTP/Response/GoogleXSSIPreprocessor.h"

namespace tolvane::http {

Result<platform::Data> GoogleXSSIPreprocessor::preprocess(const platform::Data& data) const {
  if (std::string_view(data).starts_with(kPrefix)) return data.substr(kPrefix.size());
  return data;
}

}  // namespace tolvane::http
