#include "shell/saving.h"

#include "util/format.h"
#include "output/icc_profile.h"
#include "shell/platform.h"
#include "shell/scan_session.h"
#include "util/atomic_file.h"
#include "util/paths.h"
#include "util/utf8.h"

namespace calivant {

std::string proposedFileName(std::string_view pattern, std::string_view description) {
    std::string name = formatText(pattern, {description});
    // Linux names are bytes in UTF-8: only the folder separators, the colon
    // other systems refuse, and control characters have to go.
    for (char& c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || c == ':' || byte < 32 || byte == 127) c = '_';
    }
    // The pattern puts the extension last.
    const std::size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    std::string stem = name.substr(0, name.size() - extension.size());
    // A leading dot would hide the file from the user's own folder listing;
    // nothing but dots leaves "_" for the description.
    const std::size_t first = stem.find_first_not_of('.');
    stem = first == std::string::npos ? std::string("_") : stem.substr(first);
    // Cut without splitting a character; the extension is never cut.
    const std::size_t room = kMaxFileNameBytes > extension.size() ? kMaxFileNameBytes - extension.size() : 0;
    return std::string(truncateUtf8(stem, room)) + extension;
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
