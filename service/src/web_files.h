// The web files built into orvoscand (generated from service/web/).
#pragma once

#include <string_view>

namespace orvoscand {

extern const std::string_view kClientScript;  // orvoscan.js
extern const std::string_view kDemoPage;      // index.html
extern const std::string_view kDemoScript;    // demo.js

}  // namespace orvoscand
