// `bvhost validate`: runs the selected checks, each isolated, and reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace bvhost {

int runValidate(const std::string& pluginPath, std::optional<std::uint64_t> seed,
                const std::optional<std::string>& only);

}  // namespace bvhost
