#include "server/mime_table.h"

MimeMap BuildMimeMap()
{
    static const struct {
        const char* type;
        const char* extensions[10];
    } TABLE[] = {
        {"text/xml; charset=UTF-8", {"xml"}},
        {"text/plain; charset=utf-8", {"asset", "mp", "res"}},
        {"image/png", {"png"}},
        {"application/x-shockwave-flash", {"swf"}},
        {"application/msword", {"doc"}},
        {"application/octet-stream", {"bin", "dll", "exe"}},
        {"application/pdf", {"pdf"}},
        {"application/pkcs7-mime", {"p7c"}},
        {"application/postscript", {"ai", "eps", "ps"}},
        {"application/vnd.fdf", {"fdf"}},
        {"application/x-gzip", {"gz"}},
        {"application/x-java-class", {"class"}},
        {"application/x-javascript", {"js"}},
        {"application/x-lzh", {"lzh"}},
        {"application/x-ms-shortcut", {"lnk"}},
        {"application/x-tar", {"tar"}},
        {"application/x-winhelp", {"hlp"}},
        {"application/x-x509-ca-cert", {"cert"}},
        {"application/zip", {"zip"}},
        {"application/x-compressed", {"cab", "arj"}},
        {"audio/aiff", {"aif", "aifc", "aiff"}},
        {"audio/basic", {"au", "snd"}},
        {"audio/midi", {"mid", "rmi"}},
        {"audio/mpeg", {"mp3"}},
        {"audio/voxware", {"vox"}},
        {"audio/wav", {"wav"}},
        {"audio/x-pn-realaudio", {"ra", "ram"}},
        {"image/bmp", {"bmp"}},
        {"image/gif", {"gif"}},
        {"image/jpeg", {"jpeg", "jpg"}},
        {"image/tiff", {"tif", "tiff"}},
        {"image/xbm", {"xbm"}},
        {"model/vrml", {"wrl"}},
        {"text/html", {"htm", "html"}},
        {"text/plain", {"c", "cpp", "def", "h", "txt"}},
        {"text/richtext", {"rtx", "rtf"}},
        {"text/x-java-source", {"java"}},
        {"text/css", {"css"}},
        {"video/mpeg", {"mpeg", "mpg", "mpe"}},
        {"video/msvideo", {"avi"}},
        {"video/quicktime", {"mov", "qt"}},
        {"wwwserver/html-ssi", {"shtml"}},
        {"wwwserver/isapi", {"asa", "asp", "cfm", "dbm", "isa", "plx", "url", "cgi", "php", "wcgi"}},
    };
    MimeMap map;
    for (const auto& row : TABLE) {
        for (const char* extension : row.extensions) {
            if (extension) map[extension] = row.type;
        }
    }
    return map;
}

const std::string& ContentTypeForPath(const MimeMap& map, const std::string& path)
{
    static const std::string defaultType = DEFAULT_CONTENT_TYPE;
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos) return defaultType;
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    auto found = map.find(extension);
    return found == map.end() ? defaultType : found->second;
}
