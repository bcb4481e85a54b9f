#pragma once
// Reading a JSON text into a document without exceptions.

#include <string_view>

#include <nlohmann/json.hpp>

namespace tessaryn {

// The document of `text`, or a discarded value when the text is not one complete JSON value.
// Drives the parser with the plain DOM builder itself: json::parse would also instantiate the
// builder with a callback, and json::sax_parse the readers of every binary format, which the
// setup never uses and which cost it several KB.
inline nlohmann::json parseJsonText(std::string_view text) {
    using Adapter = decltype(nlohmann::detail::input_adapter(text));
    nlohmann::json document;
    nlohmann::detail::json_sax_dom_parser<nlohmann::json> builder(document,
                                                                  /*allow_exceptions_=*/false);
    nlohmann::detail::parser<nlohmann::json, Adapter>(nlohmann::detail::input_adapter(text))
        .sax_parse(&builder, /*strict=*/true);
    if (builder.is_errored()) document = nlohmann::json::value_t::discarded;
    return document;
}

}  // namespace tessaryn
