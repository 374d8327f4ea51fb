// Content types by file extension: the local server's whole vocabulary.
#pragma once

#include <map>
#include <string>

using MimeMap = std::map<std::string, std::string>;

const char DEFAULT_CONTENT_TYPE[] = "text/html";

// The 75 extensions (lower case, without the dot) and their content types.
MimeMap BuildMimeMap();

// The content type of a request path: the text after its last "." with ASCII
// letters lowered, looked up byte for byte; "text/html" when there is no dot
// or no entry. The path is taken raw, so "a.png?v=2" is "text/html".
// The text returned lives as long as the map.
const std::string& ContentTypeForPath(const MimeMap& map, const std::string& path);
