#include "telemetry/events.h"

#include <nlohmann/json.hpp>

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

}  // namespace

std::string metricBody(int32_t event, const std::string& productName,
                       const std::string& machineId) {
    // nlohmann's object keeps its keys sorted, which gives event, prod, uuid.
    json body = {{"event", event}, {"prod", productName}, {"uuid", machineId}};
    // Invalid UTF-8 in a name must not throw out of an event; it is replaced instead.
    return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

AnswerActions interpretAnswer(std::string_view answer, bool silent) {
    AnswerActions actions;
    json reply = json::parse(answer, nullptr, false);
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
