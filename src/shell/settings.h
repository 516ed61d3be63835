#pragma once
// The settings kept between runs: one text file "State" with one value per
// line, "name=value". Sample:
//
//   version=1.0
//   targettype=0
//   reflective=1
//   lasttargetfolder=/home/ann/scans
//   lastlogfolder=
//   copyright=Ann 2026
//   lastreferencefolder=/usr/share/calivant-scanner/Reference Files
//   fit=1 2
//   clut_size=33
//   smooth_gray=0
//   stretch_target=0 0.00 100.00
//   correct_illumination=0
//
// The session values (target choice, folders, copyright) and the option
// defaults are saved at different times into the same file; each save keeps
// the values it does not own. Values out of range fall back to the default.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/scan_session.h"

namespace calivant {

// A value text longer than this is not read (the numeric values were always
// read through a 256-byte buffer).
inline constexpr std::size_t kMaxNumericValueLength = 255;
// A settings file larger than this is not ours; it is not read or rewritten.
inline constexpr std::uintmax_t kMaxSettingsFileSize = 1 << 20;

// The lines of a settings file, kept in order so that a save rewrites the
// values it owns and nothing else.
class SettingsText {
public:
    static SettingsText parse(std::string_view text);

    // The value of the first line named name, if any.
    std::optional<std::string> value(std::string_view name) const;
    // Replaces the value of the first line named name, or appends a line.
    // CR and LF in the value are replaced by blanks: a value is one line.
    void set(std::string_view name, std::string_view value);

    std::string text() const;

private:
    std::vector<std::string> lines_;
};

// "$XDG_CONFIG_HOME/Tessaray/Calivant - Scanner/State", with ~/.config when
// XDG_CONFIG_HOME is unset or not absolute. Empty when neither is known.
std::filesystem::path settingsFilePath(const char* xdgConfigHome, const char* home);
// The same from the process environment.
std::filesystem::path settingsFilePath();

// Sets the settings of the session to their defaults, then takes every value
// the file holds. Returns 1 when the file cannot be read (the defaults stand),
// else 0. session.programFolder must be set first.
int loadSettings(ScanSession& session, const std::filesystem::path& file);
// Applies the values of a settings text to the session (no defaults first).
void applySettings(ScanSession& session, const SettingsText& settings);
// The option values of a settings text alone.
void applyOptionSettings(AdvancedOptions& options, const SettingsText& settings);
// The option defaults a file holds, over the factory defaults (which stand
// when it cannot be read).
AdvancedOptions loadOptionDefaults(const std::filesystem::path& file);

// Writes version, target type, reflective flag, the three folders and the
// copyright. Returns 0 on success, 1 when nothing could be written.
int saveSessionSettings(const ScanSession& session, const std::filesystem::path& file);
// Writes the five option values. Returns 0 on success, 1 on failure.
int saveOptionDefaults(const AdvancedOptions& options, const std::filesystem::path& file);

}  // namespace calivant
