#include "telemetry/events.h"

#include <nlohmann/json.hpp>

#include "system/ascii_text.h"
#include "system/json_text.h"
#include "system/web_address.h"

namespace tessaryn {

namespace {

using nlohmann::json;

uint32_t styleForIcon(const std::string& iconType) {
    if (iconType == "error") return kStyleError;
    if (iconType == "warning") return kStyleWarning;
    if (iconType == "info") return kStyleInfo;
    if (iconType == "question") return kStyleQuestion;
    return kStylePlain;
}

// Appends `text` as a JSON string, escaped the way json::dump escapes without ensure_ascii.
// Invalid UTF-8 must not throw out of an event: each maximal broken part becomes one U+FFFD,
// as with error_handler_t::replace.
void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            const char c = text[i++];
            switch (c) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\b': out += "\\b"; break;
                case '\t': out += "\\t"; break;
                case '\n': out += "\\n"; break;
                case '\f': out += "\\f"; break;
                case '\r': out += "\\r"; break;
                default:
                    if (lead < 0x20) {
                        out += "\\u00" + lowerHex(&lead, 1);
                    } else {
                        out += c;
                    }
            }
            continue;
        }
        // Length and allowed second byte exclude overlong forms, surrogates and > U+10FFFF.
        size_t continuation = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            continuation = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            continuation = 2;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            continuation = 3;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        size_t length = 1;
        while (length <= continuation && i + length < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + length]);
            if (next < low || next > high) break;
            low = 0x80;
            high = 0xBF;
            ++length;
        }
        // A byte that breaks a sequence starts the next character.
        if (continuation > 0 && length == continuation + 1)
            out.append(text.substr(i, length));
        else
            out += "\xEF\xBF\xBD";
        i += length;
    }
    out += '"';
}

}  // namespace

std::string metricBody(int32_t event, const std::string& nonce, const std::string& productName,
                       const std::string& machineId, int32_t source,
                       const std::string& system, const std::string& version,
                       const char* scope) {
    // Written by hand: nlohmann's serializer (with its number formatting) would be the only
    // one in the setup. Keys in sorted order, compact, like json::dump.
    std::string body = "{\"event\":" + std::to_string(event) + ",\"nonce\":";
    appendJsonString(body, nonce);
    body += ",\"prod\":";
    appendJsonString(body, productName);
    if (scope) body += std::string(",\"scope\":\"") + scope + '"';
    if (source >= 0) body += ",\"src\":" + std::to_string(source);
    if (!system.empty()) {
        body += ",\"sys\":";
        appendJsonString(body, system);
    }
    body += ",\"uuid\":";
    appendJsonString(body, machineId);
    if (!version.empty()) {
        body += ",\"ver\":";
        appendJsonString(body, version);
    }
    body += '}';
    return body;
}

AnswerActions interpretAnswer(std::string_view answer, bool silent) {
    AnswerActions actions;
    json reply = parseJsonText(answer);
    if (reply.is_discarded() || !reply.is_object()) return actions;

    auto url = reply.find("url");
    if (url != reply.end() && url->is_string() && isWebAddress(url->get_ref<const std::string&>()))
        actions.openUrl = url->get<std::string>();

    auto message = reply.find("msg");
    if (message != reply.end() && message->is_string() && !silent) {
        auto icon = reply.find("icon_type");
        uint32_t style = kStyleInfo;
        if (icon != reply.end()) {
            // A present icon type of the wrong kind ends the handling here.
            if (!icon->is_string()) return actions;
            style = styleForIcon(icon->get<std::string>());
        }
        auto title = reply.find("title");
        actions.showMessage = true;
        actions.message = message->get<std::string>();
        actions.title =
            title != reply.end() && title->is_string() ? title->get<std::string>() : "Message";
        actions.style = style;
    }

    auto action = reply.find("action");
    actions.exitProcess = action != reply.end() && action->is_number_integer() && *action == 1;
    return actions;
}

}  // namespace tessaryn
