# SPDX-License-Identifier: MIT
# The shared-file archive loader (both layouts).
vantrel_fuzz(shared_file_archive SOURCE shared_file_archive_fuzz.cpp DEPS vantrel_catalogue)
