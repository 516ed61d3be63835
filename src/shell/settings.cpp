#include "shell/settings.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "util/format.h"
#include "reference/text_input.h"
#include "util/atomic_file.h"
#include "util/input_file.h"
#include "util/paths.h"
#include "util/utf8.h"

namespace calivant {
namespace {

constexpr char kVendorFolder[] = "Tessaray";
constexpr char kProductFolder[] = "Calivant - Scanner";
constexpr char kFileName[] = "State";
constexpr char kVersionText[] = "1.0";

std::string_view nameOf(std::string_view line) {
    const std::size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view{} : line.substr(0, eq);
}

// Integer of field index of a value, or nothing when the field is missing.
// A field that does not start with a number yields 0, as the parser writes.
std::optional<int> integerField(const std::vector<std::string>& fields, std::size_t index) {
    if (index >= fields.size()) return std::nullopt;
    std::int32_t v = 0;
    parseInteger(fields[index], v);
    return v;
}

std::optional<double> realField(const std::vector<std::string>& fields, std::size_t index) {
    if (index >= fields.size()) return std::nullopt;
    double v = 0.0;
    parseReal(fields[index], v);
    return v;
}

// The fields of a numeric value, or an empty list when it is missing or too
// long to have been stored by us.
std::vector<std::string> numericFields(const SettingsText& settings, std::string_view name) {
    const std::optional<std::string> v = settings.value(name);
    if (!v || v->size() > kMaxNumericValueLength) return {};
    return splitTokens(*v);
}

bool inRange(double v, double lo, double hi) { return v >= lo && v <= hi; }

enum class ReadResult { Ok, Missing, Failed };

ReadResult readWholeFile(const std::filesystem::path& file, std::string& text) {
    InputFile input;
    if (input.open(file) != 0) {
        struct stat info {};
        const bool missing = ::lstat(file.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
        return missing ? ReadResult::Missing : ReadResult::Failed;
    }
    if (input.size() > kMaxSettingsFileSize) return ReadResult::Failed;
    InputFileBuffer buffer(input.descriptor());
    // Never more than the limit, even from a file that grows while read.
    std::istream in(&buffer);
    std::string bytes(kMaxSettingsFileSize + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (buffer.error() != 0 || static_cast<std::size_t>(in.gcount()) > kMaxSettingsFileSize) return ReadResult::Failed;
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    text = std::move(bytes);
    return ReadResult::Ok;
}

// Reads the current file (if any), lets update change it, writes it back.
// An existing file that cannot be read is left alone rather than replaced by
// a file holding only the values of this save.
template <typename Update>
int updateSettingsFile(const std::filesystem::path& file, Update update) {
    if (file.empty()) return 1;
    std::string text;
    if (readWholeFile(file, text) == ReadResult::Failed) return 1;
    SettingsText settings = SettingsText::parse(text);
    update(settings);
    return writeFileAtomically(file, settings.text(), true) == AtomicWriteResult::Ok ? 0 : 1;
}

}  // namespace

SettingsText SettingsText::parse(std::string_view text) {
    SettingsText settings;
    // CR and LF both end a line (a file edited on Windows has CR LF), so no
    // value ever holds either.
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) settings.lines_.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return settings;
}

std::optional<std::string> SettingsText::value(std::string_view name) const {
    for (const std::string& line : lines_) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos && std::string_view(line).substr(0, eq) == name)
            return line.substr(eq + 1);
    }
    return std::nullopt;
}

void SettingsText::set(std::string_view name, std::string_view value) {
    std::string line(name);
    line.push_back('=');
    for (char c : value) line.push_back((c == '\r' || c == '\n') ? ' ' : c);
    for (std::string& existing : lines_) {
        if (existing.find('=') != std::string::npos && nameOf(existing) == name) {
            existing = std::move(line);
            return;
        }
    }
    lines_.push_back(std::move(line));
}

std::string SettingsText::text() const {
    std::string out;
    for (const std::string& line : lines_) {
        out += line;
        out.push_back('\n');
    }
    return out;
}

std::filesystem::path settingsFilePath(const char* xdgConfigHome, const char* home) {
    std::filesystem::path base;
    // Relative values of XDG_CONFIG_HOME are invalid and must be ignored.
    if (xdgConfigHome && xdgConfigHome[0] == '/') {
        base = xdgConfigHome;
    } else if (home && home[0] != '\0') {
        base = std::filesystem::path(home) / ".config";
    } else {
        return {};
    }
    return base / kVendorFolder / kProductFolder / kFileName;
}

