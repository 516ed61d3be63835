// Fuzzes the settings file reader: whatever the file holds, the loaded
// options must be valid ones.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "shell/recording_platform.h"
#include "shell/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // One session for the whole run: it owns megabytes of tables that a
    // fresh one per input would spend most of the time allocating.
    static calivant::RecordingPlatform platform;
    static calivant::ScanSession session(platform);
    session.targetType = 0;
    session.reflective = 1;
    session.copyright.clear();
    session.lastTargetFolder.clear();
    session.lastLogFolder.clear();
    session.lastReferenceFolder.clear();
    calivant::resetOptionsToFactory(session.options);
    const calivant::SettingsText settings = calivant::SettingsText::parse(text);
    calivant::applySettings(session, settings);
    const calivant::AdvancedOptions& o = session.options;
    if (session.targetType < 0 || session.targetType > 4) std::abort();
    if (session.reflective != 0 && session.reflective != 1) std::abort();
    if (!calivant::isValidClutSize(o.clutSize)) std::abort();
    if (o.regressionModel < 0 || o.regressionModel > 3) std::abort();
    if (o.colorSpace < 0 || o.colorSpace > 1) std::abort();
    if (o.smoothing < 0 || o.smoothing > 3) std::abort();
    if (!(o.stretchDmax >= 0.0 && o.stretchDmax <= 25.0)) std::abort();
    if (!(o.stretchDmin >= 75.0 && o.stretchDmin <= 100.0)) std::abort();
    if (session.copyright.size() > calivant::kMaxCopyrightLength) std::abort();
    // A reparse of what we would write gives the same text.
    const std::string written = settings.text();
    if (calivant::SettingsText::parse(written).text() != written) std::abort();
    return 0;
}
