// The live page served at "/": one self-contained HTML document with its script, no build
// step and nothing fetched from elsewhere. It reads the JSON API and refreshes itself.
#pragma once

namespace CorvaneSDK {
namespace Collector {

// Static text; immutable.
const char* LivePageHtml();

}  // namespace Collector
}  // namespace CorvaneSDK
