#pragma once
// Small path helpers over plain text paths, with '/' as the separator.

#include <string>
#include <string_view>

namespace calivant {

inline constexpr char kPathSeparator = '/';

// folder + name with exactly one separator between them: the separator is
// added unless folder already ends with one.
std::string joinPath(std::string_view folder, std::string_view name);

// The folder part of a path: everything before the last separator, or "/"
// for a file in the root; "." for a bare file name.
std::string folderOf(std::string_view path);

// The name part of a path: everything after the last separator.
std::string fileNameOf(std::string_view path);

// True when path ends with extension (given with its dot, e.g. ".tif"),
// ignoring ASCII case.
bool hasExtension(std::string_view path, std::string_view extension);

// True when two paths name one file: the same path once links and dots are
// resolved, or two names (hard links) of the same existing file.
bool nameSameFile(const std::string& a, const std::string& b);

}  // namespace calivant
