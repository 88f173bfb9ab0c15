// Text in XML and HTML: escaped, with the characters that XML 1.0 does not
// allow replaced by U+FFFD.
#pragma once

#include <string>
#include <string_view>

// For attribute values: quotes, tabs and line breaks escaped too.
std::string escape_markup(std::string_view utf8);

// For element content: tabs and line breaks kept as they are.
std::string escape_text(std::string_view utf8);
