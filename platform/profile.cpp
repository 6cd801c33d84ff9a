// The portable part of the profile-file interface.
// May contain: portable code over the interface only; no system calls.
#include "platform/profile.h"

namespace {

// A section whose look-ups go to the file each time.
class SectionByKey : public ProfileSection {
public:
    SectionByKey(ProfileFiles& files, std::string section, std::string file)
        : files_(files), section_(std::move(section)), file_(std::move(file)) {}
    std::string GetString(const std::string& key, const std::string& defaultValue,
                          std::uint32_t bufferChars) override {
        return files_.GetString(section_, key, defaultValue, bufferChars, file_);
    }

private:
    ProfileFiles& files_;
    std::string section_;
    std::string file_;
};

}  // namespace

std::unique_ptr<ProfileSection> ProfileFiles::OpenSection(const std::string& section, const std::string& file) {
    return std::make_unique<SectionByKey>(*this, section, file);
}
