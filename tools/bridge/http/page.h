#pragma once

// Files built into lumidex-bridge at build time (cmake/embed_files.cmake):
// the web page's files with the seven-segment font, and the API's OpenAPI
// document.
#include <span>
#include <string_view>

namespace lumidex {

struct EmbeddedFile {
    std::string_view name; // "index.html", "dseg7.ttf"
    std::string_view bytes;
};

// Every file of tools/bridge/web/ and the DSEG7 font, by name.
std::span<const EmbeddedFile> PageFiles();

// The OpenAPI 3.1 document of the HTTP API (tools/bridge/http_openapi.json).
std::span<const EmbeddedFile> ApiDocuments();

} // namespace lumidex