std::filesystem::path settingsFilePath() {
    return settingsFilePath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

void applyOptionSettings(AdvancedOptions& o, const SettingsText& settings) {
    const AdvancedOptions factory;
    std::vector<std::string> f = numericFields(settings, "fit");
    if (auto v = integerField(f, 0)) o.colorSpace = (*v == CieXyz || *v == CieLab) ? *v : factory.colorSpace;
    if (auto v = integerField(f, 1)) {
        if (!setRegressionWord(o, *v)) setRegressionWord(o, regressionWord(factory));
    }

    f = numericFields(settings, "clut_size");
    if (auto v = integerField(f, 0)) o.clutSize = isValidClutSize(*v) ? *v : factory.clutSize;

    f = numericFields(settings, "stretch_target");
    if (auto v = integerField(f, 0)) o.stretch = (*v == 0 || *v == 1) ? *v : factory.stretch;
    if (auto v = realField(f, 1))
        o.stretchDmax = inRange(*v, kStretchDmaxMin, kStretchDmaxMax) ? *v : factory.stretchDmax;
    if (auto v = realField(f, 2))
        o.stretchDmin = inRange(*v, kStretchDminMin, kStretchDminMax) ? *v : factory.stretchDmin;

    f = numericFields(settings, "smooth_gray");
    if (auto v = integerField(f, 0))
        o.smoothing = (*v >= SmoothingNone && *v <= SmoothingHeavy) ? *v : factory.smoothing;

    // A file from before the option has no such line: off.
    f = numericFields(settings, "correct_illumination");
    if (auto v = integerField(f, 0)) o.correctIllumination = (*v == 0 || *v == 1) ? *v : factory.correctIllumination;
}

void applySettings(ScanSession& session, const SettingsText& settings) {
    std::vector<std::string> f = numericFields(settings, "targettype");
    if (auto v = integerField(f, 0)) session.targetType = (*v >= 0 && *v < kTargetTypeCount) ? *v : 0;

    f = numericFields(settings, "reflective");
    if (auto v = integerField(f, 0)) session.reflective = (*v == 0 || *v == 1) ? *v : 1;

    // The ColorChecker charts exist only as reflective targets.
    if (session.targetType >= 1 && session.targetType <= 3) session.reflective = 1;

    applyOptionSettings(session.options, settings);

    // A text longer than its field keeps the default: cutting a folder path
    // would name another folder, cutting the notice would change its meaning.
    auto takeText = [&](std::string_view name, std::string& field, std::size_t capacity) {
        const std::optional<std::string> v = settings.value(name);
        if (v && v->size() <= capacity) field = *v;
    };
    takeText("lasttargetfolder", session.lastTargetFolder, kMaxPathLength);
    takeText("lastlogfolder", session.lastLogFolder, kMaxPathLength);
    takeText("copyright", session.copyright, kMaxCopyrightLength);
    takeText("lastreferencefolder", session.lastReferenceFolder, kMaxPathLength);
}

int loadSettings(ScanSession& session, const std::filesystem::path& file) {
    session.reflective = 1;
    session.targetType = static_cast<int>(TargetType::It8);
    session.lastTargetFolder.clear();
    session.lastLogFolder.clear();
    session.copyright.clear();
    session.lastReferenceFolder = joinPath(session.programFolder, "Reference Files");
    resetOptionsToFactory(session.options);

    std::string text;
    if (file.empty() || readWholeFile(file, text) != ReadResult::Ok) return 1;
    applySettings(session, SettingsText::parse(text));
    return 0;
}

AdvancedOptions loadOptionDefaults(const std::filesystem::path& file) {
    AdvancedOptions options;
    std::string text;
    if (!file.empty() && readWholeFile(file, text) == ReadResult::Ok)
        applyOptionSettings(options, SettingsText::parse(text));
    return options;
}

int saveSessionSettings(const ScanSession& session, const std::filesystem::path& file) {
    return updateSettingsFile(file, [&](SettingsText& s) {
        s.set("version", kVersionText);
        s.set("targettype", formatText("%d", {session.targetType}));
        s.set("reflective", formatText("%d", {session.reflective}));
        s.set("lasttargetfolder", session.lastTargetFolder);
        s.set("lastlogfolder", session.lastLogFolder);
        s.set("copyright", truncateUtf8(session.copyright, kMaxCopyrightLength));
        s.set("lastreferencefolder", session.lastReferenceFolder);
    });
}

int saveOptionDefaults(const AdvancedOptions& options, const std::filesystem::path& file) {
    return updateSettingsFile(file, [&](SettingsText& s) {
        s.set("fit", formatText("%d %d", {options.colorSpace, regressionWord(options)}));
        s.set("clut_size", formatText("%d", {options.clutSize}));
        s.set("smooth_gray", formatText("%d", {options.smoothing}));
        s.set("stretch_target",
              formatText("%d %2f %2f", {options.stretch, options.stretchDmax, options.stretchDmin}));
        s.set("correct_illumination", formatText("%d", {options.correctIllumination}));
    });
}

}  // namespace calivant
