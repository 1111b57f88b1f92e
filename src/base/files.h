// Whole-file reads and crash-safe whole-file writes. The platform layer implements them
// (platform/files_posix.cpp).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// The whole file as bytes; nullopt when it is missing or cannot be read (error then says why, empty for a missing file).
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::string* error = nullptr);

// Why ReadRegularFile gave nothing.
enum class ReadRefusal { kNone, kMissing, kNotRegular, kTooLarge, kReplaced, kFailed };

// The bytes of a regular file of at most maxBytes. Nothing else is opened, and the open does not
// wait, so a device or a FIFO cannot hold the caller. nullopt with refusal set otherwise; error then
// gets the system's words for kMissing and kFailed.
std::optional<std::string> ReadRegularFile(const std::filesystem::path& path, std::uint64_t maxBytes,
                                           ReadRefusal* refusal, std::string* error = nullptr);

// Replaces the file with data atomically: temporary file beside it, flushed to disk, renamed over it.
// A crash at any moment leaves either the old or the new content. On failure the old file is untouched.
// The new file has exactly the given mode (permission bits, where the system has them), whatever the
// umask and the old file's mode: the program's files hold codes, logins and passwords, so by default
// only the owner may read them.
bool WriteFileAtomic(const std::filesystem::path& path, std::string_view data, std::string* error = nullptr,
                     unsigned mode = 0600);

// Creates the directory with mode 0700 (whatever the umask). True when it was made, or already is a
// directory (its mode then left as it is); false with the reason otherwise.
bool CreatePrivateDirectory(const std::filesystem::path& dir, std::string* error = nullptr);

// The permission bits of an existing file (e.g. 0644); nullopt when it cannot be told (no such file, or
// a system without them).
std::optional<unsigned> FilePermissions(const std::filesystem::path& path);

// Creates a new, empty file readable by the owner only (whatever the umask); false with the reason
// when it exists already or cannot be made.
bool CreatePrivateFile(const std::filesystem::path& path, std::string* error = nullptr);

// Flushes a file's data, or a directory's entries, to disk; false (error says why) when it cannot.
bool SyncToDisk(const std::filesystem::path& path, std::string* error = nullptr);

// Removes the temporaries an interrupted WriteFileAtomic left beside the given files: names of the form
// "<file name>.tmp<pid>-<number>" whose writing process is gone and that were last written more than a
// minute ago, so a live writer's temporary is never touched. Returns the names removed (GBK); a
// directory that cannot be listed and a file that cannot be removed are passed over.
std::vector<std::string> RemoveStaleTemporaries(const std::vector<std::filesystem::path>& files);

// Human-readable form of a path for messages (the UTF-8 name converted to GBK).
std::string PathText(const std::filesystem::path& path);

}  // namespace torvane
