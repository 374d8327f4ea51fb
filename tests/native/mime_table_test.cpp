// The content types by extension: the table and the lookup on the raw path.
#include "server/mime_table.h"

#include <gtest/gtest.h>

namespace {

TEST(MimeTable, SeventyFiveEntries)
{
    EXPECT_EQ(75u, BuildMimeMap().size());
}

TEST(MimeTable, ExtensionOfTheRawPath)
{
    MimeMap map = BuildMimeMap();
    struct Case {
        const char* path;
        const char* type;
    };
    const Case cases[] = {
        {"/a/b.PNG", "image/png"},
        {"/a/b.Js", "application/x-javascript"},
        {"/x.rtf", "text/richtext"},
        {"/x.arj", "application/x-compressed"},
        {"/x/Data.JSON", "text/html"},
        {"/x/readme.TXT", "text/plain"},
        {"/x.webp", "text/html"},
        {"/x.mp4", "text/html"},
        {"/x.woff", "text/html"},
        {"/x.", "text/html"},
        {"/a.png?v=2", "text/html"},
        {"/v1.2/file", "text/html"},
        {"/", "text/html"},
        {"/game.xml", "text/xml; charset=UTF-8"},
        {"/level.asset", "text/plain; charset=utf-8"},
        {"/m.MP", "text/plain; charset=utf-8"},
        {"/a.wcgi", "wwwserver/isapi"},
        {"/a.js\r\n\r\n", "text/html"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.type, ContentTypeForPath(map, c.path)) << c.path;
}

}  // namespace
