#pragma once
// Saving the profile and its log: the proposed file names, the extension
// rules, and writing through a temporary file so that a failed write never
// leaves a partial profile where a good one stood.

#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "util/atomic_file.h"

namespace calivant {

struct ScanSession;
struct LocalTime;

inline constexpr std::string_view kProfileExtensionError = "Profiles must have an extension of .icm or .icc";
inline constexpr std::string_view kLogExtensionError = "Log files must have an extension of .txt";

// The pattern ("%s.icm" or "%s.txt") formatted with the description; every
// "/", "\", ":", control byte, and every character beyond ASCII becomes "_".
// Leading dots are dropped (a description of dots alone leaves "_").
std::string proposedFileName(std::string_view pattern, std::string_view description);
inline std::string proposedProfileName(std::string_view description) { return proposedFileName("%s.icm", description); }
inline std::string proposedLogName(std::string_view description) { return proposedFileName("%s.txt", description); }

// ".icm" or ".icc", any letter case.
bool hasProfileExtension(std::string_view path);
// ".txt", any letter case.
bool hasLogExtension(std::string_view path);

// The message for a file that could not be written: "Cannot create file: %s"
// or "Cannot write file: %s", with a second line where the reason is one the
// user can act on (another run holds the file, it is read-only).
std::string fileWriteMessage(AtomicWriteResult result, std::string_view path);

// The message when path would replace a file the session read (the target
// image, the reference file) or otherOutput, the other file saved from this
// computation ("Cannot write file: %s" and what the file is); empty when it
// names none of them, by any name, link or hard link.
std::string outputClashMessage(const ScanSession& session, const std::string& path, const std::string& otherOutput);

// Writes the profile of the session's last computation to path. Returns 0,
// or 1 after a message naming the file when it cannot be created or written
// (the previous file, if any, is untouched).
int saveProfileFile(ScanSession& session, const std::string& path, const LocalTime& time);

// Writes a file through writer with the same guarantees and messages.
int saveFileWith(ScanSession& session, const std::string& path, const std::function<int(std::ostream&)>& writer);

}  // namespace calivant
