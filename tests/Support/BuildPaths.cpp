#include "Support/BuildPaths.h"

namespace tolvane::test {

std::filesystem::path buildFolder() { return TOLVANE_BINARY_DIR; }

std::filesystem::path resourceFolder() { return TOLVANE_TEST_RESOURCE_DIR; }

}  // namespace tolvane::test
