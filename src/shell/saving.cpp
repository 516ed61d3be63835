#include "shell/saving.h"

#include "util/format.h"
#include "output/icc_profile.h"
#include "shell/platform.h"
#include "shell/scan_session.h"
#include "util/atomic_file.h"
#include "util/paths.h"

namespace calivant {

std::string proposedFileName(std::string_view pattern, std::string_view description) {
    const std::string formatted = formatText(pattern, {description});
    std::string name;
    for (std::size_t i = 0; i < formatted.size(); ++i) {
        const auto c = static_cast<unsigned char>(formatted[i]);
        if (c >= 0x80) {
            // One "_" per character: skip the continuation bytes of a UTF-8
            // sequence.
            name.push_back('_');
            while (i + 1 < formatted.size() && (static_cast<unsigned char>(formatted[i + 1]) & 0xC0) == 0x80) ++i;
        } else if (c == '/' || c == '\\' || c == ':' || c < 32 || c == 127) {
            name.push_back('_');
        } else {
            name.push_back(static_cast<char>(c));
        }
    }
    // A leading dot would hide the file from the user's own folder listing.
    const std::size_t first = name.find_first_not_of('.');
    if (first == 0) return name;
    const std::size_t extension = name.rfind('.');
    // Nothing but dots before the extension: "_" stands for the description.
    if (first == std::string::npos || first > extension) {
        std::string hidden = "_";
        hidden += std::string_view(name).substr(extension);
        return hidden;
    }
    return name.substr(first);
}

bool hasProfileExtension(std::string_view path) { return hasExtension(path, ".icm") || hasExtension(path, ".icc"); }

bool hasLogExtension(std::string_view path) { return hasExtension(path, ".txt"); }

std::string fileWriteMessage(AtomicWriteResult result, std::string_view path) {
    switch (result) {
        case AtomicWriteResult::Ok: return {};
        case AtomicWriteResult::CannotCreate: return formatText("Cannot create file: %s", {path});
        case AtomicWriteResult::Busy: return formatText("Cannot write file: %s", {path}) + "\nanother run is writing it";
        case AtomicWriteResult::PermissionDenied:
            return formatText("Cannot write file: %s", {path}) + "\npermission denied";
        case AtomicWriteResult::WriteFailed:
        case AtomicWriteResult::CannotReplace: break;
    }
    return formatText("Cannot write file: %s", {path});
}

std::string outputClashMessage(const ScanSession& session, const std::string& path, const std::string& otherOutput) {
    const std::pair<const std::string*, const char*> others[] = {{&session.imageFile, "it is the target image file"},
                                                                 {&session.referenceFile, "it is the reference file"},
                                                                 {&otherOutput, "it is the other file just saved"}};
    for (const auto& [other, what] : others)
        if (!other->empty() && nameSameFile(path, *other))
            return formatText("Cannot write file: %s", {path}) + "\n" + what;
    return {};
}

int saveFileWith(ScanSession& session, const std::string& path, const std::function<int(std::ostream&)>& writer) {
    const AtomicWriteResult result = writeFileAtomically(path, writer);
    if (result == AtomicWriteResult::Ok) return 0;
    session.platform.showError(fileWriteMessage(result, path));
    return 1;
}

int saveProfileFile(ScanSession& session, const std::string& path, const LocalTime& time) {
    const IccProfileSettings settings = iccProfileSettingsOf(profileRecordOf(session));
    return saveFileWith(session, path,
                        [&](std::ostream& out) { return writeIccProfile(out, settings, session.profile, time); });
}

}  // namespace calivant
