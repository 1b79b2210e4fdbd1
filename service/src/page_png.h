// A page file (TIFF or bitmap, as the driver writes them) as a PNG picture
// for browsers, which do not show Group 4 TIFF.
#pragma once

#include <string>

namespace orvoscand {

// Bilevel pages become 1-bit gray PNG, gray pages 8-bit gray PNG. False with
// the reason in *error.
bool PagePng(const std::string& pagePath, std::string* png, std::string* error);

}  // namespace orvoscand
