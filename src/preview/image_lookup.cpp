#include "preview/image_lookup.h"

#include <algorithm>
#include <vector>

#include "preview/markup.h"

namespace annoxml::detail {
namespace fs = std::filesystem;

std::string RelativeLink(const std::string& target, const fs::path& from) {
    std::error_code error;
    const fs::path absoluteTarget = fs::weakly_canonical(fs::absolute(fs::u8path(target)), error);
    const fs::path absoluteFrom = fs::weakly_canonical(fs::absolute(from), error);
    return PercentEncodePath(absoluteTarget.lexically_relative(absoluteFrom).generic_string());
}

}  // namespace annoxml::detail
