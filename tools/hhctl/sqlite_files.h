#pragma once
// The SQLite files the sweep handles while no run uses them: the handheld
// image and the desktop registry store.

#include <filesystem>
#include <string>

namespace hhctl {

// Checkpoints a WAL-mode SQLite file into the file itself, so that it can
// be copied or changed alone. Every other connection to it must be closed;
// throws Failure when a write-ahead log stays.
void Quiesce(const std::filesystem::path& path);

// "ok", or the problems PRAGMA integrity_check reports (or why it could not
// run), joined by "; ".
std::string IntegrityCheck(const std::filesystem::path& path);

}  // namespace hhctl
