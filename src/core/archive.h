// SPDX-License-Identifier: MIT
#pragma once
// The framework archive encoding that the client's data files use: the
// shared-file list, the page archive, the contest file and the group cache.
//
// Little-endian integers; counts as 16 bits, or 0xFFFF and 32 bits; strings as
// a length byte up to 254, or 0xFF and 16 bits, or 0xFF 0xFFFF and 32 bits for
// lengths above 0xFFFD, then the bytes. Objects are written with their class:
// 0xFFFF, schema, name length, name the first time a class appears, then
// 0x8000 | class index; index 0 is "no object", a class takes the next index
// when it is announced and every object the one after; a reference to an
// object already in the archive is its index; indexes past 0x7FFE go as 0x7FFF
// followed by 32 bits (with the top bit for classes).
//
// ArchiveWriter appends to a byte buffer it owns. ArchiveReader reads a span
// that must outlive it; it never throws: the first problem is kept as an
// ArchiveError, every read after it returns zero or empty, and callers check
// ok() once their loop ends. Every length and count is checked against the
// bytes that remain before anything is allocated for it.
// Neither class is thread-safe; each belongs to one save or one load.

#include "core/archive_object.h"
#include "core/archive_reader.h"
#include "core/archive_writer.h"
#include "core/class_registry.h"
