#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "cli/events.h"

// The pieces every JSON line of zelk-cli is written with, so that an event and a summary's row
// say the same thing the same way. Keys stay in the order written.
namespace ZELKUtil::Cli::JsonFields {

using Json = nlohmann::ordered_json;

// A text field, left out when empty: no line carries "".
void PutText(Json& object, const char* key, const std::string& text);
// What a found box told of itself, its port aside.
void PutFound(Json& object, const Events::Found& found);
// The object on one line; text that is not UTF-8 (a box may send any byte) gets replacement
// characters rather than stopping the output.
std::string Dump(const Json& object);

}  // namespace ZELKUtil::Cli::JsonFields
