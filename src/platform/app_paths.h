// SPDX-License-Identifier: MIT
#pragma once
// Where the client keeps things on this machine: its home (log, shared-file
// lists, group caches), the folder of the registry hive, and the program's own
// path. Directories are returned with a trailing "/", so that a file name can
// be appended directly. Thread-safe: reads the environment, keeps no state.

#include <string>
#include <string_view>

namespace vantrel {

// Creates `path` and every missing parent with `mode`; true when it exists as
// a directory afterwards (also when it was there already).
bool makeDirectories(const std::string& path, unsigned mode = 0700);

// Appends "/" unless the text already ends in one.
std::string withTrailingSlash(std::string path);

// The user's home: $HOME, else the password database entry. Empty when unknown.
std::string userHomeDirectory();

// The folder of the registry hive: $VANTREL_CONFIG_DIR, else
// $XDG_CONFIG_HOME/vantrel/, else ~/.config/vantrel/. Not created here.
// Empty when no home is known.
std::string configDirectory();

// The base of the user's configuration: $XDG_CONFIG_HOME, else ~/.config/.
std::string xdgConfigHome();
// The user's download folder: XDG_DOWNLOAD_DIR from the environment or from
// user-dirs.dirs in the configuration home ("$HOME/" expanded), else
// "$HOME/Downloads". With a trailing "/"; "" without a home.
std::string xdgDownloadDirectory();

// The client's home: `commandLineHome` when not empty (--home), else
// $VANTREL_HOME, else $XDG_DATA_HOME/vantrel/, else ~/.local/share/vantrel/.
// Created (with its parents) when missing. Empty when it cannot be created.
std::string clientHomeDirectory(std::string_view commandLineHome = {});

// Absolute path of the running program (/proc/self/exe); empty on failure.
std::string programPath();
// The text of programPath() up to and including its last "/"; empty on failure.
std::string programDirectory();
// Where an installed program's data lives: `programDir` + "../share/vantrel/"
// when that folder exists (an install under any prefix, or a package unpacked
// somewhere else), else `fallback` (the folder of the configured prefix).
std::string sharedDataDirectory(const std::string& programDir, std::string fallback);
// The directory part of a "/" path, with its trailing "/"; "" when it has none.
std::string directoryOf(std::string_view path);

}  // namespace vantrel
