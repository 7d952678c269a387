#pragma once

#include <QString>

// The file side of a material document: reading a file's text within bounds,
// so that no file can freeze the interface or exhaust memory before the XML
// parser gives up, and checking where a document may be saved.
//
// The largest real document (3 machines of 40 quality levels with every
// field) is about 330 KB with some 5,600 elements and 360 attributes, at
// most 3 on one element; every bound is 18 times that or more.
namespace DocumentFile {

constexpr qint64 maxBytes = 8 * 1024 * 1024;
constexpr int maxMachines = 64;
constexpr int maxQualityLevels = 4096;
constexpr int maxElements = 100000;
constexpr int maxAttributes = 16384;
// Qt checks an element's attributes for duplicates pairwise.
constexpr int maxAttributesPerElement = 64;
// The save goes through a temporary file named after the document with
// ".XXXXXX" appended, which must stay within the 255 bytes of a name.
constexpr int maxSavedNameBytes = 248;

// Reads the decoded text of the file at path. On failure returns false with
// the reason in error: not a regular file, too large, badly encoded, or the
// system's own error text. Never blocks on a FIFO or device.
bool read(const QString& path, QString& text, QString& error);

// Looks over a document's text before the XML parser does: a document type
// declaration (and so any entity of its own) is refused, and so are more
// machines, quality levels, elements or attributes than the bounds allow.
// Returns the reason, or an empty string when the text may be parsed.
QString screen(const QString& text);

// Why a document cannot be saved at path, or an empty string. A symbolic
// link to a regular file is followed, as the save itself does.
QString saveRefusal(const QString& path);

} // namespace DocumentFile
