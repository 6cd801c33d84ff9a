// Lexical confinement of Windows paths.
// May contain: portable text rules only; no system calls.
#include "platform/path_components.h"

#include "base/errors.h"
#include "base/file_names.h"
#include "base/text.h"

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool acceptableName(const std::string& part) {
    if (part.back() == '.' || part.back() == ' ') return false;
    for (const char c : part) {
        if (static_cast<unsigned char>(c) < 0x20) return false;
        if (std::string_view(":*?\"<>|").find(c) != std::string_view::npos) return false;
    }
    return true;
}

// The drive (upper-cased) and the components of an absolute Windows path.
std::optional<std::vector<std::string>> resolved(const std::string& path) {
    if (path.size() < 3 || !isLetter(path[0]) || path[1] != ':' || !isSeparator(path[2])) return std::nullopt;
    std::vector<std::string> parts{upperAscii(path.substr(0, 2))};
    std::size_t pos = 3;
    while (pos <= path.size()) {
        std::size_t end = pos;
        while (end < path.size() && !isSeparator(path[end])) ++end;
        std::string part = path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (parts.size() > 1) parts.pop_back();
            continue;
        }
        if (!acceptableName(part)) return std::nullopt;
        parts.push_back(std::move(part));
    }
    return parts;
}

}  // namespace

std::optional<std::vector<std::string>> componentsBelow(const std::string& folder, const std::string& path) {
    const auto inner = resolved(path);
    const auto outer = resolved(folder);
    if (!inner || !outer || inner->size() <= outer->size()) return std::nullopt;
    for (std::size_t i = 0; i < outer->size(); ++i) {
        if (!equalsNoCase((*inner)[i], (*outer)[i])) return std::nullopt;
    }
    return std::vector<std::string>(inner->begin() + static_cast<std::ptrdiff_t>(outer->size()), inner->end());
}

bool finalPathBelow(const std::string& realFolder, const std::string& finalPath) {
    std::string prefix = realFolder;
    while (!prefix.empty() && prefix.back() == '\\') prefix.pop_back();
    prefix += '\\';
    return finalPath.size() > prefix.size() &&
           equalsNoCase(std::string_view(finalPath).substr(0, prefix.size()), prefix);
}

void checkPlacedNames(const std::string& partial, const std::string& target) {
    // The name is what follows the last "\": a "/" after it must not count as
    // a separator, so the name itself has to be plain.
    const auto nameAt = [](const std::string& path) {
        const auto pos = path.find_last_of('\\');
        return pos == std::string::npos ? 0 : pos + 1;
    };
    const std::size_t partialAt = nameAt(partial), targetAt = nameAt(target);
    if (!isPlainName(std::string_view(partial).substr(partialAt)) ||
        !isPlainName(std::string_view(target).substr(targetAt))) {
        throw runError(err::BadFileName);
    }
    if (!equalsNoCase(std::string_view(partial).substr(0, partialAt), std::string_view(target).substr(0, targetAt))) {
        throw runError(err::InvalidCall);
    }
}
