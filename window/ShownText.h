// How the byte strings of a result row are shown.
#pragma once

#include <QString>

#include <string>

// Bytes of a path or row as the file system names them, decoded for display: UTF-8, with a
// replacement character for each byte that does not decode (a Shift-JIS or Latin-1 name).
QString ShownText(const std::string& bytes);
